// Reading a recording's index without a reader: an archive's header by path,
// its blocks per group, and where a disk's information sector is found.

#include "disk_test_support.h"
#include "reader_test_support.h"

#include "storage/file_reader.h"
#include "storage/recording_index.h"

#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace qm;
using namespace qm::test;

TEST(ArchiveIndex, HeaderByPathTellsAMissingFileFromOneThatIsNoArchive) {
    mkrec::RecordingPlan plan = SmallPlan();
    plan.channels = {2, 18};
    plan.byteOrder = 0; // the magic is stored the other way round
    plan.durationSeconds = 2;
    const std::string archive = WriteArchive(plan);
    const std::string zeros = TempPath("zeros.avr");
    WriteBytes(zeros, std::vector<uint8_t>(4096));
    const std::string stub = TempPath("stub.avr");
    WriteBytes(stub, std::vector<uint8_t>(100));

    IndexError error;
    const auto header = ReadArchiveHeader(archive, error);
    ASSERT_TRUE(header) << error.text;
    EXPECT_EQ(header->channelMask, plan.channelMask());
    EXPECT_EQ(header->blockSize, plan.blockSize);

    const struct {
        std::string path;
        IndexFault fault;
        std::string text;
    } refused[] = {
        {TempPath("missing.avr"), IndexFault::kCannotOpen, "No such file or directory"},
        {zeros, IndexFault::kNotRecording, kArchiveFormatError},
        {stub, IndexFault::kHeaderUnreadable, "the archive header cannot be read"},
    };
    for (const auto& r : refused) {
        IndexError why;
        EXPECT_FALSE(ReadArchiveHeader(r.path, why)) << r.path;
        EXPECT_EQ(why.fault, r.fault) << r.path;
        EXPECT_EQ(why.text, r.text) << r.path;
    }
}

TEST(ArchiveIndex, BlocksAreListedPerGroupInTableOrderAndInsideTheFile) {
    mkrec::RecordingPlan plan = SmallPlan();
    plan.channels = {0, 16};
    plan.durationSeconds = 3;
    const std::string path = WriteArchive(plan);
    const auto original = ReadBytes(path);
    const ArchiveMap map = MapArchive(original);
    ASSERT_EQ(map.blocksPerGroup.size(), 2u);
    ASSERT_GE(map.blocks.size(), 4u);

    const auto list = [](const std::vector<uint8_t>& file, int group) {
        const std::string copy = TempPath("copy.avr");
        WriteBytes(copy, file);
        const int fd = OpenReadOnly(copy);
        IndexError error;
        auto header = ReadArchiveHeader(fd, file.size(), error);
        auto blocks =
            header ? ReadArchiveBlocks(fd, *header, file.size(), group, error) : std::nullopt;
        ::close(fd);
        EXPECT_TRUE(blocks) << error.text;
        return blocks.value_or(std::vector<ArchiveBlock>{});
    };
    const auto every = list(original, kEveryGroup);
    EXPECT_EQ(every.size(), map.blocks.size());
    for (int g = 0; g < 2; ++g) {
        const auto group = list(original, g);
        EXPECT_EQ(group.size(), map.blocksPerGroup[g]) << "group " << g;
        // The group's blocks are those of the whole list with its group byte.
        std::vector<uint32_t> want, got;
        for (const ArchiveBlock& b : every)
            if (b.mini.group == g) want.push_back(b.number);
        for (const ArchiveBlock& b : group)
            got.push_back(b.number);
        EXPECT_EQ(got, want) << "group " << g;
    }

    // A copy cut inside its third block, with the index appended again: the
    // blocks the file no longer holds are left out.
    std::vector<uint8_t> cut(original.begin(), original.begin() + long(map.blocks[2].start) + 100);
    const uint64_t tableAt = cut.size();
    cut.insert(cut.end(), original.begin() + long(map.miniTable),
               original.begin() + long(map.headerPosition));
    cut.insert(cut.end(), original.end() - kArchiveHeaderSize, original.end());
    storeLE64(&cut[cut.size() - kArchiveHeaderSize + archive_field::kMiniTableOffset], tableAt);
    const auto kept = list(cut, kEveryGroup);
    EXPECT_LT(kept.size(), every.size());
    EXPECT_GE(kept.size(), 2u);
    for (const ArchiveBlock& b : kept)
        EXPECT_LE((uint64_t(b.number) + 1) * map.blockSize, cut.size()) << "block " << b.number;
}

// A memory card keeps its information sector in sector 0x12001; a card whose
// sector 1 cannot be read is still found, a hard disk's read error is named.
TEST(DiskIndexReading, InformationSectorOfACardBehindAnUnreadableSectorOne) {
    mkrec::DiskImageOptions ring;
    ring.card = true;
    const DiskImage card = WriteDiskImage(DiskPlan(), ring, "card.img");
    const DiskImage disk = WriteDiskImage(DiskPlan(), {}, "disk.img");
    const auto failingSectorOne = [](const std::string& path) {
        auto device = std::make_shared<MemoryDevice>(ReadBytes(path));
        device->FailRange(kDiskInfoOffset, kDiskInfoOffset + kDiskInfoSize);
        return device;
    };

    IndexError error;
    auto device = failingSectorOne(card.path);
    const auto sector = FindDiskInfo(*device, error);
    ASSERT_TRUE(sector) << error.text;
    EXPECT_EQ(sector->position, kCardDiskInfoOffset);
    DiskIndex index;
    ASSERT_TRUE(ReadDiskIndex(*device, sector->info, index, error)) << error.text;
    EXPECT_EQ(index.blocks.size(), card.layout.blocksKept);
    CQMParseIndex reader;
    ASSERT_EQ(reader.OpenDiskDevice(device, "card"), 1) << reader.OpenError();
    EXPECT_EQ(reader.DiskInfoPosition(), kCardDiskInfoOffset);
    reader.CloseFile();

    EXPECT_FALSE(FindDiskInfo(*failingSectorOne(disk.path), error));
    EXPECT_EQ(error.fault, IndexFault::kHeaderUnreadable);
    EXPECT_EQ(error.text, "cannot read the disk's information sector: Input/output error");
    EXPECT_EQ(reader.OpenDiskDevice(failingSectorOne(disk.path), "disk"), 0);
    EXPECT_EQ(reader.OpenError(), error.text);
}
