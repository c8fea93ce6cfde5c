// AVX2 row kernels, compiled with -mavx2 and used only when the processor
// reports AVX2: 16 pixels per step for BGR0, 32 for the packed layouts.

#include "codec/color_convert.h"

#if defined(__AVX2__)
#include <immintrin.h>

namespace qm::convert_detail {
namespace {

template <const Coefficients& kC>
void RowBgr0Avx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    const __m256i zero = _mm256_setzero_si256();
    const __m128i cOffset = _mm_set1_epi8(char(kC.yOffset));
    const __m256i c128 = _mm256_set1_epi16(128);
    const __m256i cy = _mm256_set1_epi16(kC.y);
    const __m256i crv = _mm256_set1_epi16(kC.rv);
    const __m256i cgu = _mm256_set1_epi16(kC.gu);
    const __m256i cgv = _mm256_set1_epi16(kC.gv);
    const __m256i cbu = _mm256_set1_epi16(kC.bu);
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m128i y8 =
            _mm_subs_epu8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(y + x)), cOffset);
        const __m256i yt = _mm256_mulhi_epi16(_mm256_slli_epi16(_mm256_cvtepu8_epi16(y8), 3), cy);
        const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(u + x / 2));
        const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i*>(v + x / 2));
        __m256i uu = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(u8, u8));
        __m256i vv = _mm256_cvtepu8_epi16(_mm_unpacklo_epi8(v8, v8));
        uu = _mm256_slli_epi16(_mm256_sub_epi16(uu, c128), 3);
        vv = _mm256_slli_epi16(_mm256_sub_epi16(vv, c128), 3);
        const __m256i r = _mm256_adds_epi16(yt, _mm256_mulhi_epi16(vv, crv));
        const __m256i g = _mm256_adds_epi16(
            yt, _mm256_adds_epi16(_mm256_mulhi_epi16(uu, cgu), _mm256_mulhi_epi16(vv, cgv)));
        const __m256i b = _mm256_adds_epi16(yt, _mm256_mulhi_epi16(uu, cbu));
        // Per 128-bit lane: pixels 0-7 in the low lane, 8-15 in the high one.
        const __m256i br = _mm256_packus_epi16(b, r);
        const __m256i g0 = _mm256_packus_epi16(g, zero);
        const __m256i bg = _mm256_unpacklo_epi8(br, g0);
        const __m256i r0 = _mm256_unpackhi_epi8(br, g0);
        const __m256i lo = _mm256_unpacklo_epi16(bg, r0); // pixels 0-3 | 8-11
        const __m256i hi = _mm256_unpackhi_epi16(bg, r0); // pixels 4-7 | 12-15
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x),
                            _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 4 * x + 32),
                            _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    RowBgr0Scalar(y, u, v, out, x, n, &kC == &kFull);
}

template <bool kUyvy>
void RowPackedAvx2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    int x = 0;
    for (; x + 32 <= n; x += 32) {
        const __m256i yy = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(y + x));
        const __m128i uu = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u + x / 2));
        const __m128i vv = _mm_loadu_si128(reinterpret_cast<const __m128i*>(v + x / 2));
        const __m256i uv = _mm256_set_m128i(_mm_unpackhi_epi8(uu, vv), _mm_unpacklo_epi8(uu, vv));
        const __m256i lo = kUyvy ? _mm256_unpacklo_epi8(uv, yy) : _mm256_unpacklo_epi8(yy, uv);
        const __m256i hi = kUyvy ? _mm256_unpackhi_epi8(uv, yy) : _mm256_unpackhi_epi8(yy, uv);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * x),
                            _mm256_permute2x128_si256(lo, hi, 0x20));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + 2 * x + 32),
                            _mm256_permute2x128_si256(lo, hi, 0x31));
    }
    RowPackedScalar(y, u, v, out, x, n, kUyvy);
}

} // namespace

const RowKernels kAvx2Kernels = {RowBgr0Avx2<kStudio>, RowPackedAvx2<false>, RowPackedAvx2<true>,
                                 RowBgr0Avx2<kFull>};

} // namespace qm::convert_detail

#else

namespace qm::convert_detail {
const RowKernels kAvx2Kernels = {nullptr, nullptr, nullptr, nullptr};
} // namespace qm::convert_detail

#endif
