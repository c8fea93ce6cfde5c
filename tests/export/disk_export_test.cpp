// Exports from images of DVR disks and cards written by mkrec: the same
// frames, sound and files as an archive of the same recording, rings that
// wrap or were overwritten, the chosen range, qmtool on images, and damaged
// disks that fail with a reason and are never written to.

#include "export/disk_export_source.h"
#include "export/save_avi_job.h"

#include "avi_file.h"
#include "export_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>

namespace qm {
namespace {

using mkrec::DiskImageOptions;
using mkrec::VideoCodec;

constexpr int kFrames = 32; // 4 s at 8 frames per second

std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i < to; ++i)
        v.push_back(i);
    return v;
}

// Several blocks per second of recording, so ranges and rings cut between them.
mkrec::RecordingPlan DiskPlan(VideoCodec codec = VideoCodec::H264) {
    auto plan = test::SmallPlan(codec);
    plan.blockSize = 16 * 1024;
    return plan;
}

SaveAviRequest DiskRequest(const std::string& image, int channel, const std::string& name) {
    SaveAviRequest r;
    r.sourceKind = kExportSourceDisk;
    r.sourcePath = image;
    r.channel = channel;
    r.outputPath = test::TempPath(name);
    r.replaceExisting = true; // the names are reused from run to run
    return r;
}

// Makes two bytes of each sound byte, so the sound chunks can be compared.
struct DoublingDecoder : IExportAudioDecoder {
    bool Decode(uint8_t, ByteView sound, std::vector<uint8_t>& pcm) override {
        pcm.clear();
        for (size_t i = 0; i < sound.size(); ++i)
            pcm.insert(pcm.end(), 2, sound.data()[i]);
        return true;
    }
};

std::vector<std::vector<uint8_t>> ChunkData(const test::AviFile& avi, const std::string& id) {
    std::vector<std::vector<uint8_t>> data;
    for (const auto* chunk : avi.Chunks(id))
        data.push_back(avi.Data(*chunk));
    return data;
}

// Reads of [from, to) fail with EIO; the rest come from the image.
class FailingDevice : public IRawDevice {
public:
    FailingDevice(std::shared_ptr<IRawDevice> inner, uint64_t from, uint64_t to)
        : m_inner(std::move(inner)), m_from(from), m_to(to) {}
    int Read(void* buffer, uint64_t offset, size_t length) override {
        if (offset < m_to && m_from < offset + length) return EIO;
        return m_inner->Read(buffer, offset, length);
    }
    uint64_t Size() const override { return m_inner->Size(); }

private:
    std::shared_ptr<IRawDevice> m_inner;
    uint64_t m_from, m_to;
};

// The slot holding block `block` (in time order) of the image.
uint32_t SlotOfBlock(const mkrec::DiskImageLayout& layout, int64_t block) {
    const auto it = std::find(layout.slotBlock.begin(), layout.slotBlock.end(), block);
    EXPECT_NE(it, layout.slotBlock.end());
    return uint32_t(it - layout.slotBlock.begin());
}

void Overwrite(const std::string& path, uint64_t at, const std::vector<uint8_t>& bytes) {
    std::fstream f(path, std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(std::streamoff(at));
    f.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

struct Medium {
    VideoCodec codec;
    uint8_t byteOrder;
    bool card;
    bool wrap;
    const char* name;
};
void PrintTo(const Medium& m, std::ostream* os) {
    *os << m.name;
}

class DiskMatchesArchive : public ::testing::TestWithParam<Medium> {};

TEST_P(DiskMatchesArchive, SameFramesSoundAndFilesAsTheArchive) {
    auto plan = DiskPlan(GetParam().codec);
    plan.byteOrder = GetParam().byteOrder;
    plan.sizeChanges = {{2, {352, 240}}};
    plan.audio = {{0, kAudioTypeG711}};
    DiskImageOptions ring;
    ring.card = GetParam().card;
    ring.wrap = GetParam().wrap;
    mkrec::DiskImageLayout layout;
    const std::string image = test::WriteDiskImage(plan, ring, &layout);
    const std::string archive = test::WriteArchive(plan);
    if (ring.wrap) {
        // The ring really runs past its last slot back to slot 0.
        ASSERT_GE(layout.slotBlock.front(), 0);
        ASSERT_NE(layout.slotBlock.front(), 0);
    }
    const auto imageBefore = test::ReadFile(image);

    DoublingDecoder decoder;
    auto archiveRequest = DiskRequest(archive, 0, "archive.avi");
    archiveRequest.sourceKind = kExportSourceArchive;
    archiveRequest.audioDecoder = &decoder;
    TSaveAviJob fromArchive(archiveRequest);
    ASSERT_TRUE(fromArchive.Run()) << fromArchive.Error();

    auto diskRequest = DiskRequest(image, 0, "disk.avi");
    diskRequest.audioDecoder = &decoder;
    std::vector<int> percents;
    TSaveAviJob* job = nullptr;
    diskRequest.frameWritten = [&](const ExportFrame&) {
        percents.push_back(job->ProgressPercent());
    };
    TSaveAviJob fromDisk(diskRequest);
    job = &fromDisk;
    ASSERT_TRUE(fromDisk.Run()) << fromDisk.Error();
    EXPECT_STREQ(fromDisk.ResultText(), "Save as AVI success.");
    EXPECT_EQ(fromDisk.ProgressPercent(), 100);
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_LT(percents.back(), 100);

    ASSERT_EQ(fromDisk.Files(), (std::vector<std::string>{test::TempPath("disk.avi"),
                                                          test::TempPath("disk-002.avi")}));
    ASSERT_EQ(fromArchive.Files().size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        const auto a = test::ReadAviChecked(fromArchive.Files()[i]);
        const auto d = test::ReadAviChecked(fromDisk.Files()[i]);
        EXPECT_EQ(ChunkData(d, "00dc"), ChunkData(a, "00dc")) << i;
        EXPECT_EQ(ChunkData(d, "01wb"), ChunkData(a, "01wb")) << i;
        EXPECT_EQ(d.Tag(test::kVideoHandler), a.Tag(test::kVideoHandler));
        EXPECT_EQ(d.U32(test::kWidth), a.U32(test::kWidth));
    }
    EXPECT_EQ(test::DecodedFrames(fromDisk.Files()[0], 176, 144, 0), Range(0, 16));
    EXPECT_EQ(test::DecodedFrames(fromDisk.Files()[1], 352, 240, 0), Range(16, kFrames));
    EXPECT_EQ(test::ReadFile(image), imageBefore);
}

INSTANTIATE_TEST_SUITE_P(Media, DiskMatchesArchive,
                         ::testing::Values(Medium{VideoCodec::H264, 1, false, false, "H264"},
                                           Medium{VideoCodec::H264, 1, false, true, "H264_wrapped"},
                                           Medium{VideoCodec::H264, 1, true, false, "H264_card"},
                                           Medium{VideoCodec::SOLO, 1, false, false, "SOLO"},
                                           Medium{VideoCodec::STHD, 0, true, true,
                                                  "STHD_big_card_wrapped"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DiskExport, AnOverwrittenRingGivesTheFramesItKept) {
    mkrec::DiskImageLayout layout;
    test::WriteDiskImage(DiskPlan(), {}, &layout, "all.img");
    DiskImageOptions ring;
    ring.ringSlots = uint32_t(layout.blocksGenerated / 2);
    ring.wrap = true;
    const std::string image = test::WriteDiskImage(DiskPlan(), ring, &layout);
    ASSERT_GE(layout.blocksKept, 2u);
    ASSERT_LT(layout.blocksKept, layout.blocksGenerated);

    TSaveAviJob job(DiskRequest(image, 1, "kept.avi"));
    ASSERT_TRUE(job.Run()) << job.Error();
    ASSERT_EQ(job.Files().size(), 1u);
    const auto frames = test::DecodedFrames(job.Files()[0], 176, 144, 1);
    // The newest frames, in order, from a key frame to the recording's end.
    ASSERT_FALSE(frames.empty());
    EXPECT_GT(frames.front(), 0);
    EXPECT_EQ(frames.front() % 4, 0);
    EXPECT_EQ(frames, Range(frames.front(), kFrames));
}

TEST(DiskExport, TheRangeStartsAtFromAndEndsBeforeTo) {
    const auto plan = DiskPlan();
    const std::string image = test::WriteDiskImage(plan, {});
    std::string error;
    const auto disk = OpenDiskForExport(image, error);
    ASSERT_TRUE(disk) << error;
    // A block ends inside the recording at a second another block goes on
    // with: a range starting there needs both.
    const auto& blocks = disk->index.blocks;
    ASSERT_TRUE(std::any_of(blocks.begin(), blocks.end(), [&](const MiniHeader& m) {
        return m.endTime > plan.start && m.endTime < plan.start + 4 &&
               std::any_of(blocks.begin(), blocks.end(),
                           [&](const MiniHeader& n) { return n.startTime == m.endTime; });
    }));

    for (int second = 0; second < 4; ++second) {
        auto request = DiskRequest(image, 1, "second.avi");
        request.disk = disk;
        request.first = int64_t(plan.start + second) * 1000;
        request.last = int64_t(plan.start + second + 1) * 1000 - 1;
        TSaveAviJob job(request);
        ASSERT_TRUE(job.Run()) << second << ": " << job.Error();
        EXPECT_EQ(test::DecodedFrames(job.Files().at(0), 176, 144, 1),
                  Range(8 * second, 8 * second + 8))
            << second;
    }

    auto late = DiskRequest(image, 1, "late.avi");
    late.first = int64_t(plan.start + 10) * 1000;
    late.last = int64_t(plan.start + 20) * 1000 - 1;
    TSaveAviJob nothing(late);
    EXPECT_FALSE(nothing.Run());
    EXPECT_NE(nothing.Error().find("no block of the disk holds camera 2"), std::string::npos)
        << nothing.Error();
    EXPECT_TRUE(nothing.Files().empty());
}

TEST(DiskExport, DamagedOrUnsuitableDisksFailWithAReason) {
    const auto plan = DiskPlan();
    mkrec::DiskImageLayout layout;
    const std::string image = test::WriteDiskImage(plan, {}, &layout);
    const auto size = std::filesystem::file_size(image);
    const std::string copy = test::TempPath("damaged.img");
    auto fresh = [&] {
        std::filesystem::copy_file(image, copy, std::filesystem::copy_options::overwrite_existing);
    };
    auto fails = [](SaveAviRequest request, const std::string& reason) {
        TSaveAviJob job(std::move(request));
        EXPECT_FALSE(job.Run()) << reason;
        EXPECT_STREQ(job.ResultText(), "Save as AVI fail.");
        EXPECT_NE(job.Error().find(reason), std::string::npos) << job.Error();
        for (const auto& file : job.Files())
            test::ReadAviChecked(file); // what was written is complete
    };

    fails(DiskRequest(image, 5, "a.avi"), "camera 6 is not in this recording (recorded: 1, 2)");
    fails(DiskRequest(image, 17, "a.avi"), "camera 18 is not in this recording");
    fails(DiskRequest(test::WriteArchive(plan), 0, "a.avi"), "no DVR information sector");

    // A block without its marker, halfway through the recording.
    const uint64_t B = layout.blockSize;
    const int64_t middle = int64_t(layout.blocksKept / 2);
    const uint64_t header = layout.dataBase + (SlotOfBlock(layout, middle) + 1) * B - 512;
    fresh();
    Overwrite(copy, header + 16, {0, 0, 0, 0});
    fails(DiskRequest(copy, 0, "marker.avi"), "has no block marker");
    // Frame tables that claim more sectors than the block has.
    fresh();
    Overwrite(copy, header + 32, {0xFF, 0xFF, 0xFF, 0xFF}); // NI and NP
    fails(DiskRequest(copy, 0, "tables.avi"), "frame tables larger than itself");

    // A read error in a block's data: a failure, not a shortened success.
    std::string error;
    auto device = OpenRawDevice(image);
    ASSERT_TRUE(device);
    const uint64_t data = layout.dataBase + SlotOfBlock(layout, middle) * B;
    auto request = DiskRequest(image, 0, "unreadable.avi");
    request.disk =
        LoadDiskForExport(std::make_shared<FailingDevice>(device, data + 100, data + 101), error);
    ASSERT_TRUE(request.disk) << error;
    fails(request, "cannot read the data of block");

    // Random damage anywhere in the ring: complete files or a reason.
    uint32_t seed = 7;
    for (int round = 0; round < 10; ++round) {
        fresh();
        {
            std::fstream f(copy, std::ios::binary | std::ios::in | std::ios::out);
            for (int i = 0; i < 300; ++i) {
                seed = seed * 1664525u + 1013904223u;
                f.seekp(std::streamoff(layout.dataBase + seed % (size - layout.dataBase)));
                f.put(char(seed >> 24));
            }
        }
        TSaveAviJob job(DiskRequest(copy, round % 2, "random.avi"));
        if (job.Run()) {
            for (const auto& file : job.Files())
                test::ReadAviChecked(file);
        } else {
            EXPECT_FALSE(job.Error().empty());
        }
    }
}

using test::Qmtool;

TEST(QmtoolDiskExport, ExportsImagesWholeOrByRangeAndNamesWhatIsWrong) {
    const auto plan = DiskPlan();
    DiskImageOptions ring;
    ring.wrap = true;
    mkrec::DiskImageLayout layout;
    const std::string image = test::WriteDiskImage(plan, ring, &layout);
    const auto before = test::ReadFile(image);

    const std::string all = test::TempPath("all.avi");
    const auto whole = Qmtool("export --channel 2 --out " + all + " " + image);
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_EQ(whole.out, all + "\n" + all + ".manifest.json\n");
    // The whole recording, its last second included.
    EXPECT_EQ(test::DecodedFrames(all, 176, 144, 1), Range(0, kFrames));

    const std::string part = test::TempPath("part.avi");
    const auto ranged =
        Qmtool("export --channel 2 --from " + std::to_string(plan.start + 1) + " --to " +
               std::to_string(plan.start + 2) + " --out " + part + " " + image);
    ASSERT_EQ(ranged.status, 0) << ranged.err;
    EXPECT_EQ(test::DecodedFrames(part, 176, 144, 1), Range(8, 24)); // both seconds
    EXPECT_EQ(test::ReadFile(image), before);

    const std::string out = " --force --out " + test::TempPath("x.avi") + " ";
    const std::string copy = test::TempPath("damaged.img");
    std::filesystem::copy_file(image, copy);
    const uint64_t header =
        layout.dataBase + (SlotOfBlock(layout, 1) + 1) * uint64_t(layout.blockSize) - 512;
    Overwrite(copy, header + 16, {'x', 'x', 'x', 'x'});
    const std::pair<std::string, std::string> cases[] = {
        {"export --channel 3" + out + image, "camera 3 is not in this recording"},
        {"export --channel 1" + out + copy, "Save as AVI fail. "},
    };
    for (const auto& [args, reason] : cases) {
        const auto o = Qmtool(args);
        EXPECT_EQ(o.status, 1) << args;
        EXPECT_EQ(o.err.rfind("qmtool: ", 0), 0u) << o.err;
        EXPECT_NE(o.err.find(reason), std::string::npos) << o.err;
    }
    EXPECT_NE(Qmtool("export --channel 1" + out + copy).err.find("has no block marker"),
              std::string::npos);
    // A block table that lies off the disk: the blocks are found by scanning,
    // all but the one without its marker.
    Overwrite(copy, layout.diskInfoOffset + 116, std::vector<uint8_t>(24, 0xFF));
    const auto noTable = Qmtool("export --channel 1" + out + copy);
    EXPECT_EQ(noTable.status, 0) << noTable.err;
    EXPECT_NE(noTable.err.find("qmtool: index damaged: " + std::to_string(layout.blocksKept - 1) +
                               " blocks found by scanning"),
              std::string::npos)
        << noTable.err;
}

TEST(QmtoolDiskExport, AnExportLongerThanAnHourStaysInOneFile) {
    mkrec::RecordingPlan plan;
    plan.channels = {0};
    plan.durationSeconds = 3700;
    plan.fps = 1;
    plan.gop = 60;
    plan.defaultSize = {64, 48};
    plan.blockSize = 256 * 1024;
    const std::string image = test::WriteDiskImage(plan, {});
    const std::string out = test::TempPath("hour.avi");
    const auto o = Qmtool("export --channel 1 --out " + out + " " + image);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, out + "\n" + out + ".manifest.json\n");
    EXPECT_EQ(test::ReadAviChecked(out).Chunks("00dc").size(), 3700u);
}

} // namespace
} // namespace qm
