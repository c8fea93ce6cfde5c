// Type 3 (B, G, R, 0) conversion of D1 pictures: our scalar, SSE2 and AVX2
// versions against libswscale's yuv420p -> bgr0 on the same planes, and the
// full-range (JPEG) variant against libswscale's yuvj420p -> bgr0.

#include "codec/color_convert.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/pixfmt.h>
#include <libswscale/swscale.h>
}

namespace {

constexpr int kWidth = 704;
constexpr int kHeight = 480;
constexpr int64_t kPixels = int64_t(kWidth) * kHeight;

struct Frame {
    std::vector<uint8_t> y, u, v, out;
    Frame()
        : y(size_t(kPixels)), u(size_t(kPixels / 4)), v(size_t(kPixels / 4)),
          out(size_t(kPixels) * 4) {
        std::mt19937 rng(704480);
        std::uniform_int_distribution<int> luma(16, 235), chroma(16, 240);
        for (auto& b : y)
            b = uint8_t(luma(rng));
        for (auto& b : u)
            b = uint8_t(chroma(rng));
        for (auto& b : v)
            b = uint8_t(chroma(rng));
    }
};

void Count(benchmark::State& state) {
    state.SetItemsProcessed(state.iterations());
    state.counters["pixels/s"] = benchmark::Counter(double(state.iterations()) * double(kPixels),
                                                    benchmark::Counter::kIsRate);
}

void BM_Convert(benchmark::State& state, qm::ConvertImpl impl, bool fullRange) {
    if (!qm::ConvertImplAvailable(impl)) {
        state.SkipWithError("not available on this processor");
        return;
    }
    Frame f;
    const qm::YuvPlanes planes{f.y.data(), f.u.data(), f.v.data(), kWidth, kWidth / 2, fullRange};
    for (auto _ : state) {
        qm::ConvertYuv420(planes, f.out.data(), kWidth, kHeight, qm::kOutputBGR0, impl);
        benchmark::DoNotOptimize(f.out.data());
        benchmark::ClobberMemory();
    }
    Count(state);
}

void BM_Swscale(benchmark::State& state, AVPixelFormat format) {
    Frame f;
    SwsContext* sws = sws_getContext(kWidth, kHeight, format, kWidth, kHeight, AV_PIX_FMT_BGR0,
                                     SWS_BILINEAR, nullptr, nullptr, nullptr);
    if (!sws) {
        state.SkipWithError("sws_getContext failed");
        return;
    }
    const uint8_t* src[4] = {f.y.data(), f.u.data(), f.v.data(), nullptr};
    const int srcStride[4] = {kWidth, kWidth / 2, kWidth / 2, 0};
    uint8_t* dst[4] = {f.out.data(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {kWidth * 4, 0, 0, 0};
    for (auto _ : state) {
        sws_scale(sws, src, srcStride, 0, kHeight, dst, dstStride);
        benchmark::DoNotOptimize(f.out.data());
        benchmark::ClobberMemory();
    }
    sws_freeContext(sws);
    Count(state);
}

BENCHMARK_CAPTURE(BM_Convert, Scalar, qm::ConvertImpl::Scalar, false);
BENCHMARK_CAPTURE(BM_Convert, SSE2, qm::ConvertImpl::SSE2, false);
BENCHMARK_CAPTURE(BM_Convert, AVX2, qm::ConvertImpl::AVX2, false);
BENCHMARK_CAPTURE(BM_Convert, Auto, qm::ConvertImpl::Auto, false);
BENCHMARK_CAPTURE(BM_Swscale, yuv420p, AV_PIX_FMT_YUV420P);
// Full range (Motion JPEG): read directly, against libswscale from yuvj420p.
BENCHMARK_CAPTURE(BM_Convert, FullRangeAuto, qm::ConvertImpl::Auto, true);
BENCHMARK_CAPTURE(BM_Swscale, yuvj420p, AV_PIX_FMT_YUVJ420P);

} // namespace

BENCHMARK_MAIN();
