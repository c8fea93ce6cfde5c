// Finding an archive's blocks by scanning, as a damaged index needs: every
// block of a whole archive, only the whole blocks of a cut one, the blocks a
// zeroed table no longer lists, and nothing in a file that is no recording.

#include "reader_test_support.h"

#include "storage/archive_scan.h"
#include "storage/file_reader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

namespace {

std::vector<uint8_t> Bytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string Written(const std::string& name, const std::vector<uint8_t>& bytes) {
    const std::string path = TempPath(name);
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return path;
}

ArchiveScan Scan(const std::string& path) {
    const int fd = OpenReadOnly(path);
    IndexError error;
    auto scan = ScanArchive(fd, FileLength(fd), error);
    ::close(fd);
    EXPECT_TRUE(scan) << error.text;
    return scan.value_or(ArchiveScan{});
}

} // namespace

TEST(ArchiveScan, FindsTheWholeBlocksWhateverHappenedToTheIndex) {
    for (const uint8_t byteOrder : {kByteOrderLittle, kByteOrderPayloadBig}) {
        SCOPED_TRACE(int(byteOrder));
        mkrec::RecordingPlan plan = SmallPlan();
        plan.channels = {0, 17}; // one camera in each group
        plan.byteOrder = byteOrder;
        plan.durationSeconds = 40; // blocks past the first reads are read one sector a block
        const std::string archive = WriteArchive(plan);
        const std::vector<uint8_t> bytes = Bytes(archive);
        const uint32_t B = plan.blockSize;

        // The index as written, to compare with.
        const int fd = OpenReadOnly(archive);
        IndexError error;
        const auto header = ReadArchiveHeader(fd, FileLength(fd), error);
        ASSERT_TRUE(header);
        const auto listed = ReadArchiveBlocks(fd, *header, FileLength(fd), kEveryGroup, error);
        ::close(fd);
        ASSERT_TRUE(listed);
        ASSERT_GE(listed->size(), 40u);

        const ArchiveScan whole = Scan(archive);
        EXPECT_EQ(whole.blockSize, B);
        EXPECT_EQ(whole.byteOrder, byteOrder);
        EXPECT_TRUE(whole.tableUsable) << whole.indexProblem;
        ASSERT_EQ(whole.blocks.size(), listed->size());
        for (size_t i = 0; i < listed->size(); ++i) {
            EXPECT_EQ(whole.blocks[i].number, (*listed)[i].number) << i;
            EXPECT_EQ(whole.blocks[i].group, (*listed)[i].mini.group) << i;
            EXPECT_EQ(whole.blocks[i].header.startTime, (*listed)[i].mini.startTime) << i;
            EXPECT_TRUE(whole.blocks[i].indexed) << i;
        }
        EXPECT_TRUE(whole.damage.empty());

        // Cut inside block 3: blocks 0-2 stay, the rest is an incomplete block.
        const size_t cutAt = 3 * size_t(B) + B / 2;
        const ArchiveScan cut =
            Scan(Written("cut.avr", std::vector<uint8_t>(bytes.begin(), bytes.begin() + cutAt)));
        EXPECT_FALSE(cut.headerUsable);
        EXPECT_EQ(cut.blockSize, B);
        ASSERT_EQ(cut.blocks.size(), 3u);
        EXPECT_EQ(cut.blocks.back().number, 2u);
        EXPECT_EQ(cut.Indexed(), 0u);
        ASSERT_EQ(cut.damage.size(), 1u);
        EXPECT_EQ(cut.damage[0].offset, 3u * B);
        EXPECT_EQ(cut.damage[0].length, B / 2);

        // The mini header table zeroed: every block found, none indexed; a
        // block whose header is zeroed too leaves a hole where it was.
        std::vector<uint8_t> zeroed = bytes;
        const size_t table = size_t(header->miniTableOffset);
        std::fill(zeroed.begin() + std::ptrdiff_t(table),
                  zeroed.begin() + std::ptrdiff_t(table + header->miniHeaderCount * 16), 0);
        std::fill(zeroed.begin() + 2 * B - 512, zeroed.begin() + 2 * B, 0);
        // A late block loses its header too, and holds a copy of one out of
        // place: neither may shift the blocks around it.
        const size_t late = listed->size() - 3;
        std::copy(bytes.begin() + B - 512, bytes.begin() + B, zeroed.begin() + late * B + 1024);
        std::fill(zeroed.begin() + (late + 1) * B - 512, zeroed.begin() + (late + 1) * B, 0);
        const ArchiveScan noTable = Scan(Written("notable.avr", zeroed));
        EXPECT_TRUE(noTable.headerUsable);
        EXPECT_FALSE(noTable.tableUsable);
        EXPECT_EQ(noTable.blockSize, B);
        ASSERT_EQ(noTable.blocks.size(), listed->size() - 2);
        EXPECT_EQ(noTable.blocks.back().number, listed->back().number);
        EXPECT_EQ(noTable.Indexed(), 0u);
        ASSERT_EQ(noTable.damage.size(), 2u);
        EXPECT_EQ(noTable.damage[0].offset, uint64_t(B));
        EXPECT_EQ(noTable.damage[0].length, uint64_t(B));
        EXPECT_EQ(noTable.damage[1].offset, uint64_t(late) * B);
    }
    // No recording: nothing found, and said so rather than guessed.
    const ArchiveScan none = Scan(Written("zeros.avr", std::vector<uint8_t>(1 << 20)));
    EXPECT_TRUE(none.blocks.empty());
    EXPECT_EQ(none.blockSize, 0u);
    // A marker lying in a block's data does not change the block size.
    EXPECT_EQ(BlockSizeFromHeaderEnds({8192, 2 * 8192, 3 * 8192 + 1536, 4 * 8192, 6 * 8192}),
              8192u);
    EXPECT_EQ(BlockSizeFromHeaderEnds({512, 1024, 1536}), 0u); // no room for a block
}

// Every command opens a damaged archive through the scan, says so, and reads
// exactly the frames of the blocks that are whole: a cut archive gives the
// frames before the cut, one with its header or table zeroed all of them.
TEST(ArchiveScan, CommandsReadDamagedArchivesThroughTheScan) {
    mkrec::RecordingPlan plan = SmallPlan();
    plan.durationSeconds = 4;
    const std::string archive = WriteArchive(plan);
    const std::vector<uint8_t> bytes = Bytes(archive);
    const uint32_t B = plan.blockSize;
    const ToolResult intact = RunQmtool("frames --json " + archive);
    ASSERT_EQ(intact.status, 0) << intact.err;
    EXPECT_EQ(intact.err.find("index damaged"), std::string::npos);
    auto lines = [](const std::string& text) {
        std::vector<std::string> v;
        for (size_t at = 0, nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1)
            v.push_back(text.substr(at, nl - at));
        return v;
    };
    const auto all = lines(intact.out);

    std::vector<uint8_t> noHeader = bytes;
    std::fill(noHeader.end() - 512, noHeader.end(), 0);
    const std::string headerless = Written("noheader.avr", noHeader);
    const ToolResult whole = RunQmtool("frames --json " + headerless);
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_NE(whole.err.find("qmtool: index damaged: "), std::string::npos) << whole.err;
    // The same frames, each marked as found by the scan.
    auto unmarked = [](std::vector<std::string> v) {
        for (std::string& line : v) {
            const std::string mark = ",\"scanned\":true";
            const size_t at = line.find(mark);
            EXPECT_NE(at, std::string::npos) << line;
            if (at != std::string::npos) line.erase(at, mark.size());
        }
        return v;
    };
    EXPECT_EQ(unmarked(lines(whole.out)), all);
    const ToolResult info = RunQmtool("info --json " + headerless);
    EXPECT_NE(info.out.find("\"recovered\":true"), std::string::npos) << info.out;

    // Cut inside block 2: the frames of blocks 0 and 1, the first ones in order.
    const std::string cut =
        Written("cut2.avr", std::vector<uint8_t>(bytes.begin(), bytes.begin() + 2 * B + B / 3));
    const ToolResult part = RunQmtool("frames --json " + cut);
    ASSERT_EQ(part.status, 0) << part.err;
    const auto some = lines(part.out);
    ASSERT_GT(some.size(), 0u);
    ASSERT_LT(some.size(), all.size());
    EXPECT_EQ(unmarked(some), std::vector<std::string>(all.begin(), all.begin() + some.size()));
    // The source is only read.
    EXPECT_EQ(Bytes(cut).size(), 2 * size_t(B) + B / 3);

    // No block at all: the player's message, not a guess.
    const ToolResult none = RunQmtool("frames " + Written("z.avr", std::vector<uint8_t>(65536)));
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("Check file format error."), std::string::npos) << none.err;
}

// Without its header an archive no longer names its video coding: the first
// key frame tells it, so every coding still decodes.
TEST(ArchiveScan, TheCodingOfAHeaderlessArchiveComesFromItsFirstKeyFrame) {
    using mkrec::VideoCodec;
    const std::pair<VideoCodec, const char*> codings[] = {
        {VideoCodec::H264, "H264"}, {VideoCodec::HISI, "HISI"}, {VideoCodec::SOLO, "SOLO"},
        {VideoCodec::STCH, "STCH"}, {VideoCodec::STHD, "STCH"}, // the same chip sections
        {VideoCodec::MJPG, "MJPG"}};
    for (const auto& [codec, name] : codings) {
        mkrec::RecordingPlan plan = SmallPlan();
        plan.durationSeconds = 2;
        plan.codec = codec;
        plan.byteOrder = codec == VideoCodec::HISI ? kByteOrderPayloadBig : kByteOrderLittle;
        plan.damage.zeroHeader = true;
        const std::string archive = WriteArchive(plan, "coding.avr");
        const ToolResult info = RunQmtool("info --json " + archive);
        EXPECT_NE(info.out.find(std::string("\"codec\":\"") + name + "\""), std::string::npos)
            << name << ": " << info.out;
        const ToolResult decode = RunQmtool("decode --json --channel 1 " + archive);
        EXPECT_NE(decode.out.find("\"failed\":0,"), std::string::npos)
            << name << ": " << decode.out;
    }
}
