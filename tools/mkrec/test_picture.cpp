#include "tools/mkrec/test_picture.h"

#include "tools/mkrec/bitmap_font.h"
#include "tools/mkrec/frame_pattern.h"

#include <algorithm>
#include <cstdio>

namespace qm::mkrec {
namespace {

constexpr int kCaptionScale = 2;

void fillRect(uint8_t* plane, int stride, int w, int h, int x0, int y0, int rw, int rh,
              uint8_t value) {
    int x1 = std::min(w, x0 + rw), y1 = std::min(h, y0 + rh);
    for (int y = std::max(0, y0); y < y1; ++y)
        std::fill(plane + size_t(y) * stride + std::max(0, x0), plane + size_t(y) * stride + x1,
                  value);
}

} // namespace

std::string captionFor(const std::string& title, uint32_t frame) {
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s  #%06u", title.c_str(), frame);
    return buf;
}

void drawTestPicture(Picture& p, int channel, uint32_t frame, const std::string& title) {
    const int w = p.width, h = p.height;
    // Background: a diagonal ramp that drifts two pixels a frame, in mid tones
    // so that the black and white stamp stands out.
    for (int y = 0; y < h; ++y) {
        uint8_t* row = p.y.data() + size_t(y) * w;
        for (int x = 0; x < w; ++x)
            row[x] = uint8_t(60 + ((x + y + 2 * int(frame)) % 256) / 2);
    }
    // A square that crosses the picture, for motion the encoder must follow.
    const int side = std::max(16, std::min(w, h) / 6);
    const int travel = std::max(1, w - side);
    int sx = int((frame * 4u) % uint32_t(2 * travel));
    if (sx >= travel) sx = 2 * travel - sx;
    fillRect(p.y.data(), w, w, h, sx, h - side - 8, side, side, 220);

    // Each channel gets its own tint.
    const uint8_t u = uint8_t(128 + ((channel * 29) % 64) - 32);
    const uint8_t v = uint8_t(128 + ((channel * 47) % 64) - 32);
    std::fill(p.u.begin(), p.u.end(), u);
    std::fill(p.v.begin(), p.v.end(), v);
    drawStampAndCaption(p, channel, frame, title);
}

void drawStampAndCaption(Picture& p, int channel, uint32_t frame, const std::string& title) {
    const int w = p.width, h = p.height, cw = w / 2, ch = h / 2;
    // Neutral chroma under the stamp and the caption keeps them pure grey levels.
    const std::string caption = captionFor(title, frame);
    const int textWidth = int(caption.size()) * (kGlyphWidth + 1) * kCaptionScale;
    const int captionTop = kPatternTop + kPatternHeight + 8;
    const int captionHeight = kGlyphHeight * kCaptionScale + 8;
    const int greyWidth = (kPatternLeft + std::max(kPatternWidth, textWidth) + 8) / 2 + 1;
    const int greyHeight = (captionTop + captionHeight) / 2 + 1;
    fillRect(p.u.data(), cw, cw, ch, 0, 0, greyWidth, greyHeight, 128);
    fillRect(p.v.data(), cw, cw, ch, 0, 0, greyWidth, greyHeight, 128);

    drawPattern(p.y.data(), w, w, h, {channel, frame});
    fillRect(p.y.data(), w, w, h, kPatternLeft - 4, captionTop - 4, textWidth + 8, captionHeight,
             16);
    drawText(p.y.data(), w, w, h, kPatternLeft, captionTop, kCaptionScale, caption, 235);
}

} // namespace qm::mkrec
