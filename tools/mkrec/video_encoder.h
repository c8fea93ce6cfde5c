#pragma once
// One channel's video encoder over libavcodec. Settings are fixed and the
// encoder runs on one thread, so the same pictures always give the same bytes.

#include "tools/mkrec/picture.h"
#include "tools/mkrec/recording_plan.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace qm::mkrec {

struct EncoderSettings {
    VideoCodec codec = VideoCodec::H264;
    int width = 0;
    int height = 0;
    int fps = 25;
    int quality = 0; // x264 CRF or MPEG-4/JPEG qscale; 0 = default
    // H.264 only: above 0, code as a recorder does (Main profile, CABAC,
    // deblocking) at this average rate instead of at constant quality.
    int bitrateKbps = 0;
};

struct EncodedPicture {
    std::vector<uint8_t> bytes; // H.264 in Annex B, MPEG-4 Part 2 or a JPEG picture
    bool key = false;
};

// Keeps libavcodec's informational chatter off stderr (errors still show).
void quietCodecLog();

class VideoEncoder {
public:
    // Throws std::runtime_error when the codec cannot be opened.
    explicit VideoEncoder(const EncoderSettings& settings);
    ~VideoEncoder();
    VideoEncoder(const VideoEncoder&) = delete;
    VideoEncoder& operator=(const VideoEncoder&) = delete;

    // Key frames come only where the caller asks for them. Every key frame of
    // H.264 carries its SPS and PPS; every MPEG-4 key frame its VOL header.
    EncodedPicture encode(const Picture& picture, bool key);

    const EncoderSettings& settings() const { return m_settings; }

private:
    struct Impl;
    EncoderSettings m_settings;
    std::unique_ptr<Impl> m_impl;
};

} // namespace qm::mkrec
