#pragma once
// Conversion of a decoded YUV 4:2:0 picture (BT.601 studio range) into the
// caller's buffer in one of three layouts:
//   type 1: packed YUY2 (Y0 U Y1 V), stride width * 2
//   type 2: packed UYVY (U Y0 V Y1), stride width * 2
//   type 3: 32-bit pixels B, G, R, 0, stride width * 4
// Type 3 uses 13-bit fixed point with 16-bit saturating arithmetic; the scalar
// version below is the reference and every vector version is bit-exact with it.
// Type 3 also reads full-range (JPEG) pictures directly, so that Motion JPEG
// needs no range-compressing pass first; types 1 and 2 copy the samples.

#include <cstddef>
#include <cstdint>

namespace qm {

enum OutputType : int {
    kOutputYUY2 = 1,
    kOutputUYVY = 2,
    kOutputBGR0 = 3,
};

struct YuvPlanes {
    const uint8_t* y = nullptr;
    const uint8_t* u = nullptr;
    const uint8_t* v = nullptr;
    int yStride = 0;
    int cStride = 0;        // chroma row r / 2 serves output rows r
    bool fullRange = false; // samples 0-255 (JPEG) rather than 16-235
};

enum class ConvertImpl { Auto, Scalar, SSE2, AVX2 };

// True when this build and this processor can run `impl`.
bool ConvertImplAvailable(ConvertImpl impl);

// The implementation Auto resolves to on this processor.
ConvertImpl BestConvertImpl();

// Bytes per output pixel of a type (0 for unknown types).
int OutputBytesPerPixel(int type);

// Converts `width` x |height| pixels. A negative height writes the picture
// bottom-up (the first source row becomes the last output row). Output rows are
// `outStride` bytes apart (0: width times the type's bytes per pixel). Unknown
// types and empty sizes write nothing.
void ConvertYuv420(const YuvPlanes& src, uint8_t* out, int width, int height, int type,
                   ConvertImpl impl = ConvertImpl::Auto, ptrdiff_t outStride = 0);

namespace convert_detail {

// One output row: `n` pixels starting at pixel 0 of the given rows.
using RowFn = void (*)(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n);

// Two output rows that share their chroma row: its terms are worked out once.
using RowPairFn = void (*)(const uint8_t* y0, const uint8_t* y1, const uint8_t* u, const uint8_t* v,
                           uint8_t* out0, uint8_t* out1, int n);

struct RowKernels {
    RowFn bgr0;
    RowFn yuy2;
    RowFn uyvy;
    RowFn bgr0Full;               // type 3 from full-range samples
    RowPairFn bgr0Pair = nullptr; // null: row by row
    RowPairFn bgr0FullPair = nullptr;
};

extern const RowKernels kScalarKernels;
extern const RowKernels kSse2Kernels;
extern const RowKernels kAvx2Kernels;

// Scalar tails shared by the vector kernels: pixels [from, n), `from` even.
void RowBgr0Scalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int from,
                   int n, bool fullRange = false);
void RowPackedScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int from,
                     int n, bool uyvy);

// Coefficients of the type 3 conversion, as 16-bit multipliers of mulhi.
constexpr int16_t kCoefY = 9576;
constexpr int16_t kCoefRV = 13123;
constexpr int16_t kCoefGU = -3218;
constexpr int16_t kCoefGV = -6686;
constexpr int16_t kCoefBU = 16591;

// The same for full-range samples (Y taken whole, no offset of 16).
struct Coefficients {
    uint8_t yOffset;
    int16_t y, rv, gu, gv, bu;
};
constexpr Coefficients kStudio{16, kCoefY, kCoefRV, kCoefGU, kCoefGV, kCoefBU};
constexpr Coefficients kFull{0, 8192, 11485, -2819, -5850, 14516};

} // namespace convert_detail
} // namespace qm
