#pragma once
// The machine-readable stamp in every generated picture: a grid of 16 x 16
// luma cells, black or white, carrying the channel and the frame number. Cells
// that size sit on macroblock boundaries and survive heavy compression, so a
// test can tell from a decoded picture which frame it is looking at.

#include <cstdint>
#include <optional>

namespace qm::mkrec {

struct PatternContent {
    int channel = 0;    // 0..31
    uint32_t frame = 0; // 0..(1 << 20) - 1
    bool operator==(const PatternContent&) const = default;
};

constexpr int kPatternCell = 16;
constexpr int kPatternLeft = 16;
constexpr int kPatternTop = 16;
constexpr int kPatternColumns = 8;
constexpr int kPatternRows = 5;
constexpr int kPatternWidth = kPatternColumns * kPatternCell;
constexpr int kPatternHeight = kPatternRows * kPatternCell;
constexpr uint32_t kPatternMaxFrame = (1u << 20) - 1;

// Draws the stamp into a luma plane; frame numbers wrap at 2^20.
// Pictures smaller than the stamp's extent are left untouched.
void drawPattern(uint8_t* yPlane, int stride, int width, int height, PatternContent content);

// Reads the stamp back; nullopt when the picture carries none (or a damaged one).
std::optional<PatternContent> decodePattern(const uint8_t* yPlane, int stride, int width,
                                            int height);

} // namespace qm::mkrec
