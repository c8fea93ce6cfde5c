// Channel lists and the cell geometry of the five split layouts.

#include "player/player_layout.h"

#include <gtest/gtest.h>

#include <vector>

namespace qm {
namespace {

std::vector<int> Cells(const Layout& layout, const std::vector<int>& channels) {
    std::vector<int> out;
    for (int c : channels) {
        const CellRect& r = layout.cell[c];
        out.insert(out.end(), {r.left, r.top, r.right, r.bottom});
    }
    return out;
}

TEST(ChannelLists, MaskFillsEveryListInAscendingOrder) {
    ChannelLists lists;
    lists.SetFromMask((1u << 2) | (1u << 5) | (1u << 9));
    EXPECT_EQ(lists.single, 2);
    EXPECT_EQ(lists.quad, (std::array<int, 4>{2, 5, 9, -1}));
    EXPECT_EQ(lists.nine, (std::array<int, 9>{2, 5, 9, -1, -1, -1, -1, -1, -1}));
    EXPECT_EQ(lists.sixteen[2], 9);
    EXPECT_EQ(lists.sixteen[3], -1);
    EXPECT_EQ(lists.thirtyTwo[31], -1);

    // More channels than a list holds: the list takes the lowest ones.
    lists.SetFromMask(0xFFFF0000u);
    EXPECT_EQ(lists.single, 16);
    EXPECT_EQ(lists.quad, (std::array<int, 4>{16, 17, 18, 19}));
    EXPECT_EQ(lists.sixteen[15], 31);
    EXPECT_EQ(lists.sixteen[16], -1); // only the first 16 entries are used

    // No channel enabled: the single channel stays, every list is empty.
    lists.SetFromMask(0);
    EXPECT_EQ(lists.single, 16);
    EXPECT_EQ(lists.ModeSet(5), 0u);
    EXPECT_EQ(lists.ModeSet(1), 1u << 16);
}

TEST(Layout, EmptyQuadEntryGoesHiddenToTheLowestUnlistedChannel) {
    ChannelLists lists;
    lists.SetFromMask((1u << 2) | (1u << 5) | (1u << 9));
    const Layout quad = ComputeLayout(2, 640, 480, lists);
    EXPECT_EQ(Cells(quad, {2, 5, 9, 0}), (std::vector<int>{0, 0, 320, 240, 320, 0, 640, 240, 0, 240,
                                                           320, 480, 320, 240, 640, 480}));
    EXPECT_EQ(quad.DisplayedMask(), (1u << 2) | (1u << 5) | (1u << 9));
    EXPECT_FALSE(quad.displayed[0]);

    // In mode 3 the six empty cells all fall to channel 0, the last one wins.
    const Layout nine = ComputeLayout(3, 300, 300, lists);
    EXPECT_EQ(Cells(nine, {0}), (std::vector<int>{200, 200, 300, 300}));
    EXPECT_FALSE(nine.displayed[0]);

    // Channels 0 to 2 are listed, so every empty cell goes to channel 3.
    lists.SetFromMask(0x7);
    const Layout sixteen = ComputeLayout(4, 400, 400, lists);
    EXPECT_EQ(Cells(sixteen, {1, 3}), (std::vector<int>{100, 0, 200, 100, 300, 300, 400, 400}));
    EXPECT_TRUE(sixteen.displayed[1]);
    EXPECT_FALSE(sixteen.displayed[3]);
}

TEST(Layout, NineSplitSharesTheWidthRemainderOverTheRightColumns) {
    ChannelLists lists;
    const Layout w800 = ComputeLayout(3, 800, 600, lists);
    EXPECT_EQ(Cells(w800, {0, 1, 2, 8}), (std::vector<int>{0, 0, 266, 200, 266, 0, 533, 200, 533, 0,
                                                           800, 200, 533, 400, 800, 600}));
    const Layout w799 = ComputeLayout(3, 799, 300, lists);
    EXPECT_EQ(Cells(w799, {0, 1, 2}),
              (std::vector<int>{0, 0, 266, 100, 266, 0, 532, 100, 532, 0, 799, 100}));
    const Layout w798 = ComputeLayout(3, 798, 300, lists);
    EXPECT_EQ(w798.cell[2].right, 798);
    EXPECT_EQ(w798.cell[1].Width(), 266);
}

TEST(Layout, ThirtyTwoSplitUnitsAndRemainders) {
    ChannelLists lists;
    const Layout even = ComputeLayout(5, 1000, 600, lists);
    EXPECT_EQ(Cells(even, {0, 3, 4, 15, 16, 31}),
              (std::vector<int>{0,   0,   375,  225, 375, 225, 750, 450, 750, 0,   875,  75,
                                875, 375, 1000, 450, 0,   450, 125, 525, 875, 525, 1000, 600}));
    EXPECT_EQ(even.DisplayedMask(), 0xFFFFFFFFu);

    // 1007 x 605: unit 125 x 75, remainders 7 and 5 shared by columns/rows 6 and 7.
    const Layout odd = ComputeLayout(5, 1007, 605, lists);
    EXPECT_EQ(Cells(odd, {4, 5, 22, 23, 31}),
              (std::vector<int>{750, 0,   878, 75,  878,  0,   1007, 75,  750,  450,
                                878, 527, 878, 450, 1007, 527, 878,  527, 1007, 605}));
    // Rows 6 and 7 tile the width without gaps or overlaps.
    for (int i = 16; i < 31; ++i) {
        if (i == 23) continue;
        EXPECT_EQ(odd.cell[i].right, odd.cell[i + 1].left) << i;
    }
    EXPECT_EQ(odd.cell[0].right, odd.cell[1].left);
    EXPECT_EQ(odd.cell[1].right, odd.cell[4].left);
}

TEST(Layout, SingleAndSixteenSplits) {
    ChannelLists lists;
    lists.SetFromMask(1u << 7);
    const Layout single = ComputeLayout(1, 703, 479, lists);
    EXPECT_EQ(Cells(single, {7}), (std::vector<int>{0, 0, 703, 479}));
    EXPECT_EQ(single.DisplayedMask(), 1u << 7);

    lists.SetFromMask(0xFFFFFFFFu);
    const Layout sixteen = ComputeLayout(4, 803, 603, lists);
    EXPECT_EQ(Cells(sixteen, {5, 15}), (std::vector<int>{200, 150, 400, 300, 600, 450, 800, 600}));
    EXPECT_EQ(sixteen.DisplayedMask(), 0xFFFFu);
}

} // namespace
} // namespace qm
