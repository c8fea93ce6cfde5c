#include "storage/disk_scan.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <tuple>

namespace qm {

namespace {

// A slot's header as the disk reader would accept it: the marker, a layout
// that leaves a data area, times a recorder writes and at least one camera.
std::optional<BlockHeader> UsableHeader(ByteView sector, uint64_t slot, const DiskInfo& info) {
    const auto header = parseBlockHeader(sector, info.byteOrder);
    if (!header || !header->hasMarker() || header->channelMask == 0 ||
        header->startTime <= kDiskMinStartTime || header->startTime > header->endTime)
        return std::nullopt;
    if (!blockGeometry(slot, info.blockSize, header->iSectors, header->pSectors, info.dataBase))
        return std::nullopt;
    return header;
}

// A block's first frame: its camera tells the block's group, its time in
// milliseconds orders blocks that start in the same second.
std::optional<FrameHeader> FirstFrame(IRawDevice& device, uint64_t start, uint8_t byteOrder) {
    std::array<uint8_t, kSectorSize> sector{};
    if (ReadAt(sector.data(), start, sector.size(), device) < 0) return std::nullopt;
    const auto frame = parseFrameHeader(ByteView(sector.data(), kFrameHeaderSize), byteOrder);
    if (!frame || !frame->hasMarker() || frame->channel >= kMaxChannels) return std::nullopt;
    return frame;
}

void AddDamage(std::vector<ScannedDamage>& damage, uint64_t offset, uint64_t length,
               const char* what) {
    if (!damage.empty() && damage.back().what == what &&
        damage.back().offset + damage.back().length == offset)
        damage.back().length += length;
    else
        damage.push_back({offset, length, what});
}

} // namespace

bool DiskTableDamaged(const DiskIndex& table) {
    return table.blocks.empty() || table.invalidSlots > table.blocks.size();
}

std::optional<ArchiveScan> ScanDiskRing(IRawDevice& device, const DiskInfo& info, ByteView mhs,
                                        IndexError& error, std::atomic<int>* percent) {
    ArchiveScan scan;
    scan.fileLength = device.Size();
    scan.blockSize = info.blockSize;
    scan.byteOrder = info.byteOrder;
    scan.headerUsable = true; // the information sector was found
    const uint64_t B = info.blockSize;
    if (B <= kBlockHeaderSize || B % kSectorSize != 0 || B > kMaxBlockSize) {
        error.fault = IndexFault::kBlockSize;
        error.text = "the information sector gives an impossible block size of " +
                     std::to_string(info.blockSize) + " bytes";
        return std::nullopt;
    }
    const uint64_t tableSlots = mhs.size() / kMiniHeaderSize;
    uint64_t slots = tableSlots;
    if (scan.fileLength)
        slots = scan.fileLength > info.dataBase ? (scan.fileLength - info.dataBase) / B : 0;
    slots = std::min<uint64_t>(slots, UINT32_MAX);

    std::array<uint8_t, kSectorSize> sector{};
    for (uint64_t n = 0; n < slots; ++n) {
        if (percent && n % 256 == 0) percent->store(int(n * 100 / slots));
        std::optional<MiniHeader> entry;
        if (n < tableSlots)
            entry = parseMiniHeader(*mhs.sub(size_t(n * kMiniHeaderSize), kMiniHeaderSize),
                                    kByteOrderLittle);
        const bool listed = entry && entry->usableOnDisk();
        const uint64_t start = info.dataBase + n * B;
        const int32_t read = ReadAt(sector.data(), start + B - kSectorSize, sector.size(), device);
        if (read < 0) {
            AddDamage(scan.damage, start, B, "the block's header cannot be read");
            continue;
        }
        const auto header = UsableHeader(ByteView(sector.data(), sector.size()), n, info);
        if (!header) {
            if (listed)
                AddDamage(scan.damage, start, B,
                          "the block table lists a block here, but it has no block header");
            continue;
        }
        ScannedBlock block;
        block.number = uint32_t(n);
        block.header = *header;
        if (const auto frame = FirstFrame(device, start, info.byteOrder)) {
            block.group = frame->channel >= kChannelsPerGroup ? 1 : 0;
            block.firstFrameMs =
                uint64_t(frame->time) * 1000 + std::min<uint32_t>(frame->milliseconds, 999);
        }
        block.channelMask = channelMaskOfGroup(header->channelMask, block.group);
        block.indexed = listed && entry->group == block.group + 1 &&
                        entry->channelMask == header->channelMask &&
                        entry->startTime == header->startTime && entry->endTime == header->endTime;
        if (block.indexed) block.tableSequence = entry->sequence;
        scan.blocks.push_back(block);
    }
    scan.tableUsable = !scan.blocks.empty() && scan.Indexed() == scan.blocks.size();
    if (mhs.size() == 0)
        scan.indexProblem = "the block table (MHS) cannot be read";
    else if (!scan.tableUsable)
        scan.indexProblem = "the block table (MHS) lists " + std::to_string(scan.Indexed()) +
                            " of the " + std::to_string(scan.blocks.size()) + " blocks found";
    if (percent) percent->store(100);
    return scan;
}

DiskIndex DiskIndexFromScan(const ArchiveScan& scan, const DiskIndex& table) {
    DiskIndex index;
    index.slotCount = table.slotCount;
    index.emptySlots = table.emptySlots;
    index.invalidSlots = table.invalidSlots;
    index.outsideSlots = table.outsideSlots;
    index.recovered = true;
    std::vector<const ScannedBlock*> order;
    for (const ScannedBlock& block : scan.blocks)
        if (block.group == 0) order.push_back(&block);
    // A ring is written in time order. Blocks of the same times (several
    // cameras' frames of one moment split across two blocks) keep the ring's
    // own order: the table's sequence numbers where it still has them, else
    // the slots counted on from the oldest block's.
    auto when = [](const ScannedBlock* b) {
        return std::tuple(b->header.startTime, b->firstFrameMs, b->header.endTime);
    };
    const auto oldest = std::min_element(order.begin(), order.end(),
                                         [&](auto* a, auto* b) { return when(a) < when(b); });
    const uint64_t ringStart = oldest == order.end() ? 0 : (*oldest)->number;
    const uint64_t ringSlots = scan.blocks.empty() ? 1 : uint64_t(scan.blocks.back().number) + 1;
    auto ringPlace = [&](const ScannedBlock* b) {
        return (b->number + ringSlots - ringStart) % ringSlots;
    };
    std::sort(order.begin(), order.end(), [&](const ScannedBlock* a, const ScannedBlock* b) {
        if (when(a) != when(b)) return when(a) < when(b);
        if (a->tableSequence && b->tableSequence && *a->tableSequence != *b->tableSequence)
            return *a->tableSequence < *b->tableSequence;
        return ringPlace(a) < ringPlace(b);
    });
    uint32_t anyStart = 0xFFFFFFFF, anyEnd = 0;
    for (const ScannedBlock* block : order) {
        const BlockHeader& h = block->header;
        MiniHeader mini;
        mini.flags = 1;
        mini.group = 1;
        mini.channelMask = h.channelMask;
        mini.startTime = h.startTime;
        mini.endTime = h.endTime;
        mini.sequence = block->number; // the slot, as the table's index keeps it
        index.blocks.push_back(mini);
        if (!block->indexed) ++index.unindexedBlocks;
        if (h.endTime - h.startTime < kDiskLongestBlockSeconds) {
            index.startTime = std::min(index.startTime, h.startTime);
            index.endTime = std::max(index.endTime, h.endTime);
        }
        anyStart = std::min(anyStart, h.startTime);
        anyEnd = std::max(anyEnd, h.endTime);
        index.channelMask |= h.channelMask;
    }
    if (index.startTime > index.endTime && !index.blocks.empty()) {
        index.startTime = anyStart;
        index.endTime = anyEnd;
    }
    return index;
}

} // namespace qm
