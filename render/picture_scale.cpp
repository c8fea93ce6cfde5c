#include "render/picture_scale.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace qm {

namespace {

// Where each target position samples the source: the left (or top) source
// index and the weight of the next one, 0..256.
struct Sample {
    int index;
    uint32_t weight;
};

// Target position t of `count` over a source of `size`: centre t + 0.5 maps to
// (t + 0.5) * size / count in the source, less half a pixel.
void BuildSamples(std::vector<Sample>& samples, int first, int last, int count, int size) {
    samples.resize(size_t(last - first));
    for (int t = first; t < last; ++t) {
        // 16.16 fixed point; int64 keeps large surfaces from overflowing.
        const int64_t pos = ((int64_t(2 * t + 1) * size << 16) / (2 * int64_t(count))) - 32768;
        Sample s;
        if (pos <= 0) {
            s = {0, 0};
        } else {
            s.index = int(pos >> 16);
            s.weight = uint32_t((pos & 0xFFFF) >> 8);
            if (s.index >= size - 1) s = {size - 1, 0};
        }
        samples[size_t(t - first)] = s;
    }
}

inline uint32_t Lerp(uint32_t a, uint32_t b, uint32_t w) {
    if (w == 0) return a;
    const uint32_t iw = 256 - w;
    const uint32_t rb = (((a & 0x00FF00FFu) * iw + (b & 0x00FF00FFu) * w) >> 8) & 0x00FF00FFu;
    const uint32_t g = (((a >> 8) & 0x00FF00FFu) * iw + ((b >> 8) & 0x00FF00FFu) * w) & 0xFF00FF00u;
    return rb | g;
}

inline uint32_t Load(const uint8_t* row, int x) {
    uint32_t v;
    std::memcpy(&v, row + size_t(x) * 4, 4);
    return v;
}

// The source row at a row weight: top and bottom blended, `width` pixels into
// `line`, plus a copy of the last pixel so that a pair read at the edge stays
// inside.
void BlendRows(const uint8_t* top, const uint8_t* bottom, uint32_t weight, int width,
               uint32_t* line) {
    if (weight == 0) {
        std::memcpy(line, top, size_t(width) * 4);
    } else {
        int x = 0;
#if defined(__SSE2__)
        // a * (256 - w) + b * w stays below 65536: plain 16-bit multiplies are exact.
        const __m128i zero = _mm_setzero_si128();
        const __m128i w = _mm_set1_epi16(int16_t(weight));
        const __m128i iw = _mm_set1_epi16(int16_t(256 - weight));
        for (; x + 4 <= width; x += 4) {
            const __m128i t = _mm_loadu_si128(reinterpret_cast<const __m128i*>(top + x * 4));
            const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bottom + x * 4));
            const __m128i lo =
                _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpacklo_epi8(t, zero), iw),
                                             _mm_mullo_epi16(_mm_unpacklo_epi8(b, zero), w)),
                               8);
            const __m128i hi =
                _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(_mm_unpackhi_epi8(t, zero), iw),
                                             _mm_mullo_epi16(_mm_unpackhi_epi8(b, zero), w)),
                               8);
            _mm_storeu_si128(reinterpret_cast<__m128i*>(line + x), _mm_packus_epi16(lo, hi));
        }
#endif
        for (; x < width; ++x)
            line[x] = Lerp(Load(top, x), Load(bottom, x), weight);
    }
    line[width] = line[width - 1];
}

// One target row from the blended source row.
void ScaleLine(const uint32_t* line, const Sample* col, int count, uint8_t* out) {
    int i = 0;
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    const __m128i opaque = _mm_set1_epi32(int32_t(0xFF000000u));
    for (; i < count; ++i) {
        const Sample c = col[i];
        const __m128i pair = _mm_unpacklo_epi8(
            _mm_loadl_epi64(reinterpret_cast<const __m128i*>(line + c.index)), zero);
        const int16_t w = int16_t(c.weight), iw = int16_t(256 - c.weight);
        __m128i v = _mm_mullo_epi16(pair, _mm_set_epi16(w, w, w, w, iw, iw, iw, iw));
        v = _mm_srli_epi16(_mm_add_epi16(v, _mm_srli_si128(v, 8)), 8);
        const uint32_t value =
            uint32_t(_mm_cvtsi128_si32(_mm_or_si128(_mm_packus_epi16(v, zero), opaque)));
        std::memcpy(out + size_t(i) * 4, &value, 4);
    }
#endif
    for (; i < count; ++i) {
        const Sample c = col[i];
        const uint32_t v = Lerp(line[c.index], line[c.index + 1], c.weight) | 0xFF000000u;
        std::memcpy(out + size_t(i) * 4, &v, 4);
    }
}

#if defined(__x86_64__) || defined(__i386__)
// Code run before (the painter's AVX fills, the font engine) can leave the
// upper halves of the vector registers dirty; then every SSE instruction here
// waits on them, several times slower. Clearing them first costs nothing.
__attribute__((target("avx"))) void ClearUpperVectorState() {
    __builtin_ia32_vzeroupper();
}
const bool kHasAvx = __builtin_cpu_supports("avx");
#endif

} // namespace

void ScaleBilinear(const ScaleSource& source, const ScaleTarget& target, int x0, int y0, int x1,
                   int y1) {
    if (!source.pixels || !target.pixels || source.width <= 0 || source.height <= 0) return;
    const int w = x1 - x0, h = y1 - y0;
    if (w <= 0 || h <= 0) return;
    // Only the part of the rectangle on the surface is drawn, in rectangle
    // coordinates.
    const int cx0 = std::max(0, -x0), cy0 = std::max(0, -y0);
    const int cx1 = std::min(w, target.width - x0), cy1 = std::min(h, target.height - y0);
    if (cx1 <= cx0 || cy1 <= cy0) return;
    if (w == source.width && h == source.height) {
        // One pixel for one (a halved picture fills its cell exactly): the
        // filter's weights are all zero, so the rows are copied.
        for (int ty = cy0; ty < cy1; ++ty) {
            const uint8_t* in = source.pixels + size_t(ty) * source.stride + size_t(cx0) * 4;
            uint8_t* out = target.pixels + size_t(y0 + ty) * target.stride + size_t(x0 + cx0) * 4;
            for (int i = 0; i < cx1 - cx0; ++i) {
                uint32_t v;
                std::memcpy(&v, in + size_t(i) * 4, 4);
                v |= 0xFF000000u;
                std::memcpy(out + size_t(i) * 4, &v, 4);
            }
        }
        return;
    }
#if defined(__x86_64__) || defined(__i386__)
    if (kHasAvx) ClearUpperVectorState();
#endif

    thread_local std::vector<Sample> columns;
    BuildSamples(columns, cx0, cx1, w, source.width);
    thread_local std::vector<Sample> rows;
    BuildSamples(rows, cy0, cy1, h, source.height);

    const Sample* col = columns.data();
    const int count = cx1 - cx0;
    // Only the source columns the row's samples reach are blended.
    const int first = col[0].index;
    const int last = std::min(col[count - 1].index + 1, source.width - 1);
    thread_local std::vector<uint32_t> line;
    line.resize(size_t(source.width) + 1);
    for (int ty = cy0; ty < cy1; ++ty) {
        const Sample r = rows[size_t(ty - cy0)];
        const uint8_t* top = source.pixels + size_t(r.index) * source.stride;
        // The next row is only read when it is weighed, so the last row never
        // reads past the picture.
        const uint8_t* bottom = r.weight ? top + source.stride : top;
        BlendRows(top + size_t(first) * 4, bottom + size_t(first) * 4, r.weight, last - first + 1,
                  line.data() + first);
        uint8_t* out = target.pixels + size_t(y0 + ty) * target.stride + size_t(x0 + cx0) * 4;
        ScaleLine(line.data(), col, count, out);
    }
}

void ScaleNearest(const ScaleSource& source, const ScaleTarget& target, int x0, int y0, int x1,
                  int y1) {
    if (!source.pixels || !target.pixels || source.width <= 0 || source.height <= 0) return;
    const int w = x1 - x0, h = y1 - y0;
    if (w <= 0 || h <= 0) return;
    const int fromX = std::max(x0, 0), toX = std::min(x1, target.width);
    const int fromY = std::max(y0, 0), toY = std::min(y1, target.height);
    if (fromX >= toX || fromY >= toY) return;
    std::vector<int> column(size_t(toX - fromX));
    for (int x = fromX; x < toX; ++x)
        column[size_t(x - fromX)] = std::min(
            source.width - 1, int((2 * int64_t(x - x0) + 1) * source.width / (2 * int64_t(w))));
    for (int y = fromY; y < toY; ++y) {
        const int sy = std::min(source.height - 1,
                                int((2 * int64_t(y - y0) + 1) * source.height / (2 * int64_t(h))));
        const uint8_t* row = source.pixels + size_t(sy) * source.stride;
        uint8_t* out = target.pixels + size_t(y) * target.stride + size_t(fromX) * 4;
        for (int x = fromX; x < toX; ++x, out += 4) {
            std::memcpy(out, row + size_t(column[size_t(x - fromX)]) * 4, 4);
            out[3] = 0xFF;
        }
    }
}

} // namespace qm
