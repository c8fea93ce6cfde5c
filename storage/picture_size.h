#pragma once
// Picture sizes read from the coded payload, for frames whose header does not
// carry a usable size (very large pictures, or recorders that leave it 0).

#include <cstddef>
#include <cstdint>
#include <optional>

namespace qm {

struct PictureSize {
    int width = 0;
    int height = 0;
};

// Scans a JPEG picture for its baseline start-of-frame (SOF0) segment.
std::optional<PictureSize> JpegSof0Size(const uint8_t* data, size_t size);

// Reads the H.264 sequence parameter set that follows the 4-byte start code at
// the payload's start. Cropping is not applied: the size is the coded size.
std::optional<PictureSize> H264SpsSize(const uint8_t* data, size_t size);

} // namespace qm
