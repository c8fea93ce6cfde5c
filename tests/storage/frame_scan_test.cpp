// Blocks whose frame tables are damaged: judged from the tables, then read
// by a scan of the data area that takes only headers that fit the block.

#include "reader_test_support.h"

#include "platform/byte_order.h"
#include "storage/frame_scan.h"

#include <gtest/gtest.h>

#include <filesystem>

using namespace qm;
using namespace qm::test;

namespace {

constexpr uint32_t kStart = 1000;

// A little-endian frame header at unit `unit` of `data`.
void PutFrame(std::vector<uint8_t>& data, uint32_t unit, int channel, uint32_t time, bool key,
              uint16_t units) {
    uint8_t* h = data.data() + size_t(unit) * kUnitSize;
    storeLE32(h, kMagicFrame);
    storeLE32(h + 4, time);
    storeLE16(h + 12, key ? kFrameFlagKey : 0);
    storeLE32(h + 16, unit); // a sequence, unused by the scan
    storeLE16(h + 20, units);
    h[28] = uint8_t(channel);
}

std::vector<std::pair<uint32_t, uint16_t>> Keys(const ScannedFrames& f, int channel) {
    std::vector<std::pair<uint32_t, uint16_t>> out;
    for (const ScannedKeyFrame& k : f.key[channel])
        out.push_back({k.offset / kUnitSize, k.timeOffset});
    return out;
}
std::vector<uint32_t> Others(const ScannedFrames& f, int channel) {
    std::vector<uint32_t> out;
    for (uint32_t offset : f.other[channel])
        out.push_back(offset / kUnitSize);
    return out;
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> v;
    for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
        v.push_back(text.substr(at, nl - at));
    return v;
}

} // namespace

// A data area of exactly 40 units, so that a read past it is a read past the
// vector. Only frames that fit the block are taken, never a header inside a
// frame's payload, and nothing after LaSt; the tables are judged by their records.
TEST(FrameScan, TakesOnlyHeadersThatFitTheBlockAndJudgesTheTables) {
    std::vector<uint8_t> data(40 * kUnitSize);
    PutFrame(data, 0, 0, kStart, true, 4);
    PutFrame(data, 2, 1, kStart + 2, false, 1); // inside frame 0's payload, fits otherwise
    PutFrame(data, 4, 1, kStart, false, 2);
    PutFrame(data, 6, 5, kStart + 1, false, 3); // camera 6 is not in the block
    PutFrame(data, 9, 0, kStart + 7, false, 1); // after the block's end and its slack
    PutFrame(data, 10, 1, kStart + 1, true, 3);
    PutFrame(data, 13, 0, kStart + 6, false, 1); // the end's second of slack
    PutFrame(data, 14, 0, kStart - 1, true, 1);  // the start's second of slack
    PutFrame(data, 15, 0, kStart + 3, false, 0); // no length
    PutFrame(data, 38, 1, kStart + 4, false, 3); // would end past the data area
    PutFrame(data, 39, 0, kStart + 4, false, 1); // ends exactly at its end
    BlockHeader header;
    header.channelMask = 0x3;
    header.startTime = kStart;
    header.endTime = kStart + 5;
    const ByteView area(data.data(), data.size());

    const ScannedFrames found = scanFrames(area, header, 0, kByteOrderLittle);
    using KeyList = std::vector<std::pair<uint32_t, uint16_t>>;
    EXPECT_EQ(Keys(found, 0), (KeyList{{0, 0}, {14, 0}}));
    EXPECT_EQ(Others(found, 0), (std::vector<uint32_t>{13, 39}));
    EXPECT_EQ(Keys(found, 1), (KeyList{{10, 1}}));
    EXPECT_EQ(Others(found, 1), (std::vector<uint32_t>{4}));
    EXPECT_EQ(found.Count(), 6u);
    // The same mask in the second group names cameras 17 and 18.
    EXPECT_EQ(scanFrames(area, header, 1, kByteOrderLittle).Count(), 0u);
    // LaSt ends the frames.
    std::vector<uint8_t> ended = data;
    storeLE32(ended.data() + 15 * kUnitSize, kMagicLast);
    const ScannedFrames before =
        scanFrames(ByteView(ended.data(), ended.size()), header, 0, kByteOrderLittle);
    EXPECT_EQ(Others(before, 0), (std::vector<uint32_t>{13}));
    EXPECT_EQ(before.Count(), 5u);

    // The tables the DVR would have written for those frames.
    const std::pair<uint32_t, uint8_t> keys[] = {{0, 0}, {10, 1}, {14, 0}};
    const std::pair<uint32_t, uint8_t> others[] = {{4, 1}, {13, 0}, {39, 0}};
    std::vector<uint8_t> iTable(512), pTable(512);
    for (size_t i = 0; i < 3; ++i) {
        storeLE32(iTable.data() + i * 16 + 4, keys[i].first);
        iTable[i * 16 + 12] = keys[i].second;
        storeLE32(pTable.data() + i * 8, others[i].first);
        pTable[i * 8 + 4] = others[i].second;
    }
    const FrameTables tables{ByteView(iTable.data(), 512), 3, ByteView(pTable.data(), 512), 3};
    EXPECT_FALSE(frameTablesDamaged(tables, header, 0, area, kByteOrderLittle));
    // One record of six pointing at another camera's frame is not enough.
    std::vector<uint8_t> oneWrong = pTable;
    oneWrong[1 * 8 + 4] = 1;
    EXPECT_FALSE(frameTablesDamaged({tables.iTable, 3, ByteView(oneWrong.data(), 512), 3}, header,
                                    0, area, kByteOrderLittle));
    // Zeroed tables with their counts kept: every record points at offset 0.
    const std::vector<uint8_t> zeros(512);
    EXPECT_TRUE(frameTablesDamaged({ByteView(zeros.data(), 512), 3, ByteView(zeros.data(), 512), 3},
                                   header, 0, area, kByteOrderLittle));
    // No records although the block names cameras; none in a block of none.
    EXPECT_TRUE(frameTablesDamaged({}, header, 0, area, kByteOrderLittle));
    BlockHeader empty = header;
    empty.channelMask = 0;
    EXPECT_FALSE(frameTablesDamaged({}, empty, 0, area, kByteOrderLittle));
    // Sound records whose headers cannot be read do not check out.
    EXPECT_TRUE(frameTablesDamaged(tables, header, 0, data.size(), kByteOrderLittle,
                                   [](uint32_t) { return std::nullopt; }));
}

// A middle block's tables zeroed: the frames listing and the exports of the
// archive are those of the intact one, in either byte order.
TEST(FrameScan, ZeroedBlockTablesCostNoFrame) {
    for (const uint8_t byteOrder : {kByteOrderLittle, kByteOrderPayloadBig}) {
        SCOPED_TRACE(int(byteOrder));
        const std::string order = std::to_string(byteOrder);
        mkrec::RecordingPlan plan = SmallPlan();
        plan.byteOrder = byteOrder;
        plan.audio = {{1, kAudioTypeG711}};
        const std::string intact = WriteArchive(plan, "intact" + order + ".avr");
        const ArchiveMap map = MapArchive(ReadBytes(intact));
        ASSERT_GE(map.blocks.size(), 5u);
        plan.damage.zeroBlockTables = uint32_t(map.blocks.size() / 2);
        const std::string zeroed = WriteArchive(plan, "zeroed" + order + ".avr");
        ASSERT_NE(ReadBytes(zeroed), ReadBytes(intact));

        const ToolResult want = RunQmtool("frames --json " + intact);
        const ToolResult got = RunQmtool("frames --json " + zeroed);
        ASSERT_EQ(want.status, 0) << want.err;
        ASSERT_EQ(got.status, 0) << got.err;
        ASSERT_EQ(Lines(want.out).size(), ExpectedFrames(plan).size());
        EXPECT_EQ(Lines(got.out), Lines(want.out));

        // One camera read frame by frame, and every camera in one pass over
        // whole blocks.
        for (const std::string& source : {"intact" + order, "zeroed" + order}) {
            const std::string path = TempPath(source + ".avr");
            const ToolResult one = RunQmtool("export --channel 2 --no-manifest --out " +
                                             TempPath(source + "-cam2.avi") + " " + path);
            ASSERT_EQ(one.status, 0) << one.err;
            const std::string folder = TempPath(source + "-all");
            std::filesystem::create_directories(folder);
            const ToolResult all =
                RunQmtool("export --channel all --no-manifest --out " + folder + " " + path);
            ASSERT_EQ(all.status, 0) << all.err;
        }
        for (const char* file : {"-cam2.avi", "-all/CH01.avi", "-all/CH02.avi"}) {
            const auto a = ReadBytes(TempPath("intact" + order + file));
            ASSERT_FALSE(a.empty()) << file;
            EXPECT_TRUE(ReadBytes(TempPath("zeroed" + order + file)) == a) << file;
        }
    }
}
