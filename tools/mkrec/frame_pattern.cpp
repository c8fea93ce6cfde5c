#include "tools/mkrec/frame_pattern.h"

#include <array>

namespace qm::mkrec {
namespace {

constexpr int kCells = kPatternColumns * kPatternRows;
// Fixed cells that tell a stamp from a picture that merely has dark and light
// areas: 6 at the front, 3 at the back.
constexpr std::array<bool, 6> kLeadMarker = {true, true, false, true, false, false};
constexpr std::array<bool, 3> kTailMarker = {false, true, false};
constexpr int kChannelBits = 5;
constexpr int kFrameBits = 20;
constexpr int kCheckBits = 6;
static_assert(kLeadMarker.size() + kChannelBits + kFrameBits + kCheckBits + kTailMarker.size() ==
              kCells);

constexpr uint8_t kBlack = 16;
constexpr uint8_t kWhite = 235;

uint32_t checkBits(PatternContent c) {
    uint32_t x = uint32_t(c.channel) * 37u ^ 0x2Au;
    for (uint32_t f = c.frame; f; f >>= kCheckBits)
        x ^= f & 63u;
    return (x + uint32_t(c.channel)) & 63u;
}

std::array<bool, kCells> layout(PatternContent c) {
    std::array<bool, kCells> bits{};
    int i = 0;
    for (bool b : kLeadMarker)
        bits[i++] = b;
    for (int k = kChannelBits - 1; k >= 0; --k)
        bits[i++] = (c.channel >> k) & 1;
    for (int k = kFrameBits - 1; k >= 0; --k)
        bits[i++] = (c.frame >> k) & 1;
    uint32_t check = checkBits(c);
    for (int k = kCheckBits - 1; k >= 0; --k)
        bits[i++] = (check >> k) & 1;
    for (bool b : kTailMarker)
        bits[i++] = b;
    return bits;
}

bool fits(int width, int height) {
    return width >= kPatternLeft + kPatternWidth && height >= kPatternTop + kPatternHeight;
}

} // namespace

void drawPattern(uint8_t* yPlane, int stride, int width, int height, PatternContent content) {
    if (!fits(width, height)) return;
    content.channel &= 31;
    content.frame &= kPatternMaxFrame;
    auto bits = layout(content);
    for (int cell = 0; cell < kCells; ++cell) {
        int x0 = kPatternLeft + (cell % kPatternColumns) * kPatternCell;
        int y0 = kPatternTop + (cell / kPatternColumns) * kPatternCell;
        uint8_t value = bits[cell] ? kWhite : kBlack;
        for (int y = 0; y < kPatternCell; ++y)
            for (int x = 0; x < kPatternCell; ++x)
                yPlane[size_t(y0 + y) * stride + x0 + x] = value;
    }
}

std::optional<PatternContent> decodePattern(const uint8_t* yPlane, int stride, int width,
                                            int height) {
    if (!yPlane || !fits(width, height) || stride < width) return std::nullopt;
    std::array<bool, kCells> bits{};
    for (int cell = 0; cell < kCells; ++cell) {
        // The centre of a cell: its edges are where ringing and blur land.
        int x0 = kPatternLeft + (cell % kPatternColumns) * kPatternCell + kPatternCell / 4;
        int y0 = kPatternTop + (cell / kPatternColumns) * kPatternCell + kPatternCell / 4;
        int sum = 0;
        for (int y = 0; y < kPatternCell / 2; ++y)
            for (int x = 0; x < kPatternCell / 2; ++x)
                sum += yPlane[size_t(y0 + y) * stride + x0 + x];
        bits[cell] = sum > 128 * (kPatternCell / 2) * (kPatternCell / 2);
    }
    int i = 0;
    for (bool b : kLeadMarker)
        if (bits[i++] != b) return std::nullopt;
    PatternContent c;
    for (int k = 0; k < kChannelBits; ++k)
        c.channel = (c.channel << 1) | int(bits[i++]);
    for (int k = 0; k < kFrameBits; ++k)
        c.frame = (c.frame << 1) | uint32_t(bits[i++]);
    uint32_t check = 0;
    for (int k = 0; k < kCheckBits; ++k)
        check = (check << 1) | uint32_t(bits[i++]);
    for (bool b : kTailMarker)
        if (bits[i++] != b) return std::nullopt;
    if (check != checkBits(c)) return std::nullopt;
    return c;
}

} // namespace qm::mkrec
