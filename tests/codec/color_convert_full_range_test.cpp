// Type 3 conversion of full-range (JPEG) 4:2:0 pictures, read directly: the
// range ends, agreement with a floating-point reference, and the vector
// versions bit-exact with the scalar one.

#include "codec/color_convert.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <random>
#include <vector>

namespace qm {
namespace {

struct FullPlanes {
    int width, height, yStride, cStride;
    std::vector<uint8_t> y, u, v;
    FullPlanes(int w, int h, uint32_t seed) : width(w), height(h) {
        yStride = w + 3;
        cStride = (w + 1) / 2 + 1;
        y.resize(size_t(yStride) * h);
        u.resize(size_t(cStride) * ((h + 1) / 2));
        v.resize(u.size());
        std::mt19937 rng(seed);
        for (auto* p : {&y, &u, &v})
            for (auto& b : *p)
                b = uint8_t(rng());
    }
    std::vector<uint8_t> Convert(ConvertImpl impl) const {
        std::vector<uint8_t> out(size_t(width) * height * 4 + 1, 0xA5);
        YuvPlanes planes{y.data(), u.data(), v.data(), yStride, cStride, true};
        ConvertYuv420(planes, out.data(), width, height, kOutputBGR0, impl);
        EXPECT_EQ(out.back(), 0xA5); // nothing written past the picture
        out.pop_back();
        return out;
    }
};

TEST(ColorConvertFullRange, EndsOfTheRangeAreBlackAndWhite) {
    FullPlanes p(19, 2, 1u);
    for (ConvertImpl impl : {ConvertImpl::Scalar, ConvertImpl::Auto}) {
        std::fill(p.u.begin(), p.u.end(), 128);
        std::fill(p.v.begin(), p.v.end(), 128);
        std::fill(p.y.begin(), p.y.end(), 0);
        for (uint8_t b : p.Convert(impl))
            ASSERT_EQ(b, 0);
        std::fill(p.y.begin(), p.y.end(), 255);
        const auto white = p.Convert(impl);
        for (size_t i = 0; i < white.size(); i += 4)
            ASSERT_EQ(std::vector<uint8_t>(white.begin() + i, white.begin() + i + 4),
                      (std::vector<uint8_t>{255, 255, 255, 0}));
        // Mid grey stays mid grey: no studio-range stretch.
        std::fill(p.y.begin(), p.y.end(), 100);
        EXPECT_EQ(p.Convert(impl)[0], 100);
    }
}

TEST(ColorConvertFullRange, FollowsTheJpegEquationsWithinRounding) {
    FullPlanes p(41, 7, 5u);
    const auto out = p.Convert(ConvertImpl::Scalar);
    int worst = 0;
    for (int r = 0; r < p.height; ++r)
        for (int x = 0; x < p.width; ++x) {
            const double y = p.y[r * p.yStride + x];
            const double u = p.u[(r / 2) * p.cStride + x / 2] - 128.0;
            const double v = p.v[(r / 2) * p.cStride + x / 2] - 128.0;
            const double bgr[3] = {y + 1.772 * u, y - 0.344136 * u - 0.714136 * v, y + 1.402 * v};
            for (int c = 0; c < 3; ++c) {
                const int want = int(std::clamp(bgr[c], 0.0, 255.0));
                worst = std::max(worst, std::abs(want - out[(r * p.width + x) * 4 + c]));
            }
        }
    EXPECT_LE(worst, 2);
}

// Each vector version on its own, so that one this processor cannot run shows
// as skipped.
class ColorConvertFullRangeVector : public testing::TestWithParam<ConvertImpl> {};

TEST_P(ColorConvertFullRangeVector, BitExactWithScalar) {
    const ConvertImpl impl = GetParam();
    if (!ConvertImplAvailable(impl)) GTEST_SKIP() << "this processor cannot run it";
    uint32_t seed = 11;
    for (auto [w, h] : {std::pair{1, 1}, {15, 3}, {17, 4}, {33, 5}, {177, 9}}) {
        FullPlanes p(w, h, seed++);
        ASSERT_EQ(p.Convert(impl), p.Convert(ConvertImpl::Scalar)) << w << "x" << h;
    }
}

INSTANTIATE_TEST_SUITE_P(Versions, ColorConvertFullRangeVector,
                         testing::Values(ConvertImpl::SSE2, ConvertImpl::AVX2),
                         [](const testing::TestParamInfo<ConvertImpl>& info) {
                             return info.param == ConvertImpl::SSE2 ? "SSE2" : "AVX2";
                         });

} // namespace
} // namespace qm
