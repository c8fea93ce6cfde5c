#pragma once
// The block index of a DVR disk: the MHS, one 16-byte mini header per block
// slot of the disk's ring, turned into the list of recorded blocks in the
// order the DVR wrote them (by sequence number, slot order among equals).

#include "platform/byte_order.h"
#include "storage/formats.h"

#include <cstdint>
#include <vector>

namespace qm {

// Blocks that span a day or more carry a damaged time and do not widen the
// recording's range.
constexpr uint32_t kDiskLongestBlockSeconds = 86400;

struct DiskIndex {
    // Accepted blocks in recording order; each entry's sequence field holds
    // its slot number (the block number) from here on.
    std::vector<MiniHeader> blocks;
    uint32_t startTime = 0xFFFFFFFF;
    uint32_t endTime = 0;
    uint32_t channelMask = 0; // union of the blocks' 16-bit masks
    uint32_t smallestSequence = 0;
    uint32_t largestSequence = 0;
    size_t slotCount = 0;    // slots in the MHS
    size_t emptySlots = 0;   // type 0
    size_t invalidSlots = 0; // in use but refused (time, group, mask)
    size_t outsideSlots = 0; // their block would lie beyond the disk's end
    // The table was damaged and the blocks come from a scan of the ring
    // (disk_scan.h); those the table does not list are unindexed.
    bool recovered = false;
    size_t unindexedBlocks = 0;
};

// `mhs` holds the table as read from the disk (little-endian, as the disk
// firmware writes it). Slots from `usableSlots` on are refused: their block
// does not lie on the disk.
DiskIndex BuildDiskIndex(ByteView mhs, uint64_t usableSlots);

} // namespace qm
