// AVI chunk writing: video chunks of a D1 and a 1080p stream, each followed by
// its sound chunk, written to a file in the temporary folder and completed
// with the index, as the export writes them.

#include "export/avi_writer.h"
#include "platform/output_files.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string BenchPath() {
    return (std::filesystem::temp_directory_path() / "qm_avi_bench.avi").string();
}

// Frames per file: a minute at 25 frames per second.
constexpr int kFramesPerFile = 1500;

void BM_WriteChunks(benchmark::State& state) {
    const uint32_t frameBytes = uint32_t(state.range(0));
    std::vector<uint8_t> frame(frameBytes, 0x5A);
    std::vector<uint8_t> sound(640, 0x11);
    const std::string path = BenchPath();
    // The same file every iteration: replacing it is agreed to.
    qm::OutputFiles outputs(true);
    qm::CQMAvi avi(outputs);
    avi.SetFrameRate(25);
    int64_t bytes = 0;
    for (auto _ : state) {
        if (avi.WriteHeader(path, 480, 704, 1700000000u, 0, 8000) != 0) {
            state.SkipWithError("cannot open the output");
            break;
        }
        for (int i = 0; i < kFramesPerFile; ++i) {
            const uint32_t seconds = 1700000000u + uint32_t(i / 25);
            const uint32_t micro = uint32_t(i % 25) * 40000u;
            bytes += avi.WriteChunk(qm::kAviVideoH264, frameBytes, frame.data(), seconds, micro);
            bytes +=
                avi.WriteChunk(qm::kAviAudio, uint32_t(sound.size()), sound.data(), seconds, micro);
        }
        avi.WriteIndex();
    }
    std::remove(path.c_str());
    state.SetBytesProcessed(bytes);
    state.SetItemsProcessed(state.iterations() * kFramesPerFile);
}

// 6 KB: a D1 P frame; 60 KB: a 1080p frame.
BENCHMARK(BM_WriteChunks)
    ->ArgName("frame_bytes")
    ->Arg(6 * 1024)
    ->Arg(60 * 1024)
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
