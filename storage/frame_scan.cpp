#include "storage/frame_scan.h"

#include <algorithm>

namespace qm {

namespace {

// Tallies one table's records for frameTablesDamaged.
struct TableTally {
    uint32_t records = 0;
    uint32_t sound = 0; // records that check out without their header read
    uint32_t sampled = 0;
    uint32_t sampledSound = 0; // sampled records whose header checks out too
};

// Reads `count` records through `recordAt`, which gives (offset units, channel).
template <typename RecordAt>
void tallyTable(uint32_t count, uint64_t dataLength, uint32_t blockMask,
                const FrameHeaderAt& headerAt, RecordAt recordAt, TableTally& tally) {
    const uint32_t stride =
        std::max<uint32_t>(1, (count + kTableHeaderSamples - 1) / kTableHeaderSamples);
    std::optional<uint64_t> previous;
    for (uint32_t i = 0; i < count; ++i) {
        const auto record = recordAt(i);
        if (!record) break;
        const auto [units, channel] = *record;
        ++tally.records;
        const uint64_t offset = uint64_t(units) * kUnitSize;
        const bool inOrder = !previous || offset > *previous;
        previous = offset;
        const bool sound = inOrder && offset + kFrameHeaderSize <= dataLength &&
                           channel < kMaxChannels && (blockMask >> channel & 1u) != 0;
        if (sound) ++tally.sound;
        if (i % stride != 0) continue;
        ++tally.sampled;
        if (!sound) continue;
        const auto frame = headerAt(uint32_t(offset));
        if (frame && frame->hasMarker() && frame->channel == channel) ++tally.sampledSound;
    }
}

} // namespace

bool frameTablesDamaged(const FrameTables& tables, const BlockHeader& header, int group,
                        uint64_t dataLength, uint8_t byteOrder, const FrameHeaderAt& headerAt) {
    const uint32_t blockMask = channelMaskOfGroup(header.channelMask, group);
    TableTally tally;
    tallyTable(
        tables.iCount, dataLength, blockMask, headerAt,
        [&](uint32_t i) -> std::optional<std::pair<uint32_t, uint8_t>> {
            const auto r = iFrameInfoAt(tables.iTable, i, byteOrder);
            if (!r) return std::nullopt;
            return std::pair{r->offsetUnits, r->channel};
        },
        tally);
    tallyTable(
        tables.pCount, dataLength, blockMask, headerAt,
        [&](uint32_t i) -> std::optional<std::pair<uint32_t, uint8_t>> {
            const auto r = pFrameInfoAt(tables.pTable, i, byteOrder);
            if (!r) return std::nullopt;
            return std::pair{r->offsetUnits, r->channel};
        },
        tally);
    if (tally.records == 0) return blockMask != 0;
    return uint64_t(tally.sound) * 2 < tally.records ||
           uint64_t(tally.sampledSound) * 2 < tally.sampled;
}

bool frameTablesDamaged(const FrameTables& tables, const BlockHeader& header, int group,
                        ByteView data, uint8_t byteOrder) {
    return frameTablesDamaged(tables, header, group, data.size(), byteOrder,
                              [&](uint32_t offset) -> std::optional<FrameHeader> {
                                  const auto bytes = data.sub(offset, kFrameHeaderSize);
                                  if (!bytes) return std::nullopt;
                                  return parseFrameHeader(*bytes, byteOrder);
                              });
}

bool frameFitsBlock(const FrameHeader& frame, uint64_t offset, uint64_t dataLength,
                    const BlockHeader& header, int group) {
    const uint32_t blockMask = channelMaskOfGroup(header.channelMask, group);
    if (!frame.hasMarker() || frame.channel >= kMaxChannels || !(blockMask >> frame.channel & 1u))
        return false;
    if (uint64_t(frame.time) + 1 < header.startTime || frame.time > uint64_t(header.endTime) + 1)
        return false;
    return frame.length >= 1 && offset <= dataLength && frame.frameBytes() <= dataLength - offset;
}

size_t ScannedFrames::Count() const {
    size_t n = 0;
    for (int c = 0; c < kMaxChannels; ++c)
        n += key[c].size() + other[c].size();
    return n;
}

ScannedFrames scanFrames(ByteView data, const BlockHeader& header, int group, uint8_t byteOrder) {
    ScannedFrames found;
    uint64_t at = 0;
    while (at + kFrameHeaderSize <= data.size()) {
        const auto frame = parseFrameHeader(*data.sub(size_t(at), kFrameHeaderSize), byteOrder);
        if (frame->isEndOfFrames()) break;
        if (!frameFitsBlock(*frame, at, data.size(), header, group)) {
            at += kUnitSize;
            continue;
        }
        if (frame->isKey()) {
            const uint32_t since =
                frame->time > header.startTime ? frame->time - header.startTime : 0;
            found.key[frame->channel].push_back(
                {uint32_t(at), uint16_t(std::min<uint32_t>(since, 0xFFFF))});
        } else {
            found.other[frame->channel].push_back(uint32_t(at));
        }
        at += frame->frameBytes();
    }
    return found;
}

} // namespace qm
