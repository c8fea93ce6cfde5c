#include "tools/mkrec/recording_plan.h"

#include "storage/record_layout.h"

#include <algorithm>
#include <cstdio>

namespace qm::mkrec {

uint32_t RecordingPlan::channelMask() const {
    uint32_t mask = 0;
    for (int c : channels)
        mask |= 1u << c;
    return mask;
}

int RecordingPlan::keyInterval() const {
    const int interval = gop > 0 ? gop : fps;
    // libavcodec's MPEG-4 encoder inserts a key frame of its own after 600
    // pictures at the latest.
    return codec == VideoCodec::SOLO ? std::min(interval, kMpeg4MaxKeyInterval) : interval;
}

PictureSize RecordingPlan::sizeAt(int channel, uint32_t secondAfterStart) const {
    PictureSize size = defaultSize;
    if (auto it = channelSizes.find(channel); it != channelSizes.end()) size = it->second;
    for (const SizeChange& change : sizeChanges)
        if (secondAfterStart >= change.atSecond) size = change.size;
    return size;
}

std::string RecordingPlan::titleFor(int channel) const {
    // The format comes from our own command line and takes one camera number.
    char buf[64];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buf, sizeof buf, titleFormat.c_str(), channel + 1);
#pragma GCC diagnostic pop
    return buf;
}

int RecordingPlan::bitrateKbpsFor(PictureSize size) const {
    if (content != PictureContent::Camera || !codedAsH264(codec)) return 0;
    return bitrateKbps > 0 ? bitrateKbps : defaultBitrateKbps(size);
}

bool codedAsH264(VideoCodec codec) {
    return codec != VideoCodec::SOLO && codec != VideoCodec::MJPG;
}

int defaultBitrateKbps(PictureSize size) {
    constexpr int64_t kD1 = 704 * 576, kFullHd = 1920 * 1080;
    const int64_t pixels = int64_t(size.width) * size.height;
    if (pixels <= kD1) return 1000;
    if (pixels >= kFullHd) return int(4000 * pixels / kFullHd);
    return int(1000 + 3000 * (pixels - kD1) / (kFullHd - kD1));
}

uint8_t codecByte(VideoCodec codec) {
    switch (codec) {
    case VideoCodec::SOLO:
        return kCodecByteSOLO;
    case VideoCodec::HISI:
        return kCodecByteHISI;
    case VideoCodec::STCH:
        return kCodecByteSTCH;
    case VideoCodec::STHD:
        return kCodecByteSTHD;
    case VideoCodec::MJPG:
        return kCodecByteMJPG;
    case VideoCodec::H264:
        break;
    }
    return kCodecByteH264;
}

const char* codecName(VideoCodec codec) {
    switch (codec) {
    case VideoCodec::SOLO:
        return "SOLO";
    case VideoCodec::HISI:
        return "HISI";
    case VideoCodec::STCH:
        return "STCH";
    case VideoCodec::STHD:
        return "STHD";
    case VideoCodec::MJPG:
        return "MJPG";
    case VideoCodec::H264:
        break;
    }
    return "H264";
}

} // namespace qm::mkrec
