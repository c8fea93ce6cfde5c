// qmtool frames: every frame in forward delivery order, as the play thread
// would receive it.

#include "tools/qmtool/commands.h"
#include "tools/qmtool/frame_walk.h"
#include "tools/qmtool/source.h"

#include <cstdio>

namespace qmtool {

int RunFrames(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("frames needs one SOURCE");
    int only = -1;
    if (auto text = args.value("--channel")) {
        auto camera = parseCamera(*text);
        if (!camera) return UsageError("--channel takes a camera number from 1 to 32");
        only = *camera - 1;
    }
    const bool json = args.has("--json");

    qm::CQMParseIndex reader;
    std::string error;
    if (!OpenSource(args.positionals[0], reader, error)) return Fail(error);

    if (!json)
        std::printf(
            "CAM TYPE TIME                     SEQ      IDX   SIZE       VIDEO     AUDIO\n");
    FrameWalk walk(reader);
    walk.Run([&](const qm::FrameRecord& video, const qm::FrameRecord& audio) {
        if (only >= 0 && video.channel != only) return true;
        const char* type = video.type == qm::kFrameTypeKey ? "I" : "P";
        const uint32_t ms = video.microseconds / 1000;
        const uint32_t index = reader.LastDeliveredIndex();
        if (json) {
            std::printf("{\"channel\":%d,\"type\":\"%s\",\"time\":%u,\"ms\":%u,\"seq\":%u,"
                        "\"index\":%u,\"width\":%u,\"height\":%u,\"video_bytes\":%u,"
                        "\"audio_type\":%u,\"audio_bytes\":%u}\n",
                        video.channel + 1, type, video.time, ms, video.sequence, index, video.width,
                        video.height, video.size, audio.codec, audio.size);
        } else {
            std::printf("%3d %-4s %s.%03u %-8u %-5u %4ux%-5u %-9u %u:%u\n", video.channel + 1, type,
                        formatTime(video.time).c_str(), ms, video.sequence, index, video.width,
                        video.height, video.size, audio.codec, audio.size);
        }
        return true;
    });
    return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the listing");
}

} // namespace qmtool
