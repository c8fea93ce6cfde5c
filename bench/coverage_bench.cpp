// The coverage lanes are computed when a recording opens: for a 10,000-block
// recording of 16 cameras (two key frames of each camera in a block) it must
// take well under the 200 ms a user would notice.

#include "app/camera_coverage.h"

#include <benchmark/benchmark.h>

namespace {

std::vector<qm::BlockKeys> ManyBlocks(int count) {
    std::vector<qm::BlockKeys> blocks;
    for (int b = 0; b < count; ++b) {
        const uint32_t start = 1700000000u + uint32_t(b) * 4;
        qm::BlockKeys block{start, start + 3, 0, true, {}};
        for (uint8_t c = 0; c < 16; ++c) {
            block.keys.push_back({c, start});
            block.keys.push_back({c, start + 2});
        }
        blocks.push_back(std::move(block));
    }
    return blocks;
}

void BM_CoverageOfBlocks(benchmark::State& state) {
    const auto blocks = ManyBlocks(int(state.range(0)));
    for (auto _ : state)
        benchmark::DoNotOptimize(qm::CoverageOfBlocks(blocks));
}
BENCHMARK(BM_CoverageOfBlocks)->Arg(10000)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
