// Type 3 (B, G, R, 0) conversion of D1 pictures: our scalar, SSE2 and AVX2
// versions against libswscale's yuv420p -> bgr0 on the same planes, and the
// full-range (JPEG) variant against libswscale's yuvj420p -> bgr0.
// libswscale picks its code by the processor's features when a context is
// made; the NoAVX cases hide AVX and everything after it (a processor before
// Haswell, SSE up to SSE4.2), the SSE2 cases everything after SSE2 (the
// x86-64 baseline), so that our SSE2 kernel is compared with what libswscale
// does on a processor where that kernel is the one chosen.

#include "codec/color_convert.h"

#include <benchmark/benchmark.h>
#include <cstdint>
#include <random>
#include <vector>

extern "C" {
#include <libavutil/cpu.h>
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

enum class Cpu { kAsDetected, kNoAvx, kSse2 };

// The processor's features as libswscale sees them while it lives: forced
// for the whole run (some choices are made at each call), the detected ones
// back afterwards.
class CpuFeatures {
public:
    explicit CpuFeatures(Cpu cpu) : m_bForced(cpu != Cpu::kAsDetected) {
        const int detected = av_get_cpu_flags();
        if (cpu == Cpu::kNoAvx)
            av_force_cpu_flags(detected &
                               ~(AV_CPU_FLAG_AVX | AV_CPU_FLAG_AVXSLOW | AV_CPU_FLAG_AVX2 |
                                 AV_CPU_FLAG_FMA3 | AV_CPU_FLAG_FMA4 | AV_CPU_FLAG_XOP |
                                 AV_CPU_FLAG_AVX512 | AV_CPU_FLAG_AVX512ICL | AV_CPU_FLAG_BMI1 |
                                 AV_CPU_FLAG_BMI2 | AV_CPU_FLAG_SLOW_GATHER));
        else if (cpu == Cpu::kSse2)
            av_force_cpu_flags(detected & (AV_CPU_FLAG_MMX | AV_CPU_FLAG_MMXEXT | AV_CPU_FLAG_SSE |
                                           AV_CPU_FLAG_SSE2 | AV_CPU_FLAG_CMOV));
    }
    ~CpuFeatures() {
        if (m_bForced) av_force_cpu_flags(-1);
    }
    CpuFeatures(const CpuFeatures&) = delete;
    CpuFeatures& operator=(const CpuFeatures&) = delete;

private:
    bool m_bForced;
};

void BM_Swscale(benchmark::State& state, AVPixelFormat format, Cpu cpu) {
    Frame f;
    const CpuFeatures features(cpu);
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
BENCHMARK_CAPTURE(BM_Swscale, yuv420p, AV_PIX_FMT_YUV420P, Cpu::kAsDetected);
BENCHMARK_CAPTURE(BM_Swscale, yuv420p_NoAVX, AV_PIX_FMT_YUV420P, Cpu::kNoAvx);
BENCHMARK_CAPTURE(BM_Swscale, yuv420p_SSE2, AV_PIX_FMT_YUV420P, Cpu::kSse2);
// Full range (Motion JPEG): read directly, against libswscale from yuvj420p.
BENCHMARK_CAPTURE(BM_Convert, FullRangeSSE2, qm::ConvertImpl::SSE2, true);
BENCHMARK_CAPTURE(BM_Convert, FullRangeAuto, qm::ConvertImpl::Auto, true);
BENCHMARK_CAPTURE(BM_Swscale, yuvj420p, AV_PIX_FMT_YUVJ420P, Cpu::kAsDetected);
BENCHMARK_CAPTURE(BM_Swscale, yuvj420p_NoAVX, AV_PIX_FMT_YUVJ420P, Cpu::kNoAvx);
BENCHMARK_CAPTURE(BM_Swscale, yuvj420p_SSE2, AV_PIX_FMT_YUVJ420P, Cpu::kSse2);

} // namespace

BENCHMARK_MAIN();
