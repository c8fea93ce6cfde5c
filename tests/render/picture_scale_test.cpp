// The bilinear scaler behind the renderer: exact at 1:1, edge pixels repeated
// rather than read past, clipping to the surface, and blends between pixels.

#include "render/picture_scale.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

namespace qm {
namespace {

uint32_t Bgrx(uint8_t b, uint8_t g, uint8_t r, uint8_t x = 0x5A) {
    return uint32_t(b) | uint32_t(g) << 8 | uint32_t(r) << 16 | uint32_t(x) << 24;
}

struct Surface {
    Surface(int w, int h) : width(w), height(h), pixels(size_t(w) * h, 0x01020304u) {}
    ScaleTarget Target() {
        return {reinterpret_cast<uint8_t*>(pixels.data()), size_t(width) * 4, width, height};
    }
    uint32_t At(int x, int y) const { return pixels[size_t(y) * width + x]; }
    int width, height;
    std::vector<uint32_t> pixels;
};

// The source is allocated to its exact size, so a read past the last pixel is
// caught by the address sanitizer.
struct Picture {
    Picture(int w, int h) : width(w), height(h), pixels(size_t(w) * h) {}
    ScaleSource Source() const {
        return {reinterpret_cast<const uint8_t*>(pixels.data()), size_t(width) * 4, width, height};
    }
    int width, height;
    std::vector<uint32_t> pixels;
};

TEST(PictureScaleTest, OneToOneCopiesExactlyAndMakesPixelsOpaque) {
    Picture p(37, 5);
    for (size_t i = 0; i < p.pixels.size(); ++i)
        p.pixels[i] = Bgrx(uint8_t(i * 7), uint8_t(i * 13), uint8_t(i * 31));
    Surface s(50, 10);
    ScaleBilinear(p.Source(), s.Target(), 3, 2, 40, 7);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 37; ++x)
            ASSERT_EQ(s.At(3 + x, 2 + y), (p.pixels[size_t(y) * 37 + x] & 0xFFFFFFu) | 0xFF000000u)
                << x << "," << y;
    EXPECT_EQ(s.At(2, 2), 0x01020304u); // outside the rectangle: untouched
    EXPECT_EQ(s.At(40, 6), 0x01020304u);
    EXPECT_EQ(s.At(3, 7), 0x01020304u);
    // Hanging over the surface's left and bottom edges: the part on it.
    Surface clipped(30, 4);
    ScaleBilinear(p.Source(), clipped.Target(), -4, 1, 33, 6);
    for (int y = 1; y < 4; ++y)
        for (int x = 0; x < 30; ++x)
            ASSERT_EQ(clipped.At(x, y),
                      (p.pixels[size_t(y - 1) * 37 + size_t(x + 4)] & 0xFFFFFFu) | 0xFF000000u)
                << x << "," << y;
    EXPECT_EQ(clipped.At(0, 0), 0x01020304u);
}

TEST(PictureScaleTest, SolidPicturesStaySolidAtAnyScale) {
    Picture p(704, 480);
    std::fill(p.pixels.begin(), p.pixels.end(), Bgrx(10, 200, 90));
    for (auto [w, h] : {std::pair{245, 148}, {1018, 628}, {1, 1}, {703, 481}}) {
        Surface s(1030, 640);
        ScaleBilinear(p.Source(), s.Target(), 0, 0, w, h);
        for (int y = 0; y < h; y += std::max(1, h / 7))
            for (int x = 0; x < w; x += std::max(1, w / 9))
                ASSERT_EQ(s.At(x, y), Bgrx(10, 200, 90, 0xFF)) << w << "x" << h << " " << x;
    }
}

TEST(PictureScaleTest, UpscaledEdgesRepeatTheEdgePixelsAndTheMiddleBlends) {
    // Black then white; four times as wide and tall.
    Picture p(2, 2);
    p.pixels = {Bgrx(0, 0, 0), Bgrx(255, 255, 255), Bgrx(0, 0, 0), Bgrx(255, 255, 255)};
    Surface s(8, 8);
    ScaleBilinear(p.Source(), s.Target(), 0, 0, 8, 8);
    for (int y = 0; y < 8; ++y) {
        EXPECT_EQ(s.At(0, y), 0xFF000000u);
        EXPECT_EQ(s.At(1, y), 0xFF000000u);
        EXPECT_EQ(s.At(6, y), 0xFFFFFFFFu);
        EXPECT_EQ(s.At(7, y), 0xFFFFFFFFu);
        // Between the centres the values rise strictly.
        for (int x = 2; x < 6; ++x)
            EXPECT_LT(s.At(x, y) & 0xFF, s.At(x + 1, y) & 0xFF) << x;
    }
    // Centre of the picture: half way.
    EXPECT_NEAR(int(s.At(4, 4) & 0xFF), 159, 1); // (4.5 / 4 - 0.5) = 0.625 of white
}

TEST(PictureScaleTest, ChannelsBlendIndependently) {
    Picture p(2, 1);
    p.pixels = {Bgrx(255, 0, 100), Bgrx(0, 255, 100)};
    Surface s(3, 1);
    ScaleBilinear(p.Source(), s.Target(), 0, 0, 3, 1);
    const uint32_t mid = s.At(1, 0);
    EXPECT_EQ(mid & 0xFF, 128u - 1); // blue 255 -> 0 at half way, weights of 256
    EXPECT_EQ((mid >> 8) & 0xFF, 127u);
    EXPECT_EQ((mid >> 16) & 0xFF, 100u); // red equal on both sides
    EXPECT_EQ(mid >> 24, 0xFFu);
}

TEST(PictureScaleTest, RectanglesPartlyOutsideTheSurfaceAreClipped) {
    Picture p(16, 16);
    std::fill(p.pixels.begin(), p.pixels.end(), Bgrx(1, 2, 3));
    Surface s(10, 10);
    ScaleBilinear(p.Source(), s.Target(), -5, -5, 20, 20);
    for (uint32_t v : s.pixels)
        ASSERT_EQ(v, Bgrx(1, 2, 3, 0xFF));
    Surface t(10, 10);
    ScaleBilinear(p.Source(), t.Target(), 10, 0, 30, 10); // wholly to the right
    ScaleBilinear(p.Source(), t.Target(), 0, -20, 10, 0); // wholly above
    ScaleBilinear(p.Source(), t.Target(), 5, 5, 5, 9);    // empty
    for (uint32_t v : t.pixels)
        ASSERT_EQ(v, 0x01020304u);
}

TEST(PictureScaleTest, NothingHappensWithoutPixels) {
    Surface s(4, 4);
    ScaleBilinear(ScaleSource{}, s.Target(), 0, 0, 4, 4);
    Picture p(2, 2);
    ScaleBilinear(p.Source(), ScaleTarget{}, 0, 0, 4, 4);
    for (uint32_t v : s.pixels)
        ASSERT_EQ(v, 0x01020304u);
}

TEST(PictureScaleTest, NearestShowsEachPixelAsASquareAndClips) {
    // 2 x 2 pixels enlarged 3 times: every target pixel is one source pixel,
    // never a blend, and the rectangle partly off the surface is clipped.
    Picture picture(2, 2);
    picture.pixels = {Bgrx(10, 0, 0), Bgrx(20, 0, 0), Bgrx(30, 0, 0), Bgrx(40, 0, 0)};
    Surface surface(5, 6);
    ScaleNearest(picture.Source(), surface.Target(), -1, 0, 5, 6);
    for (int y = 0; y < 6; ++y)
        for (int x = 0; x < 5; ++x) {
            const int sx = (x + 1) / 3, sy = y / 3;
            const uint32_t want = (picture.pixels[size_t(sy * 2 + sx)] & 0x00FFFFFFu) | 0xFF000000u;
            EXPECT_EQ(surface.At(x, y), want) << x << "," << y;
        }
}

} // namespace
} // namespace qm
