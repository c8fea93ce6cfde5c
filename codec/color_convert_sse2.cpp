// SSE2 row kernels: 16 pixels per step, the same 16-bit saturating arithmetic
// as the scalar reference. BGR0 rows go in pairs where the picture allows.

#include "codec/color_convert.h"

#if defined(__SSE2__)
#include <emmintrin.h>

namespace qm::convert_detail {
namespace {

// The chroma terms of eight chroma samples (sixteen pixels), worked out once
// at chroma resolution: both pixels of a pair, and both rows of a 4:2:0
// picture, add the same values, which is what the scalar reference computes
// for each pixel.
struct ChromaTerms {
    __m128i r, g, b;
};

template <const Coefficients& kC> inline ChromaTerms Chroma8(const uint8_t* u, const uint8_t* v) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i c128 = _mm_set1_epi16(128);
    __m128i uu = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(u)), zero);
    __m128i vv = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(v)), zero);
    uu = _mm_slli_epi16(_mm_sub_epi16(uu, c128), 3);
    vv = _mm_slli_epi16(_mm_sub_epi16(vv, c128), 3);
    return {_mm_mulhi_epi16(vv, _mm_set1_epi16(kC.rv)),
            _mm_adds_epi16(_mm_mulhi_epi16(uu, _mm_set1_epi16(kC.gu)),
                           _mm_mulhi_epi16(vv, _mm_set1_epi16(kC.gv))),
            _mm_mulhi_epi16(uu, _mm_set1_epi16(kC.bu))};
}

// Eight pixels from their luma terms and their (pairwise repeated) chroma terms.
inline void Store8(__m128i yt, __m128i r, __m128i g, __m128i b, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    r = _mm_adds_epi16(yt, r);
    g = _mm_adds_epi16(yt, g);
    b = _mm_adds_epi16(yt, b);
    const __m128i br = _mm_packus_epi16(b, r);    // B0..B7 R0..R7
    const __m128i g0 = _mm_packus_epi16(g, zero); // G0..G7 0..0
    const __m128i bg = _mm_unpacklo_epi8(br, g0); // B G pairs
    const __m128i r0 = _mm_unpackhi_epi8(br, g0); // R 0 pairs
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(bg, r0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 16), _mm_unpackhi_epi16(bg, r0));
}

template <const Coefficients& kC>
inline void Store16(const uint8_t* y, const ChromaTerms& c, uint8_t* out) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i cy = _mm_set1_epi16(kC.y);
    const __m128i yy = _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y)),
                                     _mm_set1_epi8(char(kC.yOffset)));
    const __m128i lo = _mm_mulhi_epi16(_mm_slli_epi16(_mm_unpacklo_epi8(yy, zero), 3), cy);
    const __m128i hi = _mm_mulhi_epi16(_mm_slli_epi16(_mm_unpackhi_epi8(yy, zero), 3), cy);
    Store8(lo, _mm_unpacklo_epi16(c.r, c.r), _mm_unpacklo_epi16(c.g, c.g),
           _mm_unpacklo_epi16(c.b, c.b), out);
    Store8(hi, _mm_unpackhi_epi16(c.r, c.r), _mm_unpackhi_epi16(c.g, c.g),
           _mm_unpackhi_epi16(c.b, c.b), out + 32);
}

// One row, or with kPair two rows sharing their chroma row.
template <const Coefficients& kC, bool kPair>
void RowsBgr0Sse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                  uint8_t* out0, uint8_t* out1, int n) {
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const ChromaTerms c = Chroma8<kC>(u + x / 2, v + x / 2);
        Store16<kC>(y0 + x, c, out0 + 4 * x);
        if (kPair) Store16<kC>(y1 + x, c, out1 + 4 * x);
    }
    RowBgr0Scalar(y0, u, v, out0, x, n, &kC == &kFull);
    if (kPair) RowBgr0Scalar(y1, u, v, out1, x, n, &kC == &kFull);
}

template <const Coefficients& kC>
void RowBgr0Sse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    RowsBgr0Sse2<kC, false>(y, nullptr, u, v, out, nullptr, n);
}

template <const Coefficients& kC>
void RowPairBgr0Sse2(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                     uint8_t* out0, uint8_t* out1, int n) {
    RowsBgr0Sse2<kC, true>(y0, y1, u, v, out0, out1, n);
}

template <bool kUyvy>
void RowPackedSse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m128i yy = _mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x));
        const __m128i uu = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
        const __m128i vv = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
        const __m128i uv = _mm_unpacklo_epi8(uu, vv);
        const __m128i lo = kUyvy ? _mm_unpacklo_epi8(uv, yy) : _mm_unpacklo_epi8(yy, uv);
        const __m128i hi = kUyvy ? _mm_unpackhi_epi8(uv, yy) : _mm_unpackhi_epi8(yy, uv);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x), lo);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * x + 16), hi);
    }
    RowPackedScalar(y, u, v, out, x, n, kUyvy);
}

} // namespace

const RowKernels kSse2Kernels = {RowBgr0Sse2<kStudio>,     RowPackedSse2<false>,
                                 RowPackedSse2<true>,      RowBgr0Sse2<kFull>,
                                 RowPairBgr0Sse2<kStudio>, RowPairBgr0Sse2<kFull>};

} // namespace qm::convert_detail

#else

namespace qm::convert_detail {
const RowKernels kSse2Kernels = {nullptr, nullptr, nullptr, nullptr, nullptr, nullptr};
} // namespace qm::convert_detail

#endif
