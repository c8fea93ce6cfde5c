// Damaged sources from mkrec: each damaged file is compared with the same
// recording written undamaged, so that both the bytes that must change and
// the ones that must not are checked.

#include "tools/mkrec/options.h"

#include "platform/byte_order.h"
#include "storage/formats.h"

#include "test_support.h"

#include <algorithm>
#include <gtest/gtest.h>

using namespace qm;
using namespace qm::mkrec;
using namespace qm::test;

namespace {

using Bytes = std::vector<uint8_t>;

RecordingPlan damagePlan() {
    RecordingPlan plan = smallPlan();
    plan.blockSize = 8 * 1024; // several blocks from a short recording
    return plan;
}

bool allZero(const Bytes& b, uint64_t from, uint64_t to) {
    return std::all_of(b.begin() + ptrdiff_t(from), b.begin() + ptrdiff_t(to),
                       [](uint8_t v) { return v == 0; });
}

// Whether [from, to) is the same in both files.
bool sameRange(const Bytes& a, const Bytes& b, uint64_t from, uint64_t to) {
    return std::equal(a.begin() + ptrdiff_t(from), a.begin() + ptrdiff_t(to),
                      b.begin() + ptrdiff_t(from));
}

} // namespace

TEST(SourceDamage, ArchiveHeaderAndMiniTableZeroedThenCut) {
    RecordingPlan plan = damagePlan();
    const std::string cleanPath = tempFile("clean.avr");
    writeArchive(plan, cleanPath);
    const Bytes clean = readFile(cleanPath);
    ASSERT_GT(clean.size(), 3u * plan.blockSize);
    // Where the clean archive's own header says the table lies.
    const uint64_t headerAt = clean.size() - kArchiveHeaderSize;
    const uint64_t tableAt = loadLE64(clean.data() + headerAt + 116);
    const uint64_t tableEnd = tableAt + uint64_t(loadLE32(clean.data() + headerAt + 112)) * 16;
    ASSERT_EQ(tableEnd, headerAt);
    ASSERT_FALSE(allZero(clean, tableAt, tableEnd));

    plan.damage.zeroHeader = true;
    plan.damage.zeroMiniTable = true;
    const std::string zeroedPath = tempFile("zeroed.avr");
    writeArchive(plan, zeroedPath);
    const Bytes zeroed = readFile(zeroedPath);
    ASSERT_EQ(zeroed.size(), clean.size());
    EXPECT_TRUE(sameRange(clean, zeroed, 0, tableAt));
    EXPECT_TRUE(allZero(zeroed, tableAt, zeroed.size()));

    // The header is zeroed where the whole file had it, then the file is cut.
    plan.damage = {};
    plan.damage.zeroHeader = true;
    plan.damage.cutAt = clean.size() - 100;
    const std::string cutPath = tempFile("cut.avr");
    writeArchive(plan, cutPath);
    const Bytes cut = readFile(cutPath);
    ASSERT_EQ(cut.size(), clean.size() - 100);
    EXPECT_TRUE(sameRange(clean, cut, 0, headerAt));
    EXPECT_TRUE(allZero(cut, headerAt, cut.size()));

    plan.damage = {};
    plan.damage.cutAt = clean.size() + 1;
    EXPECT_THROW(writeArchive(plan, tempFile("long.avr")), std::runtime_error);
    plan.damage = {};
    plan.damage.zeroMhs = true;
    EXPECT_THROW(writeArchive(plan, tempFile("mhs.avr")), std::invalid_argument);
}

// One block's frame tables zeroed: everything else, its header's counts
// included, is as written.
TEST(SourceDamage, ArchiveBlockTablesZeroed) {
    RecordingPlan plan = damagePlan();
    const std::string cleanPath = tempFile("clean.avr");
    const size_t blocks = writeArchive(plan, cleanPath);
    const Bytes clean = readFile(cleanPath);
    ASSERT_GE(blocks, 3u);
    const uint64_t B = plan.blockSize;
    const uint64_t headerAt = 2 * B - kBlockHeaderSize; // block 1's header
    const auto header =
        parseBlockHeader(ByteView(clean.data() + headerAt, kBlockHeaderSize), plan.byteOrder);
    ASSERT_TRUE(header && header->hasMarker());
    ASSERT_GT(header->iFrameCount + header->pFrameCount, 0u);
    const uint64_t tablesAt = headerAt - uint64_t(header->iSectors + header->pSectors) * 512;
    ASSERT_FALSE(allZero(clean, tablesAt, headerAt));

    plan.damage.zeroBlockTables = 1;
    const std::string zeroedPath = tempFile("tables.avr");
    writeArchive(plan, zeroedPath);
    const Bytes zeroed = readFile(zeroedPath);
    ASSERT_EQ(zeroed.size(), clean.size());
    EXPECT_TRUE(sameRange(clean, zeroed, 0, tablesAt));
    EXPECT_TRUE(allZero(zeroed, tablesAt, headerAt));
    EXPECT_TRUE(sameRange(clean, zeroed, headerAt, zeroed.size()));

    plan.damage.zeroBlockTables = uint32_t(blocks);
    EXPECT_THROW(writeArchive(plan, tempFile("none.avr")), std::invalid_argument);
}

TEST(SourceDamage, DiskImageStaleBlocksZeroedMhsAndCut) {
    const RecordingPlan plan = damagePlan();
    DiskImageOptions ring;
    ring.ringSlots = 40;
    ring.wrap = true; // the stale blocks follow the recording past the ring's end
    const std::string cleanPath = tempFile("clean.img");
    const DiskImageLayout layout = writeDiskImage(plan, ring, cleanPath);
    const Bytes clean = readFile(cleanPath);
    const size_t count = layout.blocksGenerated;
    ASSERT_GE(count, 3u);
    ASSERT_LE(count + 3, 40u);
    const uint64_t B = layout.blockSize;
    const uint64_t mhsEnd = layout.mhsOffset + layout.mhsLength;
    const uint32_t first = uint32_t(std::find(layout.slotBlock.begin(), layout.slotBlock.end(), 0) -
                                    layout.slotBlock.begin());

    RecordingPlan stale = plan;
    stale.damage.staleBlocks = 3;
    const std::string stalePath = tempFile("stale.img");
    const DiskImageLayout staleLayout = writeDiskImage(stale, ring, stalePath);
    const Bytes withStale = readFile(stalePath);
    ASSERT_EQ(withStale.size(), clean.size());
    // The MHS lists the recording's blocks only; they and all else are as before.
    EXPECT_TRUE(sameRange(clean, withStale, 0, layout.dataBase));
    std::vector<uint32_t> staleSlots;
    for (uint32_t j = 0; j < 3; ++j)
        staleSlots.push_back(uint32_t((first + count + j) % 40));
    for (uint32_t s = 0; s < 40; ++s) {
        const uint64_t at = layout.dataBase + s * B;
        if (std::find(staleSlots.begin(), staleSlots.end(), s) == staleSlots.end()) {
            EXPECT_TRUE(sameRange(clean, withStale, at, at + B)) << "slot " << s;
            continue;
        }
        EXPECT_EQ(staleLayout.slotBlock[s], kSlotStale) << s;
        EXPECT_EQ(withStale[layout.mhsOffset + s * kMiniHeaderSize], 0) << "listed slot " << s;
        EXPECT_TRUE(allZero(clean, at, at + B)) << "the clean ring used slot " << s;
        const auto header = parseBlockHeader(
            ByteView(withStale.data() + at + B - kBlockHeaderSize, kBlockHeaderSize),
            kByteOrderLittle);
        ASSERT_TRUE(header && header->hasMarker()) << "slot " << s;
        EXPECT_EQ(header->channelMask, 0x3);
        EXPECT_GT(header->startTime, kDiskMinStartTime);
        EXPECT_LE(header->startTime, header->endTime);
        EXPECT_LT(header->endTime, plan.start) << "a stale block must be older";
        EXPECT_GT(header->iFrameCount + header->pFrameCount, 0u);
    }

    RecordingPlan zeroed = plan;
    zeroed.damage.zeroMhs = true;
    zeroed.damage.cutAt = layout.dataBase + 2 * B + 1000; // within the third slot
    const std::string zeroedPath = tempFile("zeroed.img");
    writeDiskImage(zeroed, ring, zeroedPath);
    const Bytes cut = readFile(zeroedPath);
    ASSERT_EQ(cut.size(), *zeroed.damage.cutAt);
    EXPECT_FALSE(allZero(clean, layout.mhsOffset, mhsEnd));
    EXPECT_TRUE(allZero(cut, layout.mhsOffset, mhsEnd));
    EXPECT_TRUE(sameRange(clean, cut, 0, layout.mhsOffset));
    EXPECT_TRUE(sameRange(clean, cut, mhsEnd, cut.size()));

    RecordingPlan tooMany = plan;
    tooMany.damage.staleBlocks = uint32_t(40 - count + 1);
    EXPECT_THROW(writeDiskImage(tooMany, ring, tempFile("full.img")), std::runtime_error);
}

TEST(SourceDamage, CommandLineRefusesDamageTheOutputCannotHave) {
    std::string error;
    auto archive = parseOptions(
        {"--out", "a.avr", "--zero-header", "--zero-mini-table", "--cut-at", "5000000000"}, error);
    ASSERT_TRUE(archive) << error;
    EXPECT_TRUE(archive->plan.damage.zeroHeader);
    EXPECT_TRUE(archive->plan.damage.zeroMiniTable);
    EXPECT_EQ(archive->plan.damage.cutAt, 5000000000u);
    EXPECT_FALSE(archive->plan.damage.zeroBlockTables);
    auto tables = parseOptions({"--out", "a.avr", "--zero-block-tables", "3"}, error);
    ASSERT_TRUE(tables) << error;
    EXPECT_EQ(tables->plan.damage.zeroBlockTables, 3u);
    auto disk = parseOptions(
        {"--out", "d.img", "--disk-image", "--zero-mhs", "--stale-blocks", "4", "--cut-at", "0"},
        error);
    ASSERT_TRUE(disk) << error;
    EXPECT_TRUE(disk->plan.damage.zeroMhs);
    EXPECT_EQ(disk->plan.damage.staleBlocks, 4u);
    EXPECT_EQ(disk->plan.damage.cutAt, 0u);

    const std::vector<std::vector<std::string>> bad = {
        {"--out", "x", "--zero-mhs"},
        {"--out", "x", "--stale-blocks", "2"},
        {"--out", "x", "--disk-image", "--zero-header"},
        {"--out", "x", "--disk-image", "--zero-mini-table"},
        {"--out", "x", "--disk-image", "--zero-block-tables", "0"},
        {"--out", "x", "--zero-block-tables", "first"},
        {"--out", "x", "--disk-image", "--stale-blocks", "0"},
        {"--out", "x", "--cut-at", "-1"},
    };
    for (const auto& args : bad) {
        EXPECT_FALSE(parseOptions(args, error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
}
