#include "storage/disk_index.h"

#include <algorithm>

namespace qm {

DiskIndex BuildDiskIndex(ByteView mhs, uint64_t usableSlots) {
    DiskIndex index;
    index.slotCount = mhs.size() / kMiniHeaderSize;
    struct Written {
        uint32_t sequence; // the ring's write order
        MiniHeader mini;   // its sequence field now the slot number
    };
    std::vector<Written> accepted;
    accepted.reserve(size_t(std::min<uint64_t>(index.slotCount, usableSlots)));
    uint32_t anyStart = 0xFFFFFFFF, anyEnd = 0;
    for (size_t slot = 0; slot < index.slotCount; ++slot) {
        auto mini =
            parseMiniHeader(*mhs.sub(slot * kMiniHeaderSize, kMiniHeaderSize), kByteOrderLittle);
        if (mini->type() == 0) {
            ++index.emptySlots;
            continue;
        }
        if (!mini->usableOnDisk()) {
            ++index.invalidSlots;
            continue;
        }
        if (slot >= usableSlots) {
            ++index.outsideSlots;
            continue;
        }
        if (mini->endTime - mini->startTime < kDiskLongestBlockSeconds) {
            index.startTime = std::min(index.startTime, mini->startTime);
            index.endTime = std::max(index.endTime, mini->endTime);
        }
        anyStart = std::min(anyStart, mini->startTime);
        anyEnd = std::max(anyEnd, mini->endTime);
        index.channelMask |= mini->channelMask;
        if (accepted.empty()) index.smallestSequence = index.largestSequence = mini->sequence;
        index.smallestSequence = std::min(index.smallestSequence, mini->sequence);
        index.largestSequence = std::max(index.largestSequence, mini->sequence);
        Written w{mini->sequence, *mini};
        w.mini.sequence = uint32_t(slot);
        accepted.push_back(w);
    }
    // Sorting by sequence number gives the ring's write order; a stable sort
    // keeps slot order among equal numbers, as bucketing by number would,
    // without a bucket for every number in between (a damaged table can span
    // the whole 32-bit range).
    std::stable_sort(accepted.begin(), accepted.end(),
                     [](const Written& x, const Written& y) { return x.sequence < y.sequence; });
    index.blocks.reserve(accepted.size());
    for (const Written& w : accepted)
        index.blocks.push_back(w.mini);
    // A disk whose every block claims a day or more still plays.
    if (index.startTime > index.endTime && !index.blocks.empty()) {
        index.startTime = anyStart;
        index.endTime = anyEnd;
    }
    return index;
}

} // namespace qm
