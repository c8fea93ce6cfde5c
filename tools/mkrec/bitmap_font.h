#pragma once
// A 5 x 7 pixel font for the human-readable caption of generated pictures:
// digits, capital letters (small letters are shown as capitals) and # - : . _

#include <cstdint>
#include <string_view>

namespace qm::mkrec {

constexpr int kGlyphWidth = 5;
constexpr int kGlyphHeight = 7;

// Rows of a glyph, top first, bit 4 = leftmost pixel; nullptr for characters
// the font lacks (they are drawn as blanks).
const uint8_t* glyphRows(char c);

// Draws text into a luma plane with each font pixel scaled to scale x scale,
// clipped to the plane. Returns the width in pixels the text takes.
int drawText(uint8_t* yPlane, int stride, int width, int height, int left, int top, int scale,
             std::string_view text, uint8_t value);

} // namespace qm::mkrec
