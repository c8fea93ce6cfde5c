// qmtool frames: every frame in forward delivery order, as the play thread
// would receive it.

#include "tools/qmtool/commands.h"
#include "tools/qmtool/frame_walk.h"
#include "tools/qmtool/run_summary.h"
#include "tools/qmtool/source.h"

#include <cstdio>

namespace qmtool {

int RunFrames(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("frames needs one SOURCE");
    std::optional<int> only;
    if (auto text = args.value("--channel")) {
        only = parseCamera(*text);
        if (!only) return UsageError("--channel takes a camera number from 1 to 32");
    }
    const bool json = args.has("--json");

    qm::CQMParseIndex reader;
    std::string error;
    if (!OpenSource(args.positionals[0], reader, error)) return Fail(error);
    if (only && !(reader.m_nChannelMask & (1u << (*only - 1))))
        return Fail(NotRecordedText(*only, reader.m_nChannelMask));
    const qm::ClockView clock = ClockOf(reader, args);
    RunSummary summary(clock);

    if (!json)
        std::printf("CAM TYPE TIME%-20s SEQ      IDX   SIZE       VIDEO     AUDIO\n",
                    clock.utc ? " (UTC)" : "");
    FrameWalk walk(reader);
    walk.Run([&](const qm::FrameRecord& video, const qm::FrameRecord& audio) {
        if (only && video.channel != *only - 1) return true;
        const char* type = video.type == qm::kFrameTypeKey ? "I" : "P";
        const uint32_t ms = video.microseconds / 1000;
        const qm::StoredMs time = qm::ToStoredMs(video.time, ms);
        const uint32_t index = reader.LastDeliveredIndex();
        summary.AddFrame(video.channel, time);
        if (json) {
            // The record is packed: its fields are copied, never bound.
            const uint32_t seconds = video.time, sequence = video.sequence, bytes = video.size;
            const unsigned width = video.width, height = video.height;
            const unsigned audioType = audio.codec, audioBytes = audio.size;
            const unsigned zone = video.timeZone;
            Json j;
            j["channel"] = video.channel + 1;
            j["type"] = type;
            j["time"] = seconds;
            j["ms"] = ms;
            j["seq"] = sequence;
            j["index"] = index;
            j["width"] = width;
            j["height"] = height;
            j["video_bytes"] = bytes;
            j["audio_type"] = audioType;
            j["audio_bytes"] = audioBytes;
            j["clock"] = qm::FormatClock(clock, time);
            j["tz"] = zone;
            // Every block of an archive read without its index was found by the scan.
            if (reader.m_bRecovered) j["scanned"] = true;
            std::printf("%s\n", Dump(j).c_str());
        } else {
            std::printf("%3d %-4s %-24s %-8u %-5u %4ux%-5u %-9u %u:%u\n", video.channel + 1, type,
                        qm::FormatClock(clock, time).c_str(), video.sequence, index, video.width,
                        video.height, video.size, audio.codec, audio.size);
        }
        return true;
    });
    summary.AddDamaged(walk.DamagedFrames(only ? 1u << (*only - 1) : 0xFFFFFFFFu));
    if (std::fflush(stdout) != 0) return Fail("cannot write the listing");
    std::fprintf(stderr, "%s\n", summary.Line().c_str());
    return summary.ExitStatus(args.has("--strict"));
}

} // namespace qmtool
