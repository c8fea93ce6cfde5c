// Frame preparation and delivery: the storage reader's prefetch and
// preparation threads handing out every frame of a recording through
// GetNextFrame, as `qmtool frames` and the play thread take them (no pacing).
// The recording (16 D1 cameras, 20 s) is made once per run in the temporary
// folder.

#include "storage/parse_index.h"
#include "tools/mkrec/options.h"
#include "tools/mkrec/recording_generator.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string& Archive() {
    static const std::string path = [] {
        const std::string out =
            (std::filesystem::temp_directory_path() / "qm_storage_micro_bench.avr").string();
        std::string error;
        const auto options =
            qm::mkrec::parseOptions({"--out", out, "--channels", "1-16", "--size", "704x480",
                                     "--duration", "20", "--audio", "1:2"},
                                    error);
        if (!options) {
            std::fprintf(stderr, "mkrec options: %s\n", error.c_str());
            return std::string();
        }
        qm::mkrec::writeArchive(options->plan, out);
        return out;
    }();
    return path;
}

void BM_DeliverAllFrames(benchmark::State& state) {
    const std::string& path = Archive();
    if (path.empty()) {
        state.SkipWithError("no recording");
        return;
    }
    std::vector<uint8_t> video(qm::kVideoPayloadCapacity), audio(qm::kAudioPayloadCapacity),
        extra(qm::kExtraPayloadCapacity);
    int64_t frames = 0, bytes = 0;
    for (auto _ : state) {
        qm::CQMParseIndex reader;
        if (!reader.OpenFile(path)) {
            state.SkipWithError("cannot open the recording");
            break;
        }
        qm::FrameRecord v{}, a{}, x{};
        for (int idle = 0; idle < 2;) {
            v.payload = video.data();
            a.payload = audio.data();
            x.payload = extra.data();
            a.size = 0;
            const int got = reader.GetNextFrame(&v, 0, &a, 1, &x, 1);
            reader.SignalPrepare();
            if (got == 1) {
                ++frames;
                bytes += v.size;
                idle = 0;
                continue;
            }
            // Nothing ready: either the preparation thread is behind or the
            // recording has ended.
            if (!reader.WaitForPreparedSlots(1500)) break;
            bool any = false;
            for (int c = 0; c < qm::kMaxChannels && !any; ++c)
                any = reader.FrameStateOf(c) == qm::kSlotReady;
            if (!any) ++idle;
        }
        reader.CloseFile();
    }
    state.SetItemsProcessed(frames);
    state.SetBytesProcessed(bytes);
}

BENCHMARK(BM_DeliverAllFrames)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
