// The disk's block table: which MHS slots count, the recording order of the
// ring and the recording's range.

#include "storage/disk_index.h"

#include <gtest/gtest.h>

using namespace qm;

namespace {

struct Slot {
    uint8_t flags = 1;
    uint8_t group = 1;
    uint16_t mask = 0x000F;
    uint32_t start = 1700000000;
    uint32_t end = 1700000060;
    uint32_t sequence = 0;
};

std::vector<uint8_t> Mhs(size_t slots, const std::vector<std::pair<size_t, Slot>>& used) {
    std::vector<uint8_t> mhs(slots * kMiniHeaderSize, 0);
    for (const auto& [i, s] : used) {
        uint8_t* p = mhs.data() + i * kMiniHeaderSize;
        p[0] = s.flags;
        p[1] = s.group;
        storeLE16(p + 2, s.mask);
        storeLE32(p + 4, s.start);
        storeLE32(p + 8, s.end);
        storeLE32(p + 12, s.sequence);
    }
    return mhs;
}

DiskIndex Build(const std::vector<uint8_t>& mhs, uint64_t usable = UINT64_MAX) {
    return BuildDiskIndex(ByteView(mhs.data(), mhs.size()), usable);
}

std::vector<uint32_t> Order(const DiskIndex& index) {
    std::vector<uint32_t> slots;
    for (const MiniHeader& m : index.blocks)
        slots.push_back(m.sequence);
    return slots;
}

Slot At(uint32_t start, uint32_t sequence, uint32_t length = 60) {
    Slot s;
    s.start = start;
    s.end = start + length;
    s.sequence = sequence;
    return s;
}

} // namespace

TEST(DiskIndex, TheRingIsReadInWriteOrder) {
    // Written as slots 7, 8, 9, then wrapped to 0 and 1.
    const uint32_t t = 1700000000;
    DiskIndex index = Build(Mhs(10, {{0, At(t + 180, 23)},
                                     {1, At(t + 240, 24)},
                                     {7, At(t, 20)},
                                     {8, At(t + 60, 21)},
                                     {9, At(t + 120, 22)}}));
    EXPECT_EQ(Order(index), (std::vector<uint32_t>{7, 8, 9, 0, 1}));
    EXPECT_EQ(index.smallestSequence, 20u);
    EXPECT_EQ(index.largestSequence, 24u);
    EXPECT_EQ(index.emptySlots, 5u);
    EXPECT_EQ(index.startTime, t);
    EXPECT_EQ(index.endTime, t + 300);
    EXPECT_EQ(index.channelMask, 0x000Fu);

    // Equal numbers keep slot order; numbers far apart cost nothing extra.
    index = Build(Mhs(4, {{0, At(t, 0xFFFFFFFF)}, {1, At(t, 5)}, {2, At(t, 0)}, {3, At(t, 5)}}));
    EXPECT_EQ(Order(index), (std::vector<uint32_t>{2, 1, 3, 0}));
}

TEST(DiskIndex, SlotsThatAreEmptyDamagedOrBeyondTheDiskAreLeftOut) {
    Slot early = At(900000000, 1), justAfter = At(900000001, 2);
    Slot noType = At(1700000000, 3), groupTwo = At(1700000000, 4), noMask = At(1700000000, 5);
    Slot backwards = At(1700000000, 6);
    noType.flags = 0x08; // type bits 0: an empty slot whatever else it holds
    groupTwo.group = 2;
    noMask.mask = 0;
    backwards.end = backwards.start - 1;
    const auto mhs = Mhs(8, {{0, early},
                             {1, justAfter},
                             {2, noType},
                             {3, groupTwo},
                             {4, noMask},
                             {5, backwards},
                             {6, At(1700000000, 7)},
                             {7, At(1700000100, 8)}});
    DiskIndex index = Build(mhs, 7); // slot 7's block would lie past the disk's end
    EXPECT_EQ(Order(index), (std::vector<uint32_t>{1, 6}));
    EXPECT_EQ(index.emptySlots, 1u);
    EXPECT_EQ(index.invalidSlots, 4u);
    EXPECT_EQ(index.outsideSlots, 1u);
    EXPECT_EQ(index.startTime, 900000001u);
}

TEST(DiskIndex, BlocksOfADayOrMoreDoNotWidenTheRange) {
    const uint32_t t = 1700000000;
    DiskIndex index = Build(
        Mhs(3, {{0, At(t, 1, 86400)}, {1, At(t + 10, 2, 86399)}, {2, At(t + 100000, 3, 50)}}));
    EXPECT_EQ(Order(index), (std::vector<uint32_t>{0, 1, 2})); // kept as blocks
    EXPECT_EQ(index.startTime, t + 10);
    EXPECT_EQ(index.endTime, t + 100050);

    // When every block claims a day, the disk still has a range to play.
    index = Build(Mhs(2, {{0, At(t, 1, 90000)}, {1, At(t + 5, 2, 100000)}}));
    EXPECT_EQ(index.startTime, t);
    EXPECT_EQ(index.endTime, t + 100005);
}
