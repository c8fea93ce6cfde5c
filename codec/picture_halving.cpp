#include "codec/picture_halving.h"

#include <algorithm>
#include <cstddef>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace qm {

namespace {

// Sixteen outputs from 32 samples of each of two rows.
#ifdef __SSE2__
inline int HalveRowSse2(const uint8_t* r0, const uint8_t* r1, uint8_t* out, int n) {
    const __m128i low = _mm_set1_epi16(0x00FF), two = _mm_set1_epi16(2);
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        __m128i sums[2];
        for (int half = 0; half < 2; ++half) {
            const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r0 + 2 * x) + half);
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(r1 + 2 * x) + half);
            const __m128i pairs =
                _mm_add_epi16(_mm_add_epi16(_mm_and_si128(a, low), _mm_srli_epi16(a, 8)),
                              _mm_add_epi16(_mm_and_si128(b, low), _mm_srli_epi16(b, 8)));
            sums[half] = _mm_srli_epi16(_mm_add_epi16(pairs, two), 2);
        }
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + x), _mm_packus_epi16(sums[0], sums[1]));
    }
    return x;
}
#endif

// dst (dw x dh) from src (sw x sh): each sample the rounded mean of a 2 x 2
// block; blocks that reach past the last row or column repeat it.
void HalvePlane(const uint8_t* src, int srcStride, int sw, int sh, uint8_t* dst, int dstStride,
                int dw, int dh) {
    const int inside = std::min(dw, sw / 2); // columns whose block lies within the row
    for (int y = 0; y < dh; ++y) {
        const uint8_t* r0 = src + ptrdiff_t(std::min(2 * y, sh - 1)) * srcStride;
        const uint8_t* r1 = src + ptrdiff_t(std::min(2 * y + 1, sh - 1)) * srcStride;
        uint8_t* out = dst + ptrdiff_t(y) * dstStride;
        int x = 0;
#ifdef __SSE2__
        x = HalveRowSse2(r0, r1, out, inside);
#endif
        for (; x < inside; ++x)
            out[x] = uint8_t((r0[2 * x] + r0[2 * x + 1] + r1[2 * x] + r1[2 * x + 1] + 2) >> 2);
        for (int x = inside; x < dw; ++x) {
            const int a = std::min(2 * x, sw - 1), b = std::min(2 * x + 1, sw - 1);
            out[x] = uint8_t((r0[a] + r0[b] + r1[a] + r1[b] + 2) >> 2);
        }
    }
}

} // namespace

YuvPlanes HalvePicture(const YuvPlanes& src, int& width, int& height, int times,
                       std::vector<uint8_t>& scratch) {
    if (times <= 0 || width < 2 || height < 2) return src;
    // Every halving's planes, one after the other: the next reads the last.
    size_t bytes = 0;
    for (int i = 0, w = width, h = height; i < times && w >= 2 && h >= 2; ++i) {
        w /= 2;
        h /= 2;
        bytes += size_t(w) * size_t(h) + 2 * size_t((w + 1) / 2) * size_t((h + 1) / 2);
    }
    if (scratch.size() < bytes) scratch.resize(bytes);
    YuvPlanes planes = src;
    uint8_t* next = scratch.data();
    for (int i = 0; i < times && width >= 2 && height >= 2; ++i) {
        const int w = width / 2, h = height / 2;
        const int cw = (width + 1) / 2, ch = (height + 1) / 2; // chroma read
        const int hw = (w + 1) / 2, hh = (h + 1) / 2;          // chroma written
        uint8_t* y = next;
        uint8_t* u = y + size_t(w) * size_t(h);
        uint8_t* v = u + size_t(hw) * size_t(hh);
        next = v + size_t(hw) * size_t(hh);
        HalvePlane(planes.y, planes.yStride, width, height, y, w, w, h);
        HalvePlane(planes.u, planes.cStride, cw, ch, u, hw, hw, hh);
        HalvePlane(planes.v, planes.cStride, cw, ch, v, hw, hw, hh);
        planes = {y, u, v, w, hw, src.fullRange};
        width = w;
        height = h;
    }
    return planes;
}

} // namespace qm
