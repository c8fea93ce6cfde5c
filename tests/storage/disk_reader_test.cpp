// The storage reader on DVR disk images: what it opens, that a disk plays the
// frames an archive of the same recording plays, seeking, and damaged disks.

#include "disk_test_support.h"
#include "reader_test_support.h"

#include "platform/diagnostics.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <thread>

using namespace qm;
using namespace qm::test;
using mkrec::DiskImageOptions;
using mkrec::RecordingPlan;
using mkrec::VideoCodec;

namespace {

void ExpectSameDelivery(const std::vector<Delivered>& disk, const std::vector<Delivered>& archive) {
    EXPECT_EQ(disk.size(), archive.size());
    for (size_t i = 0; i < std::min(disk.size(), archive.size()); ++i) {
        const FrameRecord& d = disk[i].video;
        const FrameRecord& a = archive[i].video;
        const bool same =
            d.channel == a.channel && d.sequence == a.sequence && d.type == a.type &&
            d.time == a.time && d.microseconds == a.microseconds && d.width == a.width &&
            d.height == a.height && d.codec == a.codec && disk[i].bytes == archive[i].bytes &&
            disk[i].index == archive[i].index && disk[i].audioCodec == archive[i].audioCodec &&
            disk[i].audioSize == archive[i].audioSize && std::equal(d.info, d.info + 32, a.info);
        if (!same) {
            ADD_FAILURE() << "frame " << i << ": disk CH" << int(d.channel) << " seq "
                          << uint32_t(d.sequence) << " at " << uint32_t(d.time) << ", archive CH"
                          << int(a.channel) << " seq " << uint32_t(a.sequence) << " at "
                          << uint32_t(a.time);
            return;
        }
    }
}

// Whether one line holds every one of `parts`.
bool Logged(const DiagnosticsCapture& capture, std::initializer_list<std::string> parts) {
    const auto lines = capture.Lines();
    return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) {
        return std::all_of(parts.begin(), parts.end(),
                           [&](const std::string& p) { return l.find(p) != std::string::npos; });
    });
}

// FrameRecord is packed: its fields are copied out, never bound to references.
std::pair<int, uint32_t> KeyOf(const Delivered& d) {
    return {int(d.video.channel), uint32_t(d.video.sequence)};
}

// Checks that `got` is `all` with some frames left out, none changed or
// repeated; returns the times of the frames left out.
std::vector<uint32_t> LeftOut(const std::vector<Delivered>& got,
                              const std::vector<Delivered>& all) {
    std::map<std::pair<int, uint32_t>, const Delivered*> byKey;
    for (const Delivered& d : all)
        byKey[KeyOf(d)] = &d;
    for (const Delivered& d : got) {
        const auto key = KeyOf(d);
        auto it = byKey.find(key);
        if (it == byKey.end()) {
            ADD_FAILURE() << "CH" << key.first << " seq " << key.second
                          << " delivered twice or never recorded";
            continue;
        }
        EXPECT_EQ(d.bytes, it->second->bytes)
            << "CH" << key.first << " seq " << key.second << " changed";
        byKey.erase(it);
    }
    std::vector<uint32_t> times;
    for (const auto& [key, d] : byKey)
        times.push_back(uint32_t(d->video.time));
    return times;
}

std::vector<Delivered> ReadWhole(const std::shared_ptr<IRawDevice>& device) {
    CQMParseIndex reader;
    EXPECT_EQ(reader.OpenDiskDevice(device, "memory"), 1) << reader.OpenError();
    return ReadForward(reader);
}

} // namespace

TEST(DiskOpen, ReportsTheRingInWriteOrder) {
    const RecordingPlan plan = DiskPlan();
    DiskImageOptions ring;
    ring.ringSlots = 40;
    ring.wrap = true;
    ring.invalidSlots = 4;
    ring.firstSequence = 1000;
    const DiskImage image = WriteDiskImage(plan, ring);
    const std::vector<uint32_t> slots = SlotsInRecordingOrder(image.layout);
    ASSERT_GT(slots.size(), 4u);
    ASSERT_LT(slots.back(), slots.front()) << "the ring should wrap";

    CQMParseIndex reader;
    ASSERT_EQ(reader.OpenDiskPath(image.path), 1) << reader.OpenError();
    EXPECT_TRUE(reader.IsDisk());
    std::vector<uint32_t> order;
    for (const MiniHeader& m : reader.DiskBlockList(0))
        order.push_back(m.sequence);
    EXPECT_EQ(order, slots);
    EXPECT_EQ(reader.BlockCount(0), slots.size());
    EXPECT_EQ(reader.BlockCount(1), 0u);
    EXPECT_EQ(reader.m_nStartTime, plan.start);
    EXPECT_EQ(reader.m_nEndTime, plan.start + plan.durationSeconds - 1);
    EXPECT_EQ(reader.m_nChannelMask, 0x7u);
    EXPECT_EQ(reader.GroupCount(), 1);
    EXPECT_EQ(reader.m_nCodec, kCodecH264);
    EXPECT_EQ(reader.m_nTimeOffset, 0);
    EXPECT_EQ(reader.m_nBlockSize, plan.blockSize);
    EXPECT_EQ(reader.m_llTotalSize.load(), uint64_t(slots.size()) * plan.blockSize);
    EXPECT_EQ(reader.DiskInfoPosition(), kDiskInfoOffset);
    reader.CloseFile();
    EXPECT_FALSE(reader.IsDisk());

    // A damaged channel count cannot ask for more buffers than two groups have.
    auto bytes = ReadBytes(image.path);
    for (const auto& [channels, groups] : {std::pair{8, 1}, std::pair{32, 2}, std::pair{48, 2}}) {
        storeLE16(bytes.data() + kDiskInfoOffset + disk_field::kChannels, uint16_t(channels));
        WriteBytes(image.path, bytes);
        DiagnosticsCapture capture;
        ASSERT_EQ(reader.OpenDiskPath(image.path), 1);
        EXPECT_EQ(reader.GroupCount(), groups) << channels;
        EXPECT_EQ(Logged(capture, {"held to 2 groups"}), channels == 48);
        EXPECT_EQ(ReadForward(reader).size(), size_t(3 * plan.fps * plan.durationSeconds));
    }
}

TEST(DiskPlay, SameFramesAsTheArchive) {
    struct Case {
        const char* name;
        uint8_t byteOrder;
        VideoCodec codec;
        bool card;
        std::optional<uint32_t> ringStart;
        int audioChannel;
    };
    const Case cases[] = {
        {"little_wrapped", 1, VideoCodec::H264, false, std::nullopt, -1},
        {"big_card_sthd", 0, VideoCodec::STHD, true, 5, 1},
        {"hisi_g711", 1, VideoCodec::HISI, false, 2, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingPlan plan = DiskPlan();
        plan.byteOrder = c.byteOrder;
        plan.codec = c.codec;
        if (c.audioChannel >= 0) plan.audio[c.audioChannel] = c.byteOrder ? 5 : 2;
        DiskImageOptions ring;
        ring.card = c.card;
        ring.ringStart = c.ringStart;
        ring.wrap = !c.ringStart;
        ring.ringSlots = 30;
        ring.invalidSlots = 3;
        const std::string archivePath = WriteArchive(plan, std::string(c.name) + ".avr");
        const DiskImage image = WriteDiskImage(plan, ring, std::string(c.name) + ".img");

        CQMParseIndex archive, disk;
        ASSERT_EQ(archive.OpenFile(archivePath), 1);
        ASSERT_EQ(disk.OpenDiskPath(image.path), 1) << disk.OpenError();
        EXPECT_EQ(disk.DiskInfoPosition(), c.card ? kCardDiskInfoOffset : kDiskInfoOffset);
        EXPECT_EQ(disk.m_nCodec, archive.m_nCodec);
        const auto fromArchive = ReadForward(archive);
        EXPECT_EQ(fromArchive.size(), size_t(3 * plan.fps * plan.durationSeconds));
        ExpectSameDelivery(ReadForward(disk), fromArchive);

        // Reverse from the start of a block in the middle that both seeks
        // choose (the archive's ends are inclusive, the disk's are not).
        const auto& blocks = disk.DiskBlockList(0);
        auto latest = [&](auto contains) {
            for (size_t j = blocks.size(); j-- > 0;)
                if (contains(blocks[j])) return j;
            return blocks.size();
        };
        uint32_t t = 0;
        for (size_t m = blocks.size() / 2; m < blocks.size() && !t; ++m) {
            const uint32_t at = blocks[m].startTime;
            const size_t onArchive =
                latest([&](const MiniHeader& b) { return b.startTime <= at && at <= b.endTime; });
            const size_t onDisk = latest([&](const MiniHeader& b) {
                return (b.startTime <= at && at < b.endTime) ||
                       (b.startTime == at && b.endTime == at);
            });
            if (onArchive == onDisk) t = at;
        }
        ASSERT_NE(t, 0u);
        ASSERT_EQ(archive.SeekByTime(t, 1), 1);
        ASSERT_EQ(disk.SeekHDDByTime(t, 1), 1);
        const auto backArchive = ReadReverse(archive);
        EXPECT_GT(backArchive.size(), 3u);
        ExpectSameDelivery(ReadReverse(disk), backArchive);
    }
}

TEST(DiskSeek, TheEndSecondOfABlockBelongsToTheNextBlock) {
    const RecordingPlan plan = DiskPlan();
    const std::string archivePath = WriteArchive(plan);
    const DiskImage image = WriteDiskImage(plan, {});
    CQMParseIndex archive, disk;
    ASSERT_EQ(archive.OpenFile(archivePath), 1);
    ASSERT_EQ(disk.OpenDiskPath(image.path), 1);
    const auto& blocks = disk.DiskBlockList(0);
    size_t i = 0;
    while (i + 1 < blocks.size() && !(blocks[i].endTime == blocks[i + 1].startTime &&
                                      blocks[i].startTime < blocks[i].endTime))
        ++i;
    ASSERT_LT(i + 1, blocks.size()) << "no two blocks share a second";
    const uint32_t t = blocks[i].endTime;

    auto seekLoads = [&](uint32_t time, const MiniHeader& block) {
        DiagnosticsCapture capture;
        EXPECT_EQ(disk.SeekHDDByTime(time, 0), 1);
        return Logged(capture, {"Load block:" + std::to_string(block.sequence) + " into Buffer:0",
                                "SEEK_FORWARD"});
    };
    EXPECT_TRUE(seekLoads(t, blocks[i + 1]));
    const auto after = ReadForward(disk);
    ASSERT_FALSE(after.empty());
    EXPECT_GE(uint32_t(after.front().video.time), blocks[i + 1].startTime);
    EXPECT_TRUE(seekLoads(blocks[i].startTime, blocks[i]));

    // The archive takes the block that ends there.
    DiagnosticsCapture capture;
    ASSERT_EQ(archive.SeekByTime(t, 0), 1);
    EXPECT_TRUE(Logged(capture, {"Load BID:" + std::to_string(i) + ", Time:", "SEEK_FORWARD"}));
}

TEST(DiskSeek, ASeekWhileOneRunsIsRefused) {
    const RecordingPlan plan = DiskPlan();
    const DiskImage image = WriteDiskImage(plan, {});
    auto device = std::make_shared<MemoryDevice>(ReadBytes(image.path));
    CQMParseIndex disk;
    // Long enough for the checks below; a second seek that waits behind the
    // first (a broken guard) fails the test once these run out instead of hanging.
    disk.SetDiskReadTimeouts(10000, 10000);
    ASSERT_EQ(disk.OpenDiskDevice(device, "memory"), 1);
    ASSERT_GT(disk.DiskBlockList(0).size(), 3u);
    const uint32_t t = disk.DiskBlockList(0)[2].startTime;

    // Every block read from here on waits for Release(): a seek stays inside its read.
    device->HoldRange(image.layout.dataBase, device->Size());
    std::atomic<int> first{-1};
    std::thread held([&] { first = disk.SeekHDDByTime(t, 0); });
    while (!disk.m_bSeeking.load() && first.load() == -1)
        std::this_thread::yield();
    EXPECT_EQ(disk.SeekHDDByTime(t, 1), 0);
    EXPECT_EQ(disk.SeekByTime(t + 1, 0), 0);
    EXPECT_EQ(first.load(), -1) << "the first seek ended while its read was held";
    device->Release();
    held.join();
    EXPECT_EQ(first.load(), 1);

    // The guard is free again: the next seek runs and plays from its time.
    ASSERT_EQ(disk.SeekHDDByTime(t, 0), 1);
    const auto after = ReadForward(disk);
    ASSERT_FALSE(after.empty());
    EXPECT_GE(uint32_t(after.front().video.time), t);
}

TEST(DiskSeek, AChannelWithOneKeyFrameInTheBlockIsNotPlaced) {
    RecordingPlan plan = DiskPlan();
    for (const int gop : {1000, 4}) {
        plan.gop = gop;
        plan.durationSeconds = 3;
        plan.blockSize = 65536; // one block
        const DiskImage image = WriteDiskImage(plan, {}, "gop" + std::to_string(gop) + ".img");
        DiagnosticsCapture capture;
        CQMParseIndex disk;
        ASSERT_EQ(disk.OpenDiskPath(image.path), 1);
        for (int c = 0; c < 3; ++c) {
            const std::string line =
                "[9][QMParseIndex] (WatchHDDThread) Seek CH:" + std::to_string(c) + " Failed!";
            EXPECT_EQ(Logged(capture, {line}), gop == 1000) << line;
        }
    }
}

TEST(DiskFaults, AFailedOrHangingReadCostsOnlyItsBlock) {
    const RecordingPlan plan = DiskPlan();
    const DiskImage image = WriteDiskImage(plan, {});
    const auto bytes = ReadBytes(image.path);
    const auto whole = ReadWhole(std::make_shared<MemoryDevice>(bytes));
    const std::vector<uint32_t> slots = SlotsInRecordingOrder(image.layout);
    ASSERT_GT(slots.size(), 5u);
    const uint32_t victim = slots[3];
    const uint64_t from = image.layout.dataBase + uint64_t(victim) * plan.blockSize;

    for (const bool hang : {false, true}) {
        SCOPED_TRACE(hang ? "hanging read" : "failed read");
        auto device = std::make_shared<MemoryDevice>(bytes);
        if (hang)
            device->HoldRange(from, from + plan.blockSize);
        else
            device->FailRange(from, from + plan.blockSize);
        DiagnosticsCapture capture;
        CQMParseIndex disk;
        disk.SetDiskReadTimeouts(1500, 1500);
        ASSERT_EQ(disk.OpenDiskDevice(device, "memory"), 1);
        ReadLimits limits;
        limits.stallMs = 10000;
        const auto got = ReadForward(disk, limits);
        device->Release();
        const std::string line = "Read block:" + std::to_string(victim) +
                                 " failed - err:" + (hang ? "110 (timed out)" : "5");
        EXPECT_TRUE(Logged(capture, {line})) << line;
        const std::vector<uint32_t> lost = LeftOut(got, whole);
        EXPECT_FALSE(lost.empty());
        const MiniHeader& block = disk.DiskBlockList(0)[3];
        for (const uint32_t t : lost)
            EXPECT_TRUE(t >= block.startTime && t <= block.endTime) << t;
    }
}

TEST(DiskFaults, DamagedImagesAreRefusedWithAReason) {
    RecordingPlan plan = DiskPlan();
    plan.durationSeconds = 4;
    const DiskImage image = WriteDiskImage(plan, {});
    const auto original = ReadBytes(image.path);
    const size_t info = kDiskInfoOffset;
    struct Case {
        const char* name;
        std::function<void(std::vector<uint8_t>&)> damage;
        const char* reason;
    };
    const Case cases[] = {
        {"shorter than sector 1", [](auto& b) { b.resize(700); }, "information sector"},
        {"no marker", [&](auto& b) { b[info] = 0; }, "no DVR information sector"},
        {"block size 0", [&](auto& b) { storeLE32(&b[info + 188], 0); }, "block size of 0"},
        {"block size 1000", [&](auto& b) { storeLE32(&b[info + 188], 1000); }, "block size"},
        {"ends in the table", [&](auto& b) { b.resize(image.layout.mhsOffset + 100); },
         "does not lie on the disk"},
        {"no block anywhere",
         [&](auto& b) {
             std::fill_n(b.begin() + long(image.layout.mhsOffset), image.layout.mhsLength, 0);
             b.resize(image.layout.dataBase + plan.blockSize - 1);
         },
         "no recorded block"},
        // A table that is gone, or lies off the disk, is rebuilt from the
        // blocks (no reason: it opens).
        {"table off the disk", [&](auto& b) { storeLE64(&b[info + 116], b.size()); }, ""},
        {"huge table", [&](auto& b) { storeLE32(&b[info + 136], 0xFFFFFFFF); }, ""},
        {"zeroed table",
         [&](auto& b) {
             std::fill_n(b.begin() + long(image.layout.mhsOffset), image.layout.mhsLength, 0);
         },
         ""},
    };
    for (const Case& c : cases) {
        auto bytes = original;
        c.damage(bytes);
        const std::string path = TempPath("damaged.img");
        WriteBytes(path, bytes);
        CQMParseIndex disk;
        const bool rebuilt = *c.reason == '\0';
        EXPECT_EQ(disk.OpenDiskPath(path), rebuilt ? 1 : 0) << c.name << ": " << disk.OpenError();
        if (rebuilt) {
            EXPECT_TRUE(disk.m_bRecovered) << c.name;
            EXPECT_EQ(disk.m_nRecoveredBlocks, image.layout.blocksKept) << c.name;
            continue;
        }
        EXPECT_NE(disk.OpenError().find(c.reason), std::string::npos)
            << c.name << ": " << disk.OpenError();
        EXPECT_FALSE(disk.IsOpen());
        EXPECT_FALSE(disk.IsDisk());
    }
    CQMParseIndex disk;
    EXPECT_EQ(disk.OpenDiskPath(TempPath("missing.img")), 0);
    EXPECT_EQ(disk.OpenError(), "No such file or directory");
    EXPECT_EQ(disk.OpenDisk(999), 0);
    EXPECT_EQ(disk.OpenError(), "there is no drive 999");
}

TEST(DiskFaults, TruncatedOrScrambledBlocksCostOnlyTheirFrames) {
    const RecordingPlan plan = DiskPlan();
    const DiskImage image = WriteDiskImage(plan, {});
    const auto original = ReadBytes(image.path);
    const auto whole = ReadWhole(std::make_shared<MemoryDevice>(original));
    const std::vector<uint32_t> slots = SlotsInRecordingOrder(image.layout);
    const uint64_t B = plan.blockSize;

    // Cut inside the fourth block: the blocks after it are not on the disk.
    auto cut = original;
    cut.resize(image.layout.dataBase + slots[3] * B + 100);
    CQMParseIndex disk;
    ASSERT_EQ(disk.OpenDiskDevice(std::make_shared<MemoryDevice>(cut), "cut"), 1);
    EXPECT_EQ(disk.BlockCount(0), 3u);
    const auto lost = LeftOut(ReadForward(disk), whole);
    EXPECT_FALSE(lost.empty());
    for (const uint32_t t : lost)
        EXPECT_GE(t, disk.DiskBlockList(0).back().endTime);

    // Noise over blocks and table entries never costs more than the frames it hit.
    for (uint32_t seed = 1; seed <= 4; ++seed) {
        auto noisy = original;
        uint32_t x = seed * 2654435761u;
        auto next = [&] { return x = x * 1664525u + 1013904223u; };
        const uint64_t at = image.layout.dataBase + slots[seed % slots.size()] * B;
        for (uint64_t i = at + (seed - 1) * B / 4; i < at + B; ++i)
            noisy[i] = uint8_t(next() >> 24);
        for (int k = 0; k < 24; ++k)
            noisy[image.layout.mhsOffset + next() % (slots.size() * kMiniHeaderSize)] =
                uint8_t(next() >> 24);
        CQMParseIndex reader;
        if (reader.OpenDiskDevice(std::make_shared<MemoryDevice>(noisy), "noise") != 1) {
            EXPECT_FALSE(reader.OpenError().empty());
            continue;
        }
        LeftOut(ReadForward(reader), whole);
        reader.SeekHDDByTime(plan.start + 5, 1);
        ReadReverse(reader);
    }
}
