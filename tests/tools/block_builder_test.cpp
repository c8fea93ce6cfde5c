#include "tools/mkrec/block_builder.h"

#include "platform/byte_order.h"

#include <gtest/gtest.h>

using namespace qm::mkrec;

namespace {

struct Collect : BlockSink {
    std::vector<Block> blocks;
    void putBlock(Block&& b) override { blocks.push_back(std::move(b)); }
};

SerializedFrame frame(size_t units, bool key, int channel = 0, uint32_t time = 1000) {
    SerializedFrame f;
    f.bytes.assign(units * 32, 0);
    qm::storeLE32(f.bytes.data(), 0x516D4668);
    f.key = key;
    f.channel = channel;
    f.time = time;
    return f;
}

} // namespace

TEST(BlockBuilder, KeepsRunsTogetherAndSplitsOversizedOnes) {
    Collect sink;
    // 16 KiB blocks: data area at most 16384 - 512 (header) - 1024 (tables) - 32 (LaSt).
    BlockBuilder builder(16384, false, 0, sink);
    std::vector<SerializedFrame> run = {frame(200, true), frame(100, false)}; // 9600 bytes
    builder.addRun(run);
    builder.addRun(run); // does not fit behind the first: starts a new block
    ASSERT_EQ(sink.blocks.size(), 1u);
    std::vector<SerializedFrame> big = {frame(300, true), frame(170, false)};
    builder.addRun(big); // larger than any block: spread over two
    builder.flush();
    builder.flush(); // nothing left: no empty block
    ASSERT_EQ(sink.blocks.size(), 4u);
    for (const Block& b : sink.blocks) {
        EXPECT_EQ(b.bytes.size(), 16384u);
        const uint8_t* h = b.bytes.data() + 16384 - 512;
        EXPECT_EQ(qm::loadLE32(h + 16), 0x516D4268u);
    }
    // The third block: the key frame alone, then LaSt right after it.
    const uint8_t* third = sink.blocks[2].bytes.data();
    EXPECT_EQ(qm::loadLE32(third + 300 * 32), 0x4C615374u);
    EXPECT_EQ(qm::loadLE32(third + 16384 - 512 + 20), 1u);    // one key frame
    EXPECT_EQ(qm::loadLE32(third + 16384 - 512 + 24), 0u);    // no others
    EXPECT_EQ(qm::loadLE32(third + 16384 - 512 + 46), 9600u); // data in use

    EXPECT_THROW(builder.addRun(std::vector<SerializedFrame>{frame(600, true)}), std::length_error);
}

TEST(BlockBuilder, TablesGrowBySectors) {
    Collect sink;
    BlockBuilder builder(1 << 20, true, 1, sink);
    std::vector<SerializedFrame> run;
    for (int i = 0; i < 40; ++i)
        run.push_back(frame(2, i % 10 == 0, 16 + i % 3, 5000 + i / 10));
    builder.addRun(run);
    builder.flush();
    ASSERT_EQ(sink.blocks.size(), 1u);
    const Block& b = sink.blocks[0];
    EXPECT_EQ(b.group, 1);
    EXPECT_EQ(b.channelMask, 0x7);
    EXPECT_EQ(b.start, 5000u);
    EXPECT_EQ(b.end, 5003u);
    const uint8_t* h = b.bytes.data() + (1 << 20) - 512;
    EXPECT_EQ(qm::loadLE16(h + 2), 0x7);   // channel mask, never converted
    EXPECT_EQ(qm::loadBE32(h + 4), 5000u); // converted
    EXPECT_EQ(qm::loadBE16(h + 20), 4);    // key count, 16 bits in front
    EXPECT_EQ(qm::loadLE32(h + 24), 36u);  // other count, never converted
    EXPECT_EQ(qm::loadLE16(h + 32), 1);    // NI
    EXPECT_EQ(qm::loadLE16(h + 34), 1);    // NP: 36 x 8 bytes fit one sector
    // The key frame at 5003 s sits at unit 60, three seconds into the block.
    const uint8_t* iTable = h - 512;
    EXPECT_EQ(qm::loadBE16(iTable + 3 * 16), 3);
    EXPECT_EQ(qm::loadBE16(iTable + 3 * 16 + 4), 60);
    EXPECT_EQ(iTable[3 * 16 + 12], 16);
}

TEST(BlockBuilder, BigEndianOffsetsStayWithin16Bits) {
    // A big-endian table keeps 16 bits of a frame's unit offset, so a 4 MiB
    // block may place frames only up to unit 0xFFFF; a little-endian one fills up.
    for (bool big : {false, true}) {
        Collect sink;
        BlockBuilder builder(4u << 20, big, 0, sink);
        for (int i = 0; i < 120; ++i)
            builder.addRun(std::vector<SerializedFrame>{frame(1000, i == 0)});
        builder.flush();
        ASSERT_EQ(sink.blocks.size(), big ? 2u : 1u);
        const uint8_t* h = sink.blocks[0].bytes.data() + (4u << 20) - 512;
        EXPECT_EQ(qm::loadLE32(h + 24), big ? 65u : 119u) << "frames after the key frame";
    }
}
