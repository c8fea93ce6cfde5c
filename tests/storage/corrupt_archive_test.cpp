// Damaged archives: the reader refuses them at open or skips what is bad,
// always in bounded time, and never changes the file.

#include "reader_test_support.h"

#include "platform/byte_order.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <utility>

using namespace qm;
using namespace qm::test;

namespace {

struct Variant {
    std::string name;
    std::vector<uint8_t> bytes;
};

// One archive shared by the cases: two groups, audio, several blocks.
class CorruptArchive : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        plan = new mkrec::RecordingPlan(SmallPlan());
        plan->channels = {0, 1, 16};
        plan->durationSeconds = 3;
        plan->audio = {{0, 2}};
    }
    static void TearDownTestSuite() {
        delete plan;
        plan = nullptr;
    }
    void SetUp() override {
        const std::string path = WriteArchive(*plan);
        original = ReadBytes(path);
        map = MapArchive(original);
        expected = ExpectedFrames(*plan);
        ASSERT_GE(map.blocks.size(), 4u);
    }

    // Opens the variant and plays it forward, then in reverse from its end.
    // Returns the frames of the forward pass; fails the test on a loop that
    // does not end or a file that changed.
    std::vector<Delivered> Play(const Variant& v, bool* opened = nullptr) {
        SCOPED_TRACE(v.name);
        const std::string path = TempPath("variant.avr");
        WriteBytes(path, v.bytes);
        const uint64_t before = Fnv1a(v.bytes);
        std::vector<Delivered> got;
        {
            CQMParseIndex reader;
            const bool ok = reader.OpenFile(path) == 1;
            if (opened) *opened = ok;
            if (ok) {
                ReadLimits limits;
                limits.stallMs = 300;
                limits.deadlineMs = 10000;
                limits.maxFrames = 4 * expected.size() + 100;
                ReadOutcome outcome;
                got = ReadForward(reader, limits, &outcome);
                EXPECT_FALSE(outcome.timedOut);
                EXPECT_LT(got.size(), limits.maxFrames);
                if (reader.SeekByTime(reader.m_nEndTime, 1)) {
                    const auto back = ReadReverse(reader, limits, &outcome);
                    EXPECT_FALSE(outcome.timedOut);
                    EXPECT_LT(back.size(), limits.maxFrames);
                }
                for (const Delivered& d : got) {
                    EXPECT_TRUE(reader.m_nChannelMask & (1u << d.video.channel));
                    EXPECT_LE(uint32_t(d.video.size), kVideoPayloadCapacity);
                }
            }
        }
        EXPECT_EQ(Fnv1a(ReadBytes(path)), before) << "the reader must not write";
        return got;
    }

    // The written frames minus those with the given (channel, sequence).
    std::vector<std::pair<int, uint32_t>>
    ExpectedKeys(const std::set<std::pair<int, uint32_t>>& dropped = {}) const {
        std::vector<std::pair<int, uint32_t>> out;
        for (const ExpectedFrame& f : expected)
            if (!dropped.count({f.channel, f.sequence})) out.push_back({f.channel, f.sequence});
        return out;
    }
    static std::vector<std::pair<int, uint32_t>> Keys(const std::vector<Delivered>& got) {
        std::vector<std::pair<int, uint32_t>> out;
        for (const Delivered& d : got)
            out.push_back({int(d.video.channel), uint32_t(d.video.sequence)});
        return out;
    }

    // Channel and sequence of the frame whose header lies at `position`.
    std::pair<int, uint32_t> FrameAt(uint64_t position) const {
        return {original[position + 28], loadLE32(&original[position + 16])};
    }
    // The n-th P frame of channel 0 (key frames when `key`), in table order.
    const FrameLocation& PickFrame(bool key, int n) const {
        for (const FrameLocation& f : map.frames)
            if (f.channel == 0 && f.key == key && n-- == 0) return f;
        throw std::runtime_error("no such frame");
    }

    static mkrec::RecordingPlan* plan;
    std::vector<uint8_t> original;
    ArchiveMap map;
    std::vector<ExpectedFrame> expected;
};

mkrec::RecordingPlan* CorruptArchive::plan = nullptr;

} // namespace

TEST_F(CorruptArchive, TheUntouchedArchivePlaysCompletely) {
    EXPECT_EQ(Keys(Play({"original", original})), ExpectedKeys());
}

// One damaged frame is skipped (or dropped by the getter) and costs nothing else.
TEST_F(CorruptArchive, ADamagedFrameIsSkippedAlone) {
    struct Damage {
        const char* name;
        bool key;
        std::function<void(uint8_t*)> apply; // on the frame header
    };
    const Damage damages[] = {
        {"marker", false, [](uint8_t* h) { h[0] ^= 0xFF; }},
        {"wrong channel", false, [](uint8_t* h) { h[28] = 1; }},
        {"no video, audio only", false, [](uint8_t* h) { storeLE16(h + 22, 0); }},
        {"length 1", false, [](uint8_t* h) { storeLE16(h + 20, 1); }},
        {"length 0", true, [](uint8_t* h) { storeLE16(h + 20, 0); }},
        {"length past the data area", false, [](uint8_t* h) { storeLE16(h + 20, 0xFFFF); }},
        {"areas out of order", false,
         [](uint8_t* h) { storeLE16(h + 22, uint16_t(loadLE16(h + 24) + 1)); }},
        {"info block past the length", true,
         [](uint8_t* h) { storeLE16(h + 26, uint16_t(loadLE16(h + 20))); }},
        {"video length word too large", false,
         [](uint8_t* h) { storeLE32(h + 32, uint32_t(loadLE16(h + 22)) * 32 + 1); }},
        {"key frame video length word too large", true,
         [](uint8_t* h) { storeLE32(h + 32, 0x7FFFFFFF); }},
    };
    for (const Damage& d : damages) {
        const FrameLocation& where = PickFrame(d.key, 2);
        auto bytes = original;
        d.apply(&bytes[where.position]);
        const auto got = Play({d.name, bytes});
        EXPECT_EQ(Keys(got), ExpectedKeys({FrameAt(where.position)})) << d.name;
    }
}

// Without a block nothing opens; a header or table that cannot be believed
// is passed over, and the blocks found by scanning give every frame written.
TEST_F(CorruptArchive, BrokenOpeningStructuresAreRefusedOrScanned) {
    const auto header = [&](std::function<void(std::vector<uint8_t>&)> f) {
        auto b = original;
        f(b);
        return b;
    };
    const Variant refused[] = {
        {"empty", {}},
        {"header only", std::vector<uint8_t>(original.end() - 512, original.end())},
    };
    for (const Variant& v : refused) {
        bool opened = true;
        Play(v, &opened);
        EXPECT_FALSE(opened) << v.name;
    }
    const Variant scanned[] = {
        {"block size 0", header([](auto& b) { PutHeader32(b, 140, 0); })},
        {"block size not whole sectors",
         header([&](auto& b) { PutHeader32(b, 140, map.blockSize + 100); })},
        {"block size beyond the file", header([](auto& b) { PutHeader32(b, 140, 0xFFFFFE00u); })},
        {"huge mini count", header([](auto& b) { PutHeader32(b, 112, 0xFFFFFFFFu); })},
        {"mini table past the end",
         header([&](auto& b) { PutHeader32(b, 116, uint32_t(b.size())); })},
        {"mini table zeroed", header([&](auto& b) {
             std::fill(b.begin() + long(map.miniTable), b.begin() + long(map.headerPosition), 0);
         })},
    };
    const auto written = ExpectedKeys();
    for (const Variant& v : scanned) {
        bool opened = false;
        const auto got = Play(v, &opened);
        EXPECT_TRUE(opened) << v.name;
        EXPECT_EQ(Keys(got), written) << v.name;
    }
}

// A copy cut short: as found (its header gone) or with the index rebuilt for
// the bytes that remain, so that the reader meets blocks the file does not hold.
TEST_F(CorruptArchive, TruncatedCopies) {
    const BlockLocation& last = map.blocks.back();
    const BlockLocation& mid = map.blocks[map.blocks.size() / 2];
    const std::pair<const char*, uint64_t> cuts[] = {
        {"inside the archive header", original.size() - 100},
        {"before the archive header", map.headerPosition},
        {"inside the mini table", map.miniTable + 8},
        {"inside a block header", last.header + 40},
        {"inside an I table", mid.iTable + 10},
        {"inside a P table", mid.pTable + 4},
        {"inside frames", mid.start + 1000},
        {"after the first block", map.blocks[0].header + 512},
        {"inside the first block", map.blocks[0].start + 100},
    };
    const std::vector<uint8_t> miniTable(original.begin() + long(map.miniTable),
                                         original.begin() + long(map.headerPosition));
    const std::vector<uint8_t> header(original.end() - 512, original.end());
    const auto written = ExpectedKeys();
    for (const auto& [name, at] : cuts) {
        std::vector<uint8_t> cut(original.begin(), original.begin() + long(at));
        // As found, the header is gone: the scan finds the blocks still
        // whole, and they play whole; with none left nothing opens.
        bool opened = false;
        const auto found = Play({std::string(name) + " (as found)", cut}, &opened);
        EXPECT_EQ(opened, at >= map.blocks[0].header + 512) << name;
        std::vector<std::pair<int, uint32_t>> whole;
        for (const BlockLocation& block : map.blocks)
            if (block.header + 512 <= at)
                for (const auto& frame : map.frames)
                    if (frame.position >= block.start && frame.position < block.header)
                        whole.push_back(FrameAt(frame.position));
        std::sort(whole.begin(), whole.end());
        auto keys = Keys(found);
        std::sort(keys.begin(), keys.end());
        EXPECT_EQ(keys, whole) << name;

        // The index and header appended after the remaining bytes.
        std::vector<uint8_t> rebuilt = cut;
        const uint64_t tableAt = rebuilt.size();
        rebuilt.insert(rebuilt.end(), miniTable.begin(), miniTable.end());
        rebuilt.insert(rebuilt.end(), header.begin(), header.end());
        uint8_t* h = &rebuilt[rebuilt.size() - 512];
        storeLE64(h + 116, tableAt);
        const auto got = Play({std::string(name) + " (index rebuilt)", rebuilt}, &opened);
        // Whatever plays is written frames, each once.
        std::set<std::pair<int, uint32_t>> seen;
        for (const auto& k : Keys(got)) {
            EXPECT_TRUE(std::find(written.begin(), written.end(), k) != written.end()) << name;
            EXPECT_TRUE(seen.insert(k).second)
                << name << ": CH" << k.first << " seq " << k.second << " twice";
        }
    }
}

// Random bytes over each structure: whatever the reader makes of them, it
// ends, stays inside its buffers and leaves the file alone.
TEST_F(CorruptArchive, RandomBytesInEveryStructure) {
    std::mt19937 rng(20240607);
    struct Range {
        const char* name;
        uint64_t from, length;
    };
    const BlockLocation& b1 = map.blocks[1];
    const Range ranges[] = {
        {"archive header", map.headerPosition, 512},
        {"mini table", map.miniTable, uint64_t(map.miniCount) * 16},
        {"block header", b1.header, 64},
        {"I table", b1.iTable, 512},
        {"P table", b1.pTable, 512},
        {"frame headers", PickFrame(true, 1).position, 32},
        {"frames", b1.start, b1.dataLength},
        {"first block", 0, map.blockSize},
    };
    for (const Range& r : ranges) {
        for (int round = 0; round < 4; ++round) {
            auto bytes = original;
            std::uniform_int_distribution<uint64_t> pos(r.from, r.from + r.length - 1);
            const int flips = round == 3 ? int(r.length) : 1 + round * 7;
            for (int i = 0; i < flips; ++i)
                bytes[pos(rng)] = uint8_t(rng());
            Play({std::string(r.name) + " round " + std::to_string(round), bytes});
        }
    }
}

TEST_F(CorruptArchive, QmtoolExitsCleanly) {
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        int status;
    };
    auto zeroBlockSize = original;
    PutHeader32(zeroBlockSize, 140, 0);
    auto wrongMagic = original; // the reader leaves that test to its caller
    wrongMagic[map.headerPosition] ^= 0x55;
    auto badFrames = original;
    for (uint64_t i = map.blocks[1].start; i < map.blocks[1].start + 2000; ++i)
        badFrames[i] = uint8_t(i * 7);
    const Case cases[] = {
        {"truncated", std::vector<uint8_t>(original.begin(), original.begin() + 3000), 1},
        // Read through the scan, with one line saying so.
        {"zero block size", zeroBlockSize, 0},
        {"wrong magic", wrongMagic, 0},
        {"damaged frames", badFrames, 0},
    };
    for (const Case& c : cases) {
        const std::string path = TempPath("tool.avr");
        WriteBytes(path, c.bytes);
        for (const char* command : {"info", "frames", "frames --json"}) {
            const ToolResult r = RunQmtool(std::string(command) + " '" + path + "'");
            EXPECT_EQ(r.status, c.status) << c.name << ": " << command;
            if (c.bytes.size() == original.size() && c.status == 0 && &c != &cases[3]) {
                EXPECT_EQ(r.err.rfind("qmtool: index damaged: ", 0), 0u) << c.name << r.err;
            }
            if (r.status == 1) {
                EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << r.err;
                EXPECT_EQ(r.err.rfind("qmtool: ", 0), 0u) << r.err;
                EXPECT_TRUE(r.out.empty());
            }
        }
        EXPECT_EQ(Fnv1a(ReadBytes(path)), Fnv1a(c.bytes));
    }
}
