#pragma once
// Everything one camera produces: its pictures, their coding and wrapping,
// its sound, and the frames built from them.

#include "tools/mkrec/camera_scene.h"
#include "tools/mkrec/frame_schedule.h"
#include "tools/mkrec/frame_writer.h"
#include "tools/mkrec/picture.h"
#include "tools/mkrec/recording_plan.h"
#include "tools/mkrec/tone_audio.h"
#include "tools/mkrec/video_encoder.h"

#include <memory>
#include <optional>
#include <string>

namespace qm::mkrec {

class ChannelStream {
public:
    ChannelStream(const RecordingPlan& plan, int channel);

    // Frames must be asked for in schedule order.
    SerializedFrame produce(const ScheduledFrame& when);
    int channel() const { return m_channel; }

private:
    const RecordingPlan& m_plan;
    int m_channel;
    std::string m_title;
    std::unique_ptr<VideoEncoder> m_encoder;
    Picture m_picture;
    std::unique_ptr<CameraScene> m_scene; // camera content, for the current size
    std::optional<ToneTrack> m_audio;
    uint32_t m_keyFrames = 0;
};

} // namespace qm::mkrec
