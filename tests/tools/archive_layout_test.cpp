// Structure of generated archives, read back by the tests' own walker.

#include "tools/mkrec/frame_writer.h"

#include "platform/byte_order.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <map>

using namespace qm::mkrec;
using namespace qm::test;

namespace {

void expectClean(const WalkedArchive& a) {
    for (const std::string& e : a.errors)
        ADD_FAILURE() << e;
}

std::map<int, std::vector<const WalkedFrame*>> byChannel(const WalkedArchive& a) {
    std::map<int, std::vector<const WalkedFrame*>> out;
    for (const WalkedFrame& f : a.frames)
        out[f.channel].push_back(&f);
    return out;
}

// Time order of the blocks, which the reader's lists rely on.
void expectBlocksInTimeOrder(const WalkedArchive& a) {
    for (size_t i = 1; i < a.blocks.size(); ++i)
        EXPECT_LE(a.blocks[i - 1].miniStart, a.blocks[i].miniStart) << "block " << i;
    for (const WalkedBlock& b : a.blocks) {
        EXPECT_EQ(b.miniType, 1);
        EXPECT_EQ(b.headerStart, b.miniStart);
        EXPECT_EQ(b.headerEnd, b.miniEnd);
        EXPECT_GT(b.frameCount, 0u);
    }
}

} // namespace

TEST(ArchiveLayout, OneGroupLittleEndian) {
    RecordingPlan plan = smallPlan();
    plan.audio[1] = 5;
    plan.timeZone = 40;
    plan.timeOffset = 16;
    WalkedArchive a = generateAndWalk(plan);
    expectClean(a);
    EXPECT_EQ(a.byteOrder, 1);
    EXPECT_EQ(a.codecByte, 0x20);
    EXPECT_EQ(a.channelMask, 0x3u);
    EXPECT_EQ(a.blockSize, plan.blockSize);
    EXPECT_EQ(a.timeOffset, 16);
    EXPECT_EQ(a.start, plan.start);
    EXPECT_EQ(a.end, plan.start + plan.durationSeconds - 1);
    ASSERT_FALSE(a.blocks.empty());
    EXPECT_EQ(a.blocks.front().miniStart, a.start);
    EXPECT_EQ(a.blocks.back().miniEnd, a.end);
    expectBlocksInTimeOrder(a);

    auto channels = byChannel(a);
    ASSERT_EQ(channels.size(), 2u);
    for (auto& [ch, frames] : channels) {
        ASSERT_EQ(frames.size(), size_t(plan.durationSeconds * plan.fps));
        for (size_t n = 0; n < frames.size(); ++n) {
            const WalkedFrame& f = *frames[n];
            EXPECT_EQ(f.sequence, n);
            EXPECT_EQ(f.time, plan.start + n / plan.fps);
            EXPECT_EQ(f.milliseconds, (n % plan.fps) * 1000 / plan.fps);
            EXPECT_EQ(f.key, n % plan.fps == 0) << n;
            EXPECT_EQ(f.width, 176);
            EXPECT_EQ(f.height, 144);
            EXPECT_EQ(f.timeZone, 40);
            EXPECT_EQ(f.title, "CAM " + std::to_string(ch + 1));
            EXPECT_FALSE(f.video.empty());
            EXPECT_EQ(f.audioType, ch == 1 ? 5 : 0);
            EXPECT_EQ(f.audio.empty(), ch != 1);
        }
    }
    // A key frame and its followers stay together, so each block opens every
    // channel with a key frame: the reader needs one to start a channel.
    std::map<std::pair<size_t, int>, bool> firstInBlock;
    for (const WalkedFrame& f : a.frames)
        firstInBlock.try_emplace({f.block, f.channel}, f.key);
    for (auto& [where, key] : firstInBlock)
        EXPECT_TRUE(key) << "block " << where.first;
}

TEST(ArchiveLayout, BigEndianHoldsTheSameFrames) {
    RecordingPlan plan = smallPlan();
    plan.audio[0] = 2;
    const WalkedArchive little = generateAndWalk(plan, "le.avr");
    plan.byteOrder = 0;
    const std::string path = tempFile("be.avr");
    writeArchive(plan, path);
    const std::vector<uint8_t> file = readFile(path);
    const WalkedArchive big = walkArchive(file);
    expectClean(big);
    EXPECT_TRUE(big.bigEndian);
    // The magic words are converted fields: stored high byte first.
    const uint8_t* header = file.data() + file.size() - 512;
    EXPECT_EQ(std::vector<uint8_t>(header, header + 4), (std::vector<uint8_t>{'Q', 'm', 'X', 'f'}));
    EXPECT_EQ(std::vector<uint8_t>(file.begin(), file.begin() + 4),
              (std::vector<uint8_t>{'Q', 'm', 'F', 'h'}));

    ASSERT_EQ(big.frames.size(), little.frames.size());
    ASSERT_EQ(big.blocks.size(), little.blocks.size());
    for (size_t i = 0; i < big.frames.size(); ++i) {
        EXPECT_EQ(big.frames[i].video, little.frames[i].video);
        EXPECT_EQ(big.frames[i].audio, little.frames[i].audio);
        EXPECT_EQ(big.frames[i].sequence, little.frames[i].sequence);
        EXPECT_EQ(big.frames[i].time, little.frames[i].time);
    }
}

TEST(ArchiveLayout, TwoGroupsInterleaveInTimeOrder) {
    RecordingPlan plan = smallPlan();
    plan.channels = {0, 17};
    plan.fps = 25;
    plan.blockSize = 16 * 1024;
    WalkedArchive a = generateAndWalk(plan);
    expectClean(a);
    EXPECT_EQ(a.channelMask, 0x20001u);
    expectBlocksInTimeOrder(a);
    int groups[2] = {0, 0};
    for (const WalkedBlock& b : a.blocks) {
        ASSERT_LT(b.group, 2);
        ++groups[b.group];
        EXPECT_EQ(b.channelMask, b.group == 0 ? 0x1 : 0x2);
    }
    EXPECT_GT(groups[0], 1);
    EXPECT_GT(groups[1], 1);
    auto channels = byChannel(a);
    EXPECT_EQ(channels[0].size(), 75u);
    EXPECT_EQ(channels[17].size(), 75u);
}

TEST(ArchiveLayout, GapsAndSizeChanges) {
    RecordingPlan plan = smallPlan();
    plan.durationSeconds = 6;
    plan.gaps = {{1, 3}};
    plan.sizeChanges = {{4, {160, 128}}};
    plan.gop = 100; // key frames come only from the gap and the size change
    WalkedArchive a = generateAndWalk(plan);
    expectClean(a);
    const uint32_t gapFrom = plan.start + 1, gapTo = plan.start + 3;
    for (const WalkedBlock& b : a.blocks)
        EXPECT_TRUE(b.miniEnd < gapFrom || b.miniStart >= gapTo) << "a block spans the gap";
    for (auto& [ch, frames] : byChannel(a)) {
        ASSERT_EQ(frames.size(), 4u * plan.fps);
        for (const WalkedFrame* f : frames) {
            EXPECT_FALSE(f->time >= gapFrom && f->time < gapTo);
            const bool resized = f->time >= plan.start + 4;
            EXPECT_EQ(f->width, resized ? 160 : 176);
            EXPECT_EQ(f->height, resized ? 128 : 144);
            const uint32_t n = f->sequence; // frame numbers count the gap too
            EXPECT_EQ(f->key, n == 0 || n == 3u * plan.fps || n == 4u * plan.fps) << n;
        }
    }
}

TEST(FrameWriter, AreasAndWideSizes) {
    FrameContent f;
    f.channel = 20;
    f.key = true;
    f.width = 3840;
    f.height = 2160;
    f.video.assign(100, 0xAB); // 4 + 100 bytes -> 4 units
    f.audioType = 5;
    f.audio.assign(320, 0x55); // 4 + 320 bytes -> 11 units
    f.title = "A TITLE LONGER THAN THE THIRTY-TWO BYTE BLOCK";
    for (bool big : {false, true}) {
        SerializedFrame s = serializeFrame(f, big);
        const uint8_t* h = s.bytes.data();
        auto u16 = [&](size_t off) { return big ? qm::loadBE16(h + off) : qm::loadLE16(h + off); };
        EXPECT_EQ(u16(12), 0xC011); // key, extensions valid, width and height extension 1
        EXPECT_EQ(h[14], 0xE0);
        EXPECT_EQ(h[15], 0x0E);
        EXPECT_EQ(u16(22), 4);  // A1
        EXPECT_EQ(u16(24), 15); // A2
        EXPECT_EQ(u16(26), 15); // A3: no user data
        EXPECT_EQ(u16(20), 17); // header + 15 units + information block
        EXPECT_EQ(s.bytes.size(), 17u * 32);
        const uint8_t* info = h + 32 + 15 * 32;
        std::string title; // UTF-16LE, cut to 15 units so a zero unit ends it
        for (size_t i = 0; i < 16 && (info[2 * i] || info[2 * i + 1]); ++i)
            title.push_back(char(info[2 * i]));
        EXPECT_EQ(title, f.title.substr(0, 15));
        EXPECT_EQ(info[30], 0);
        EXPECT_EQ(info[31], 0);
        const uint32_t audioLength =
            big ? qm::loadBE32(h + 32 + 4 * 32) : qm::loadLE32(h + 32 + 4 * 32);
        EXPECT_EQ(audioLength, 320u);
    }
}
