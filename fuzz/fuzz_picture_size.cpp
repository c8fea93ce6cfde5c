// The scans that find a picture's size in a JPEG's SOF0 segment and in an
// H.264 sequence parameter set.

#include "storage/picture_size.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (auto jpeg = qm::JpegSof0Size(data, size))
        if (jpeg->width < 0 || jpeg->height < 0) __builtin_trap();
    if (auto sps = qm::H264SpsSize(data, size))
        if (sps->width < 0 || sps->height < 0) __builtin_trap();
    return 0;
}
