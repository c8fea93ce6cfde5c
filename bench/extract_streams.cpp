// Writes each camera's video elementary stream, as the storage reader delivers
// it, to PREFIX-camN.es: the input that the ffmpeg side of the decode
// comparison reads, so both sides decode exactly the same bytes.

#include "storage/parse_index.h"

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: extract_streams ARCHIVE PREFIX\n");
        return 2;
    }
    qm::CQMParseIndex reader;
    if (!reader.OpenFile(argv[1])) {
        std::fprintf(stderr, "extract_streams: cannot open %s\n", argv[1]);
        return 1;
    }
    std::vector<uint8_t> video(qm::kVideoPayloadCapacity);
    qm::FrameRecord record{};
    record.payload = video.data();
    std::map<int, FILE*> out;
    for (;;) {
        reader.WaitForPreparedSlots(1500);
        bool any = false;
        for (int c = 0; c < qm::kMaxChannels && !any; ++c)
            any = reader.FrameStateOf(c) == qm::kSlotReady;
        if (!any) break;
        const int got = reader.GetNextFrame(&record, 0, nullptr, 0, nullptr, 0);
        reader.SignalPrepare();
        if (got != 1) continue;
        FILE*& f = out[record.channel];
        if (!f) {
            const std::string name =
                std::string(argv[2]) + "-cam" + std::to_string(record.channel + 1) + ".es";
            f = std::fopen(name.c_str(), "wb");
            if (!f) return 1;
        }
        std::fwrite(record.payload, 1, record.size, f);
    }
    for (auto& [channel, f] : out)
        std::fclose(f);
    return 0;
}
