// The scalar reference conversion and the choice of implementation.

#include "codec/color_convert.h"

#include <algorithm>
#include <cstdlib>

namespace qm {
namespace convert_detail {
namespace {

inline int16_t Sat16(int v) {
    return int16_t(std::clamp(v, -32768, 32767));
}
// High half of the signed 16 x 16 product, as the vector multiply-high gives it.
inline int16_t MulHi(int16_t a, int16_t b) {
    return int16_t((int32_t(a) * int32_t(b)) >> 16);
}
inline uint8_t SatU8(int16_t v) {
    return uint8_t(std::clamp<int>(v, 0, 255));
}

void RowBgr0(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    RowBgr0Scalar(y, u, v, out, 0, n);
}
void RowBgr0Full(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    RowBgr0Scalar(y, u, v, out, 0, n, true);
}
void RowYuy2(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    RowPackedScalar(y, u, v, out, 0, n, false);
}
void RowUyvy(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int n) {
    RowPackedScalar(y, u, v, out, 0, n, true);
}

} // namespace

void RowBgr0Scalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int from,
                   int n, bool fullRange) {
    const Coefficients& k = fullRange ? kFull : kStudio;
    for (int x = from; x < n; ++x) {
        const int16_t yy = int16_t(y[x] > k.yOffset ? y[x] - k.yOffset : 0);
        const int16_t yt = MulHi(int16_t(yy << 3), k.y);
        const int16_t uu = int16_t((u[x >> 1] - 128) * 8);
        const int16_t vv = int16_t((v[x >> 1] - 128) * 8);
        const int16_t r = Sat16(yt + MulHi(vv, k.rv));
        const int16_t g = Sat16(yt + Sat16(MulHi(uu, k.gu) + MulHi(vv, k.gv)));
        const int16_t b = Sat16(yt + MulHi(uu, k.bu));
        uint8_t* p = out + 4 * x;
        p[0] = SatU8(b);
        p[1] = SatU8(g);
        p[2] = SatU8(r);
        p[3] = 0;
    }
}

void RowPackedScalar(const uint8_t* y, const uint8_t* u, const uint8_t* v, uint8_t* out, int from,
                     int n, bool uyvy) {
    // Pixel x owns two bytes: its luma and, alternately, the U or V of its pair.
    for (int x = from; x < n; ++x) {
        const uint8_t c = (x & 1) ? v[x >> 1] : u[x >> 1];
        out[2 * x + (uyvy ? 1 : 0)] = y[x];
        out[2 * x + (uyvy ? 0 : 1)] = c;
    }
}

const RowKernels kScalarKernels = {RowBgr0, RowYuy2, RowUyvy, RowBgr0Full};

} // namespace convert_detail

namespace {

bool CpuHasAvx2() {
#if defined(__x86_64__) || defined(__i386__)
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("avx2") != 0;
    }();
    return has;
#else
    return false;
#endif
}

} // namespace

bool ConvertImplAvailable(ConvertImpl impl) {
    switch (impl) {
    case ConvertImpl::Auto:
    case ConvertImpl::Scalar:
        return true;
    case ConvertImpl::SSE2:
        return convert_detail::kSse2Kernels.bgr0 != nullptr;
    case ConvertImpl::AVX2:
        return convert_detail::kAvx2Kernels.bgr0 != nullptr && CpuHasAvx2();
    }
    return false;
}

ConvertImpl BestConvertImpl() {
    if (ConvertImplAvailable(ConvertImpl::AVX2)) return ConvertImpl::AVX2;
    if (ConvertImplAvailable(ConvertImpl::SSE2)) return ConvertImpl::SSE2;
    return ConvertImpl::Scalar;
}

int OutputBytesPerPixel(int type) {
    switch (type) {
    case kOutputYUY2:
    case kOutputUYVY:
        return 2;
    case kOutputBGR0:
        return 4;
    default:
        return 0;
    }
}

void ConvertYuv420(const YuvPlanes& src, uint8_t* out, int width, int height, int type,
                   ConvertImpl impl, ptrdiff_t outStride) {
    const int bpp = OutputBytesPerPixel(type);
    const bool bottomUp = height < 0;
    const int rows = std::abs(height);
    if (!out || bpp == 0 || width <= 0 || rows == 0 || !src.y || !src.u || !src.v) return;
    if (impl == ConvertImpl::Auto || !ConvertImplAvailable(impl)) impl = BestConvertImpl();
    const convert_detail::RowKernels& k = impl == ConvertImpl::AVX2 ? convert_detail::kAvx2Kernels
                                          : impl == ConvertImpl::SSE2
                                              ? convert_detail::kSse2Kernels
                                              : convert_detail::kScalarKernels;
    const convert_detail::RowFn row = type == kOutputBGR0   ? (src.fullRange ? k.bgr0Full : k.bgr0)
                                      : type == kOutputYUY2 ? k.yuy2
                                                            : k.uyvy;
    if (outStride == 0) outStride = ptrdiff_t(width) * bpp;
    const convert_detail::RowPairFn pair =
        type == kOutputBGR0 ? (src.fullRange ? k.bgr0FullPair : k.bgr0Pair) : nullptr;
    auto outRow = [&](int r) { return out + (bottomUp ? rows - 1 - r : r) * outStride; };
    int r = 0;
    for (; pair && r + 2 <= rows; r += 2) {
        const ptrdiff_t c = ptrdiff_t(r >> 1) * src.cStride;
        const uint8_t* y = src.y + ptrdiff_t(r) * src.yStride;
        pair(y, y + src.yStride, src.u + c, src.v + c, outRow(r), outRow(r + 1), width);
    }
    for (; r < rows; ++r) {
        const ptrdiff_t c = ptrdiff_t(r >> 1) * src.cStride;
        row(src.y + ptrdiff_t(r) * src.yStride, src.u + c, src.v + c, outRow(r), width);
    }
}

} // namespace qm
