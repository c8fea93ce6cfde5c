// The conversions of decoded 4:2:0 pictures: edge values, agreement of the
// vector versions with the scalar reference, layouts, odd sizes, orientation.

#include "codec/color_convert.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace qm {
namespace {

struct Planes {
    int width, height, yStride, cStride;
    std::vector<uint8_t> y, u, v;
    Planes(int w, int h, uint32_t seed) : width(w), height(h) {
        yStride = w + 5; // strides wider than the picture, as decoders give them
        cStride = (w + 1) / 2 + 3;
        y.resize(size_t(yStride) * h);
        u.resize(size_t(cStride) * ((h + 1) / 2));
        v.resize(u.size());
        std::mt19937 rng(seed);
        for (auto* p : {&y, &u, &v})
            for (auto& b : *p)
                b = uint8_t(rng());
    }
    Planes(int w, int h, uint8_t yv, uint8_t uv, uint8_t vv) : Planes(w, h, 0u) {
        std::fill(y.begin(), y.end(), yv);
        std::fill(u.begin(), u.end(), uv);
        std::fill(v.begin(), v.end(), vv);
    }
    YuvPlanes view() const { return {y.data(), u.data(), v.data(), yStride, cStride}; }
};

std::vector<uint8_t> convert(const Planes& p, int type, ConvertImpl impl, int height = 0) {
    // One guard byte past the end catches writes beyond width x height.
    std::vector<uint8_t> out(size_t(p.width) * p.height * OutputBytesPerPixel(type) + 1, 0xA5);
    ConvertYuv420(p.view(), out.data(), p.width, height ? height : p.height, type, impl);
    EXPECT_EQ(out.back(), 0xA5);
    out.pop_back();
    return out;
}

TEST(ColorConvert, StudioRangeBlackAndWhite) {
    for (ConvertImpl impl : {ConvertImpl::Scalar, ConvertImpl::Auto}) {
        auto black = convert(Planes(24, 2, 16, 128, 128), kOutputBGR0, impl);
        auto white = convert(Planes(24, 2, 235, 128, 128), kOutputBGR0, impl);
        for (size_t i = 0; i < black.size(); i += 4) {
            ASSERT_EQ(std::vector<uint8_t>(black.begin() + i, black.begin() + i + 4),
                      (std::vector<uint8_t>{0, 0, 0, 0}));
            ASSERT_EQ(std::vector<uint8_t>(white.begin() + i, white.begin() + i + 4),
                      (std::vector<uint8_t>{255, 255, 255, 0}));
        }
    }
    // Below-black luma clamps instead of wrapping.
    auto under = convert(Planes(8, 1, 3, 128, 128), kOutputBGR0, ConvertImpl::Scalar);
    EXPECT_EQ(under[0], 0);
}

TEST(ColorConvert, ScalarFollowsBt601WithinRounding) {
    // An independent floating-point reference; the fixed point may differ by
    // its truncations only.
    Planes p(37, 9, 7u);
    auto out = convert(p, kOutputBGR0, ConvertImpl::Scalar);
    int worst = 0;
    for (int r = 0; r < p.height; ++r)
        for (int x = 0; x < p.width; ++x) {
            const double y = 1.164 * std::max(0, p.y[r * p.yStride + x] - 16);
            const double u = p.u[(r / 2) * p.cStride + x / 2] - 128.0;
            const double v = p.v[(r / 2) * p.cStride + x / 2] - 128.0;
            const double bgr[3] = {y + 2.018 * u, y - 0.391 * u - 0.813 * v, y + 1.596 * v};
            for (int c = 0; c < 3; ++c) {
                const int want = int(std::clamp(bgr[c], 0.0, 255.0));
                worst = std::max(worst, std::abs(want - out[(r * p.width + x) * 4 + c]));
            }
            ASSERT_EQ(out[(r * p.width + x) * 4 + 3], 0);
        }
    EXPECT_LE(worst, 3);
}

// Each vector version on its own, so that one this processor cannot run shows
// as skipped.
class ColorConvertVector : public testing::TestWithParam<ConvertImpl> {};

TEST_P(ColorConvertVector, BitExactWithScalar) {
    const ConvertImpl impl = GetParam();
    if (!ConvertImplAvailable(impl)) GTEST_SKIP() << "this processor cannot run it";
    // Odd sizes make every vector kernel finish its row in the scalar tail.
    const int sizes[][2] = {{1, 1},  {7, 3},   {15, 5},   {17, 9},
                            {33, 7}, {63, 11}, {177, 13}, {352, 2}};
    uint32_t seed = 1;
    for (auto& s : sizes) {
        Planes p(s[0], s[1], seed++);
        for (int type : {kOutputYUY2, kOutputUYVY, kOutputBGR0}) {
            ASSERT_EQ(convert(p, type, impl), convert(p, type, ConvertImpl::Scalar))
                << "type " << type << " " << s[0] << "x" << s[1];
            ASSERT_EQ(convert(p, type, impl, -p.height),
                      convert(p, type, ConvertImpl::Scalar, -p.height));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, ColorConvertVector,
                         testing::Values(ConvertImpl::SSE2, ConvertImpl::AVX2),
                         [](const testing::TestParamInfo<ConvertImpl>& info) {
                             return info.param == ConvertImpl::SSE2 ? "SSE2" : "AVX2";
                         });

TEST(ColorConvert, PackedLayoutsInterleaveEveryPixelIncludingOddWidthTail) {
    // 19 pixels: one full 16-pixel step plus a tail of three.
    Planes p(19, 3, 11u);
    for (ConvertImpl impl : {ConvertImpl::Scalar, ConvertImpl::Auto}) {
        auto yuy2 = convert(p, kOutputYUY2, impl);
        auto uyvy = convert(p, kOutputUYVY, impl);
        for (int r = 0; r < p.height; ++r)
            for (int x = 0; x < p.width; ++x) {
                const uint8_t y = p.y[r * p.yStride + x];
                const auto& chroma = (x & 1) ? p.v : p.u;
                const uint8_t c = chroma[(r / 2) * p.cStride + x / 2];
                const size_t at = size_t(r * p.width + x) * 2;
                ASSERT_EQ(yuy2[at], y) << r << "," << x;
                ASSERT_EQ(yuy2[at + 1], c) << r << "," << x;
                ASSERT_EQ(uyvy[at], c) << r << "," << x;
                ASSERT_EQ(uyvy[at + 1], y) << r << "," << x;
            }
    }
}

TEST(ColorConvert, NegativeHeightWritesBottomUpAndOddWidthsConvertTheirLastPixel) {
    Planes p(13, 5, 23u);
    auto down = convert(p, kOutputBGR0, ConvertImpl::Auto);
    auto up = convert(p, kOutputBGR0, ConvertImpl::Auto, -p.height);
    const size_t row = size_t(p.width) * 4;
    for (int r = 0; r < p.height; ++r)
        EXPECT_TRUE(std::equal(down.begin() + r * row, down.begin() + (r + 1) * row,
                               up.begin() + (p.height - 1 - r) * row));
    // The last pixel of a 13-wide row: white luma gives a bright pixel, not the
    // untouched zero a whole-group-only conversion would leave.
    Planes white(13, 2, 235, 128, 128);
    auto out = convert(white, kOutputBGR0, ConvertImpl::Auto);
    EXPECT_EQ(out[12 * 4], 255);
    EXPECT_EQ(out[(13 + 12) * 4 + 2], 255);
}

} // namespace
} // namespace qm
