// SSE2 row kernels: 8 pixels per step for BGR0, 16 for the packed layouts,
// the same 16-bit saturating arithmetic as the scalar reference.

#include "codec/color_convert.h"

#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>

namespace qm::convert_detail {
namespace {

inline __m128i Load4(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return _mm_cvtsi32_si128(v);
}

template <const Coefficients& kC>
void RowBgr0Sse2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i cOffset = _mm_set1_epi8(char(kC.yOffset));
    const __m128i c128 = _mm_set1_epi16(128);
    const __m128i cy = _mm_set1_epi16(kC.y);
    const __m128i crv = _mm_set1_epi16(kC.rv);
    const __m128i cgu = _mm_set1_epi16(kC.gu);
    const __m128i cgv = _mm_set1_epi16(kC.gv);
    const __m128i cbu = _mm_set1_epi16(kC.bu);
    int x = 0;
    for (; x + 8 <= n; x += 8) {
        __m128i yy =
            _mm_subs_epu8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(y + x)), cOffset);
        yy = _mm_unpacklo_epi8(yy, zero);
        const __m128i yt = _mm_mulhi_epi16(_mm_slli_epi16(yy, 3), cy);
        __m128i uu = Load4(u + x / 2);
        __m128i vv = Load4(v + x / 2);
        uu = _mm_unpacklo_epi8(_mm_unpacklo_epi8(uu, uu), zero);
        vv = _mm_unpacklo_epi8(_mm_unpacklo_epi8(vv, vv), zero);
        uu = _mm_slli_epi16(_mm_sub_epi16(uu, c128), 3);
        vv = _mm_slli_epi16(_mm_sub_epi16(vv, c128), 3);
        const __m128i r = _mm_adds_epi16(yt, _mm_mulhi_epi16(vv, crv));
        const __m128i g =
            _mm_adds_epi16(yt, _mm_adds_epi16(_mm_mulhi_epi16(uu, cgu), _mm_mulhi_epi16(vv, cgv)));
        const __m128i b = _mm_adds_epi16(yt, _mm_mulhi_epi16(uu, cbu));
        const __m128i br = _mm_packus_epi16(b, r);    // B0..B7 R0..R7
        const __m128i g0 = _mm_packus_epi16(g, zero); // G0..G7 0..0
        const __m128i bg = _mm_unpacklo_epi8(br, g0); // B G pairs
        const __m128i r0 = _mm_unpackhi_epi8(br, g0); // R 0 pairs
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x), _mm_unpacklo_epi16(bg, r0));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4 * x + 16), _mm_unpackhi_epi16(bg, r0));
    }
    RowBgr0Scalar(y, u, v, out, x, n, &kC == &kFull);
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

const RowKernels kSse2Kernels = {RowBgr0Sse2<kStudio>, RowPackedSse2<false>, RowPackedSse2<true>,
                                 RowBgr0Sse2<kFull>};

} // namespace qm::convert_detail

#else

namespace qm::convert_detail {
const RowKernels kSse2Kernels = {nullptr, nullptr, nullptr, nullptr};
} // namespace qm::convert_detail

#endif
