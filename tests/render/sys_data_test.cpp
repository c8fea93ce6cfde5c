// Sound blocks: capacity steps of 8192 bytes that never shrink, the length
// word, and what Alloc refuses.

#include "platform/byte_order.h"
#include "render/sys_data.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(SysData, CapacityGrowsInStepsOf8192AndNeverShrinks) {
    // 640 bytes of sound: n = 672, 676 with the length word -> 8192. 8188
    // bytes: n = 8220, 8224 in all -> 16384; exactly 8192 in all needs 16384 too.
    for (const auto& [n, capacity] :
         {std::pair{672u, 8192u}, {8220u, 16384u}, {8188u, 16384u}, {8187u, 8192u}}) {
        TSysData block;
        uint8_t* area = block.Alloc(n);
        EXPECT_EQ(block.Capacity(), capacity) << n;
        EXPECT_EQ(area, block.Memory() + 4);
        EXPECT_EQ(block.Samples(), area + 32);
        EXPECT_EQ(block.SampleBytes(), n - 32);
        EXPECT_EQ(loadLE32(block.Memory()), n);
    }
    TSysData block;
    block.Alloc(20000);
    uint8_t* const memory = block.Memory();
    EXPECT_EQ(block.Capacity(), 24576u);
    block.Alloc(100);
    EXPECT_EQ(block.Capacity(), 24576u);
    EXPECT_EQ(block.Memory(), memory);
    EXPECT_EQ(loadLE32(block.Memory()), 100u);
    // No room for the header, or beyond the limit: refused, the block unchanged.
    EXPECT_EQ(block.Alloc(31), nullptr);
    EXPECT_EQ(block.Alloc(0xFFFFFFFFu), nullptr);
    EXPECT_EQ(block.Size(), 100u);
}

} // namespace
} // namespace qm
