#include "tools/mkrec/channel_stream.h"

#include "tools/mkrec/chip_wrapping.h"
#include "tools/mkrec/test_picture.h"

#include <stdexcept>

namespace qm::mkrec {

ChannelStream::ChannelStream(const RecordingPlan& plan, int channel)
    : m_plan(plan), m_channel(channel), m_title(plan.titleFor(channel)) {
    if (auto it = plan.audio.find(channel); it != plan.audio.end()) m_audio.emplace(it->second);
}

SerializedFrame ChannelStream::produce(const ScheduledFrame& when) {
    const PictureSize size = m_plan.sizeAt(m_channel, when.secondAfterStart);
    if (!m_encoder || m_encoder->settings().width != size.width ||
        m_encoder->settings().height != size.height) {
        // A new picture size needs a new stream, which starts with a key frame.
        if (!when.key) throw std::logic_error("picture size changed without a key frame");
        m_encoder = std::make_unique<VideoEncoder>(
            EncoderSettings{m_plan.codec, size.width, size.height, m_plan.fps, m_plan.quality,
                            m_plan.bitrateKbpsFor(size)});
        m_picture = Picture(size.width, size.height);
        if (m_plan.content == PictureContent::Camera)
            m_scene = std::make_unique<CameraScene>(size.width, size.height, m_channel, m_plan.fps);
    }
    const uint32_t frameNumber = uint32_t(when.tick);
    if (m_scene) {
        m_scene->draw(m_picture, frameNumber);
        drawStampAndCaption(m_picture, m_channel, frameNumber, m_title);
    } else {
        drawTestPicture(m_picture, m_channel, frameNumber, m_title);
    }
    EncodedPicture coded = m_encoder->encode(m_picture, when.key);
    if (when.key) ++m_keyFrames;

    FrameContent f;
    f.channel = m_channel;
    f.time = when.time;
    f.milliseconds = when.milliseconds;
    f.timeZone = m_plan.timeZone;
    f.key = when.key;
    f.mjpeg = m_plan.codec == VideoCodec::MJPG;
    f.width = size.width;
    f.height = size.height;
    f.sequence = frameNumber;
    f.index = uint16_t(m_keyFrames - 1); // which key-frame run the frame belongs to
    f.video = wrapVideo(m_plan.codec, coded.bytes, {frameNumber, size.width, size.height, f.key});
    if (m_audio) {
        if (when.afterGap) m_audio->skipToFrame(when.tick, m_plan.fps);
        f.audioType = m_audio->type();
        f.audio = m_audio->takeForFrame(when.tick, m_plan.fps);
    }
    f.title = m_title;
    return serializeFrame(f, m_plan.bigEndian());
}

} // namespace qm::mkrec
