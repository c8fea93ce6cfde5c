#include "codec/mpeg4_header.h"

namespace qm {

namespace {

constexpr uint8_t kVopStart = 0xB6;
constexpr uint8_t kVosStart = 0xB0;

// Calls visit(code, position after the code) for each start code 00 00 01 xx
// until visit returns false.
template <typename Visit> void ForEachStartCode(const uint8_t* data, size_t size, Visit visit) {
    if (!data) return;
    for (size_t i = 0; i + 3 < size; ++i) {
        if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) {
            if (!visit(data[i + 3], i + 4)) return;
            i += 3;
        }
    }
}

} // namespace

std::array<uint8_t, kMpeg4HeaderBytes> Mpeg4StreamHeader(int width, int height) {
    std::array<uint8_t, kMpeg4HeaderBytes> header = {
        0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20, 0x02, 0x48, 0x0D, 0xC0, 0x00, 0x40, 0x00,
        0x40, 0x00, 0x40, 0x00, 0x80, 0x00, 0x97, 0x53, 0x0A, 0x2C, 0x08, 0x3C, 0x28, 0x8C, 0x1F};
    // Bytes 23..27 hold marker bits around the 13-bit width and height, then
    // the interlaced flag.
    const unsigned w = unsigned(width);
    const unsigned h = unsigned(height);
    header[23] = uint8_t((w >> 12) + 10);
    header[24] = uint8_t(w >> 4);
    header[25] = uint8_t(((w << 4) & 0xF0) | 8 | ((h >> 10) & 7));
    header[26] = uint8_t(h >> 2);
    header[27] = uint8_t(((h << 6) & 0xC0) + (height >= 480 ? 0x38 : 0x28));
    return header;
}

bool HasMpeg4StreamHeader(const uint8_t* data, size_t size) {
    bool found = false;
    ForEachStartCode(data, size, [&](uint8_t code, size_t) {
        if (code == kVopStart) return false;
        if (code <= 0x2F || code == kVosStart) {
            found = true;
            return false;
        }
        return true;
    });
    return found;
}

bool IsMpeg4KeyFrame(const uint8_t* data, size_t size) {
    bool key = false;
    ForEachStartCode(data, size, [&](uint8_t code, size_t next) {
        if (code != kVopStart) return true;
        key = next < size && (data[next] >> 6) == 0; // vop_coding_type 0: intra
        return false;
    });
    return key;
}

} // namespace qm
