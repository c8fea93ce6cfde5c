// qmtool info: what was opened.

#include "tools/qmtool/commands.h"
#include "tools/qmtool/source.h"

#include <cstdio>
#include <string>

namespace qmtool {

namespace {

std::string FourCC(uint32_t code) {
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char ch = char((code >> (8 * i)) & 0xFF);
        s += (ch >= 0x20 && ch < 0x7F && ch != '"' && ch != '\\') ? ch : '?';
    }
    return s;
}

} // namespace

int RunInfo(const ParsedArgs& args) {
    if (args.positionals.size() != 1) return UsageError("info needs one SOURCE");
    qm::CQMParseIndex reader;
    std::string error;
    if (!OpenSource(args.positionals[0], reader, error)) return Fail(error);

    std::string channels;
    for (int c = 0; c < 32; ++c)
        if (reader.m_nChannelMask & (1u << c))
            channels += (channels.empty() ? "" : ",") + std::to_string(c + 1);
    std::string blocks;
    for (int g = 0; g < reader.GroupCount(); ++g)
        blocks += (g ? "," : "") + std::to_string(reader.BlockCount(g));

    const char* kind = reader.IsDisk() ? "disk" : "archive";
    if (args.has("--json")) {
        std::printf("{\"kind\":\"%s\",\"codec\":\"%s\",\"byte_order\":%d,\"channel_mask\":%u,"
                    "\"channels\":[%s],\"groups\":%d,\"start\":%u,\"end\":%u,\"time_offset\":%d,"
                    "\"block_size\":%u,\"blocks\":[%s]}\n",
                    kind, FourCC(reader.m_nCodec).c_str(), reader.m_nByteOrder,
                    reader.m_nChannelMask, channels.c_str(), reader.GroupCount(),
                    reader.m_nStartTime, reader.m_nEndTime, reader.m_nTimeOffset,
                    reader.m_nBlockSize, blocks.c_str());
        return 0;
    }
    std::printf("Source:      %s\n", args.positionals[0].c_str());
    std::printf("Kind:        %s\n", kind);
    std::printf("Codec:       %s\n", FourCC(reader.m_nCodec).c_str());
    std::printf("Byte order:  %d (%s)\n", reader.m_nByteOrder,
                reader.m_nByteOrder == 1 ? "little-endian" : "big-endian");
    std::printf("Cameras:     %s\n", channels.empty() ? "none" : channels.c_str());
    std::printf("Groups:      %d\n", reader.GroupCount());
    std::printf("Start:       %s UTC (%u)\n", formatTime(reader.m_nStartTime).c_str(),
                reader.m_nStartTime);
    std::printf("End:         %s UTC (%u)\n", formatTime(reader.m_nEndTime).c_str(),
                reader.m_nEndTime);
    std::printf("Time offset: %d s\n", reader.m_nTimeOffset);
    std::printf("Block size:  %u bytes\n", reader.m_nBlockSize);
    std::printf("Blocks:      %s\n", blocks.c_str());
    return 0;
}

} // namespace qmtool
