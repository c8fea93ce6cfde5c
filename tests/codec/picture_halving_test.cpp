// Halving a 4:2:0 picture: every sample the rounded mean of its 2 x 2 block,
// edges repeated on odd sizes, the same through the vector and the plain
// columns.

#include "codec/picture_halving.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace qm {
namespace {

struct Plane {
    int width, height, stride;
    std::vector<uint8_t> samples;
    Plane(int w, int h, uint32_t seed) : width(w), height(h), stride(w + 5) {
        samples.resize(size_t(stride) * h);
        for (uint8_t& s : samples) {
            seed = seed * 1664525u + 1013904223u;
            s = uint8_t(seed >> 24);
        }
    }
    int At(int x, int y) const {
        return samples[size_t(std::min(y, height - 1)) * stride + size_t(std::min(x, width - 1))];
    }
};

// The expected halving of one plane into w x h, read from the planes given.
void ExpectHalved(const Plane& in, const uint8_t* out, int outStride, int w, int h) {
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const int mean = (in.At(2 * x, 2 * y) + in.At(2 * x + 1, 2 * y) +
                              in.At(2 * x, 2 * y + 1) + in.At(2 * x + 1, 2 * y + 1) + 2) >>
                             2;
            ASSERT_EQ(out[size_t(y) * outStride + size_t(x)], mean) << x << "," << y;
        }
}

TEST(PictureHalving, EverySampleIsTheMeanOfItsBlockAtOddSizesTooAndTwiceOver) {
    // 77 wide: 38 luma and 19 chroma columns, past the vector width of 16.
    const int width = 77, height = 23;
    const Plane y(width, height, 1), u((width + 1) / 2, (height + 1) / 2, 2),
        v((width + 1) / 2, (height + 1) / 2, 3);
    const YuvPlanes planes{y.samples.data(), u.samples.data(), v.samples.data(),
                           y.stride,         u.stride,         true};
    std::vector<uint8_t> scratch;
    int w = width, h = height;
    const YuvPlanes once = HalvePicture(planes, w, h, 1, scratch);
    ASSERT_EQ(w, 38);
    ASSERT_EQ(h, 11);
    EXPECT_TRUE(once.fullRange);
    ExpectHalved(y, once.y, once.yStride, 38, 11);
    ExpectHalved(u, once.u, once.cStride, 19, 6);
    ExpectHalved(v, once.v, once.cStride, 19, 6);

    // Twice over is the halving of the first result; the chroma of a 38-wide
    // picture is 19 wide, so its last block repeats its edge.
    Plane y1(38, 11, 0), u1(19, 6, 0);
    for (int r = 0; r < 11; ++r)
        std::copy_n(once.y + size_t(r) * once.yStride, 38, y1.samples.begin() + r * y1.stride);
    for (int r = 0; r < 6; ++r)
        std::copy_n(once.u + size_t(r) * once.cStride, 19, u1.samples.begin() + r * u1.stride);
    w = width;
    h = height;
    const YuvPlanes twice = HalvePicture(planes, w, h, 2, scratch);
    ASSERT_EQ(w, 19);
    ASSERT_EQ(h, 5);
    ExpectHalved(y1, twice.y, twice.yStride, 19, 5);
    ExpectHalved(u1, twice.u, twice.cStride, 10, 3);

    // Nothing to halve: the planes come back as they were.
    w = 1;
    h = 9;
    EXPECT_EQ(HalvePicture(planes, w, h, 2, scratch).y, planes.y);
    EXPECT_EQ(w, 1);
}

} // namespace
} // namespace qm
