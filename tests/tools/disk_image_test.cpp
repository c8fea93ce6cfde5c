// Disk images written by mkrec: the information sector, the MHS with its
// ring of sequence numbers, empty and refused slots, the card variant, and the
// command line that asks for them.

#include "tools/mkrec/disk_image_writer.h"
#include "tools/mkrec/options.h"

#include "storage/formats.h"

#include "test_support.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

using namespace qm;
using namespace qm::mkrec;
using namespace qm::test;

namespace {

// `length` bytes of a file at `offset`.
std::vector<uint8_t> ReadPart(const std::string& path, uint64_t offset, size_t length) {
    std::vector<uint8_t> bytes(length);
    std::ifstream in(path, std::ios::binary);
    in.seekg(std::streamoff(offset));
    in.read(reinterpret_cast<char*>(bytes.data()), std::streamsize(length));
    return bytes;
}

// Writes `count` blocks of 4 KB, one second apart; returns the image's path.
std::string WriteRing(size_t count, const DiskImageOptions& ring, DiskImageLayout& layout,
                      const std::string& name = "ring.img") {
    DiskImageSettings settings;
    settings.ring = ring;
    settings.blockSize = 4096;
    const std::string path = tempFile(name);
    DiskImageWriter writer(path, settings);
    for (size_t i = 0; i < count; ++i) {
        Block b;
        b.start = b.end = 1700000000 + uint32_t(i);
        b.channelMask = 0x3;
        b.bytes.assign(settings.blockSize, uint8_t(i + 1)); // block i is filled with i + 1
        writer.putBlock(std::move(b));
    }
    layout = writer.finish();
    return path;
}

MiniHeader SlotOf(const std::string& image, const DiskImageLayout& layout, uint32_t s) {
    const auto bytes = ReadPart(image, layout.mhsOffset + s * kMiniHeaderSize, kMiniHeaderSize);
    return *parseMiniHeader(ByteView(bytes.data(), bytes.size()), kByteOrderLittle);
}

} // namespace

TEST(DiskImageWriter, TheRingCarriesSequenceNumbersAcrossItsEnd) {
    DiskImageOptions ring;
    ring.ringSlots = 10;
    ring.ringStart = 7;
    ring.firstSequence = 20;
    DiskImageLayout layout;
    const std::string image = WriteRing(5, ring, layout);
    const auto bytes = readFile(image);
    const auto info = parseDiskInfo(ByteView(bytes.data() + kDiskInfoOffset, kDiskInfoSize));
    EXPECT_EQ(info->magic, kMagicDisk);
    EXPECT_EQ(info->blockSize, 4096u);
    EXPECT_EQ(info->mhsOffset, layout.mhsOffset);
    EXPECT_EQ(info->mhsLength, 512u); // ten slots, whole sectors
    EXPECT_EQ(info->dataBase % 512, 0u);
    EXPECT_EQ(bytes.size(), info->dataBase + 10 * 4096);

    const uint32_t written[] = {7, 8, 9, 0, 1};
    for (uint32_t i = 0; i < 5; ++i) {
        const MiniHeader m = SlotOf(image, layout, written[i]);
        EXPECT_EQ(m.sequence, 20 + i);
        EXPECT_EQ(m.type(), 1);
        EXPECT_EQ(m.group, 1);
        EXPECT_EQ(m.startTime, 1700000000 + i);
        EXPECT_EQ(bytes[info->dataBase + written[i] * 4096], i + 1);
    }
    for (uint32_t s : {2, 3, 4, 5, 6})
        EXPECT_EQ(SlotOf(image, layout, s).type(), 0) << s;

    // More blocks than slots: the newest stay, wrapped as asked.
    ring = {};
    ring.ringSlots = 4;
    ring.wrap = true;
    WriteRing(7, ring, layout, "overwritten.img");
    EXPECT_EQ(layout.blocksKept, 4u);
    EXPECT_EQ(layout.slotBlock, (std::vector<int64_t>{5, 6, 3, 4}));
}

TEST(DiskImageWriter, UnusedSlotsAreEmptyOrRefusedAndCardsKeepTheirSector) {
    DiskImageOptions ring;
    ring.invalidSlots = 4;
    ring.ringSlots = 8;
    ring.card = true;
    DiskImageLayout layout;
    const std::string image = WriteRing(3, ring, layout, "card.img");
    EXPECT_EQ(layout.diskInfoOffset, kCardDiskInfoOffset);
    EXPECT_EQ(loadLE32(ReadPart(image, kDiskInfoOffset, 4).data()), 0u);
    EXPECT_TRUE(isDiskMagic(loadLE32(ReadPart(image, kCardDiskInfoOffset, 4).data())));
    int refused = 0, empty = 0, used = 0;
    for (uint32_t s = 0; s < 8; ++s) {
        const MiniHeader m = SlotOf(image, layout, s);
        if (m.type() == 0)
            ++empty;
        else if (m.usableOnDisk())
            ++used;
        else
            ++refused;
    }
    EXPECT_EQ(used, 3);
    EXPECT_EQ(refused, 4);
    EXPECT_EQ(empty, 1);
    struct stat st {};
    ASSERT_EQ(::stat(image.c_str(), &st), 0);
    EXPECT_EQ(uint64_t(st.st_size), layout.imageSize);
    EXPECT_LT(uint64_t(st.st_blocks) * 512, layout.imageSize / 4) << "empty space should be holes";

    ring.invalidSlots = 6; // more than the ring has free
    EXPECT_THROW(WriteRing(3, ring, layout, "full.img"), std::runtime_error);
}

TEST(DiskImageWriter, CommandLine) {
    std::string error;
    auto o = parseOptions({"--out", "d.img", "--disk-image", "--card", "--ring-slots", "30",
                           "--wrap", "--first-sequence", "7", "--invalid-slots", "2"},
                          error);
    ASSERT_TRUE(o) << error;
    ASSERT_TRUE(o->disk);
    EXPECT_TRUE(o->disk->card);
    EXPECT_TRUE(o->disk->wrap);
    EXPECT_EQ(o->disk->ringSlots, 30u);
    EXPECT_EQ(o->disk->firstSequence, 7u);
    EXPECT_EQ(o->disk->invalidSlots, 2u);
    EXPECT_FALSE(parseOptions({"--out", "a.avr"}, error)->disk);

    const std::vector<std::vector<std::string>> bad = {
        {"--out", "x", "--card"},                                      // no --disk-image
        {"--out", "x", "--ring-slots", "4"},                           //
        {"--out", "x", "--disk-image", "--wrap", "--ring-start", "1"}, // one or the other
        {"--out", "x", "--disk-image", "--ring-slots", "4", "--ring-start", "4"},
        {"--out", "x", "--disk-image", "--codec", "MJPG"},    // not on disks
        {"--out", "x", "--disk-image", "--time-offset", "2"}, //
        {"--out", "x", "--disk-image", "--ring-slots", "0"},  //
    };
    for (const auto& args : bad)
        EXPECT_FALSE(parseOptions(args, error)) << args.back();

    const char* env = std::getenv("MKREC");
    const std::string mkrec = env && *env ? env : QM_MKREC_PATH;
    const std::string out = tempFile("cli.img");
    const int status = std::system(("'" + mkrec + "' --out '" + out +
                                    "' --disk-image --wrap --duration 2 --fps 5 --size 176x144 "
                                    "--block-size 65536 > /dev/null")
                                       .c_str());
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_TRUE(isDiskMagic(loadLE32(ReadPart(out, kDiskInfoOffset, 4).data())));
}
