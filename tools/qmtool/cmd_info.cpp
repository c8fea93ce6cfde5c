// qmtool info: what was opened.

#include "tools/qmtool/commands.h"
#include "tools/qmtool/run_summary.h"
#include "tools/qmtool/source.h"

#include <cstdio>
#include <string>

namespace qmtool {

namespace {

std::string FourCC(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char ch = char((code >> (8 * i)) & 0xFF);
        s += (ch >= 0x20 && ch < 0x7F) ? ch : '?';
    }
    return s;
}

} // namespace

int RunInfo(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("info needs one SOURCE");
    qm::CQMParseIndex reader;
    std::string error;
    if (!OpenSource(args.positionals[0], reader, error)) return Fail(error);
    const qm::ClockView clock = ClockOf(reader, args);
    const qm::StoredMs start = qm::ToStoredMs(reader.m_nStartTime);
    // The end second is shown whole, as the player's range ends with it.
    const qm::StoredMs end = qm::ToStoredMs(reader.m_nEndTime);

    const char* kind = reader.IsDisk() ? "disk" : "archive";
    if (args.has("--json")) {
        Json j;
        j["kind"] = kind;
        j["codec"] = FourCC(reader.m_nCodec);
        j["byte_order"] = reader.m_nByteOrder;
        j["channel_mask"] = reader.m_nChannelMask;
        Json channels = Json::array();
        for (int c = 0; c < 32; ++c)
            if (reader.m_nChannelMask & (1u << c)) channels.push_back(c + 1);
        j["channels"] = channels;
        j["groups"] = reader.GroupCount();
        j["start"] = reader.m_nStartTime;
        j["end"] = reader.m_nEndTime;
        j["time_offset"] = reader.m_nTimeOffset;
        j["block_size"] = reader.m_nBlockSize;
        // Only a recovered index adds keys: scripts reading intact sources see
        // what they always saw.
        if (reader.m_bRecovered) {
            j["recovered"] = true;
            j["recovered_blocks"] = reader.m_nRecoveredBlocks;
        }
        Json blocks = Json::array();
        for (int g = 0; g < reader.GroupCount(); ++g)
            blocks.push_back(reader.BlockCount(g));
        j["blocks"] = blocks;
        j["start_clock"] = qm::FormatClock(clock, start, false);
        j["end_clock"] = qm::FormatClock(clock, end, false);
        j["clock"] = clock.utc ? "utc" : "player";
        j["version"] = QmVersion();
        std::printf("%s\n", Dump(j).c_str());
        return 0;
    }
    std::string blocks;
    for (int g = 0; g < reader.GroupCount(); ++g)
        blocks += (g ? "," : "") + std::to_string(reader.BlockCount(g));
    const char* clockName = clock.utc ? "UTC, as stored" : "as the player shows it";
    std::printf("Source:      %s\n", args.positionals[0].c_str());
    std::printf("Kind:        %s\n", kind);
    std::printf("Codec:       %s\n", FourCC(reader.m_nCodec).c_str());
    std::printf("Byte order:  %d (%s)\n", reader.m_nByteOrder,
                reader.m_nByteOrder == 1 ? "little-endian" : "big-endian");
    std::printf("Cameras:     %s\n", CameraListText(reader.m_nChannelMask).c_str());
    std::printf("Groups:      %d\n", reader.GroupCount());
    std::printf("Start:       %s (%s; stored %u)\n", qm::FormatClock(clock, start, false).c_str(),
                clockName, reader.m_nStartTime);
    std::printf("End:         %s (%s; stored %u)\n", qm::FormatClock(clock, end, false).c_str(),
                clockName, reader.m_nEndTime);
    std::printf("Time offset: %d s\n", reader.m_nTimeOffset);
    std::printf("Block size:  %u bytes\n", reader.m_nBlockSize);
    std::printf("Blocks:      %s\n", blocks.c_str());
    return 0;
}

} // namespace qmtool
