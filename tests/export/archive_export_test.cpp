// Exports of generated archives through the save-as-AVI job, read back with
// the ffmpeg command and the stamp mkrec puts into every picture: which frames
// arrive, in which files, with which sound, and what bad archives do.

#include "export/save_avi_job.h"
#include "storage/parse_index.h"
#include "tools/qmtool/frame_walk.h"

#include "avi_file.h"
#include "export_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace qm {
namespace {

using mkrec::VideoCodec;

constexpr int kFrames = 32; // SmallPlan: 4 s at 8 frames per second

std::vector<int> Range(int from, int to) {
    std::vector<int> v;
    for (int i = from; i < to; ++i)
        v.push_back(i);
    return v;
}

SaveAviRequest Request(const std::string& archive, int channel, const std::string& name) {
    SaveAviRequest r;
    r.sourcePath = archive;
    r.channel = channel;
    r.outputPath = test::TempPath(name);
    r.replaceExisting = true; // the names are reused from run to run
    return r;
}

struct Wrapping {
    VideoCodec codec;
    uint8_t byteOrder;
    const char* fourcc;
};
// Keeps the test names that ctest lists the same from build to build.
void PrintTo(const Wrapping& w, std::ostream* os) {
    *os << mkrec::codecName(w.codec) << (w.byteOrder ? "" : " big-endian");
}

class WrappedExport : public ::testing::TestWithParam<Wrapping> {};

TEST_P(WrappedExport, EveryFrameOfTheCameraArrivesInOrderAndPlays) {
    auto plan = test::SmallPlan(GetParam().codec);
    plan.byteOrder = GetParam().byteOrder;
    TSaveAviJob job(Request(test::WriteArchive(plan), 1, "cam2.avi"));
    ASSERT_TRUE(job.Run()) << job.Error();
    EXPECT_STREQ(job.ResultText(), "Save as AVI success.");
    EXPECT_EQ(job.ProgressPercent(), 100);
    ASSERT_EQ(job.Files().size(), 1u);
    const auto avi = test::ReadAviChecked(job.Files()[0]);
    EXPECT_EQ(avi.Tag(test::kVideoHandler), GetParam().fourcc);
    EXPECT_EQ(avi.Chunks("00dc").size(), size_t(kFrames));
    // The whole recording, its last second included.
    EXPECT_EQ(test::DecodedFrames(job.Files()[0], 176, 144, 1), Range(0, kFrames));
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, WrappedExport,
    ::testing::Values(Wrapping{VideoCodec::H264, 1, "H264"}, Wrapping{VideoCodec::H264, 0, "H264"},
                      Wrapping{VideoCodec::HISI, 1, "H264"}, Wrapping{VideoCodec::STCH, 1, "H264"},
                      Wrapping{VideoCodec::STHD, 0, "H264"}, Wrapping{VideoCodec::SOLO, 1, "XVID"},
                      Wrapping{VideoCodec::MJPG, 1, "MJPG"}),
    [](const auto& info) {
        return std::string(mkrec::codecName(info.param.codec)) +
               (info.param.byteOrder ? "" : "_big");
    });

TEST(ArchiveExport, SizeChangesStartNumberedFilesWithoutLosingAFrame) {
    auto plan = test::SmallPlan();
    plan.sizeChanges = {{1, {352, 288}}, {3, {176, 144}}};
    auto request = Request(test::WriteArchive(plan), 0, "clip.avi");
    int segments = 0;
    request.segmentStarted = [&] { ++segments; };
    TSaveAviJob job(request);
    ASSERT_TRUE(job.Run()) << job.Error();
    ASSERT_EQ(job.Files(),
              (std::vector<std::string>{test::TempPath("clip.avi"), test::TempPath("clip-002.avi"),
                                        test::TempPath("clip-003.avi")}));
    EXPECT_EQ(segments, 3);
    EXPECT_EQ(test::DecodedFrames(job.Files()[0], 176, 144, 0), Range(0, 8));
    EXPECT_EQ(test::DecodedFrames(job.Files()[1], 352, 288, 0), Range(8, 24));
    EXPECT_EQ(test::DecodedFrames(job.Files()[2], 176, 144, 0), Range(24, kFrames));
    EXPECT_EQ(test::ReadAviChecked(job.Files()[1]).U32(test::kMicrosPerFrame),
              40000u); // 288 rows: 25 fps
}

// Notes the coding types it is given and makes two bytes of each byte.
struct NotingDecoder : IExportAudioDecoder {
    std::set<int> types;
    bool Decode(uint8_t audioType, ByteView sound, std::vector<uint8_t>& pcm) override {
        types.insert(audioType);
        pcm.assign(sound.size() * 2, audioType);
        return true;
    }
};

TEST(ArchiveExport, EachCamerasSoundIsDecodedByItsOwnCodingType) {
    auto plan = test::SmallPlan();
    plan.audio = {{0, kAudioTypeG711}, {1, kAudioTypeHisiAdpcm}};
    const std::string archive = test::WriteArchive(plan);
    for (const int channel : {0, 1}) {
        NotingDecoder decoder;
        size_t tapped = 0;
        auto request = Request(archive, channel, "sound.avi");
        request.audioDecoder = &decoder;
        request.frameWritten = [&](const ExportFrame& f) { tapped += f.audio.size(); };
        TSaveAviJob job(request);
        ASSERT_TRUE(job.Run()) << job.Error();
        const int type = channel == 0 ? kAudioTypeG711 : kAudioTypeHisiAdpcm;
        EXPECT_EQ(decoder.types, std::set<int>{type});
        const auto avi = test::ReadAviChecked(job.Files().at(0));
        size_t bytes = 0;
        for (const auto* chunk : avi.Chunks("01wb")) {
            bytes += chunk->size;
            EXPECT_EQ(avi.bytes[chunk->data], type);
        }
        EXPECT_EQ(avi.Chunks("01wb").size(), size_t(kFrames));
        EXPECT_EQ(bytes, tapped);
        EXPECT_EQ(avi.U32(test::kAudioLength), bytes / 2);
    }
}

TEST(ArchiveExport, TimeRangeIncludesBothEndSeconds) {
    const auto plan = test::SmallPlan();
    auto request = Request(test::WriteArchive(plan), 1, "range.avi");
    request.first = int64_t(plan.start + 1) * 1000;
    request.last = int64_t(plan.start + 2) * 1000 + 999;
    TSaveAviJob job(request);
    ASSERT_TRUE(job.Run()) << job.Error();
    EXPECT_EQ(test::DecodedFrames(job.Files().at(0), 176, 144, 1), Range(8, 24));
}

TEST(ArchiveExport, SecondGroupCameraReportsProgressOverItsOwnBlocks) {
    auto plan = test::SmallPlan();
    plan.channels = {0, 17};
    plan.blockSize = 32 * 1024; // several blocks per group, interleaved in the file
    auto request = Request(test::WriteArchive(plan), 17, "cam18.avi");
    std::vector<int> percents;
    TSaveAviJob* job = nullptr;
    request.frameWritten = [&](const ExportFrame&) { percents.push_back(job->ProgressPercent()); };
    TSaveAviJob run(request);
    job = &run;
    ASSERT_TRUE(run.Run()) << run.Error();
    EXPECT_EQ(test::DecodedFrames(run.Files().at(0), 176, 144, 17), Range(0, kFrames));
    ASSERT_EQ(percents.size(), size_t(kFrames));
    EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
    EXPECT_GT(percents[kFrames / 2], 25); // halfway through the frames, halfway through
    EXPECT_LT(percents[kFrames / 2], 75);
}

TEST(ArchiveExport, CancelEndsTheDataAndKeepsACompleteFile) {
    auto request = Request(test::WriteArchive(test::SmallPlan()), 0, "cancel.avi");
    TSaveAviJob* job = nullptr;
    request.frameWritten = [&](const ExportFrame&) { job->Cancel(); };
    TSaveAviJob run(request);
    job = &run;
    ASSERT_TRUE(run.Run()) << run.Error();
    EXPECT_EQ(test::ReadAviChecked(run.Files().at(0)).Chunks("00dc").size(), 1u);
}

TEST(ArchiveExport, PlaybackOfTheSameArchiveGoesOnUndisturbed) {
    const std::string archive = test::WriteArchive(test::SmallPlan());
    CQMParseIndex reader;
    ASSERT_TRUE(reader.OpenFile(archive));
    TSaveAviJob job(Request(archive, 0, "during.avi"));
    bool exported = false;
    std::thread exporter([&] { exported = job.Run(); });
    std::map<int, std::vector<int>> frames; // as the play thread takes them
    qmtool::FrameWalk(reader).Run([&](const FrameRecord& video) {
        const uint32_t sequence = video.sequence; // the record is packed
        frames[video.channel].push_back(int(sequence));
        return true;
    });
    exporter.join();
    reader.CloseFile();
    ASSERT_TRUE(exported) << job.Error();
    EXPECT_EQ(frames[0], Range(0, kFrames));
    EXPECT_EQ(frames[1], Range(0, kFrames));
    EXPECT_EQ(test::DecodedFrames(job.Files().at(0), 176, 144, 0), Range(0, kFrames));
}

TEST(ArchiveExport, DamagedArchivesGiveAReasonOrCompleteFilesNeverACrash) {
    const auto plan = test::SmallPlan();
    const std::string archive = test::WriteArchive(plan);
    const auto size = std::filesystem::file_size(archive);
    const std::string copy = test::TempPath("damaged.avr");
    uint32_t seed = 1;
    auto damage = [&](uint64_t from, uint64_t span, int count) {
        std::filesystem::copy_file(archive, copy,
                                   std::filesystem::copy_options::overwrite_existing);
        std::fstream f(copy, std::ios::binary | std::ios::in | std::ios::out);
        for (int i = 0; i < count; ++i) {
            seed = seed * 1664525u + 1013904223u;
            f.seekp(std::streamoff(from + seed % span));
            f.put(char(seed >> 24));
        }
    };
    // Block contents: frame headers, tables and block headers alike.
    for (int round = 0; round < 12; ++round) {
        damage(0, size / plan.blockSize * plan.blockSize, 400);
        TSaveAviJob job(Request(copy, round % 2, "damaged.avi"));
        if (job.Run()) {
            for (const auto& file : job.Files())
                test::ReadAviChecked(file);
        } else {
            EXPECT_FALSE(job.Error().empty());
        }
    }
    // The archive header: its magic, or its count of mini headers. The
    // blocks are then found by scanning, and the export is the same.
    TSaveAviJob intact(Request(archive, 0, "whole.avi"));
    ASSERT_TRUE(intact.Run()) << intact.Error();
    const auto expected = test::ReadFile(intact.Files().at(0));
    damage(size - 512, 4, 40);
    TSaveAviJob noHeader(Request(copy, 0, "a.avi"));
    ASSERT_TRUE(noHeader.Run()) << noHeader.Error();
    EXPECT_EQ(test::ReadFile(noHeader.Files().at(0)), expected);
    damage(size - 512 + 112, 4, 40); // a mini header table past the file's end
    TSaveAviJob lying(Request(copy, 0, "b.avi"));
    ASSERT_TRUE(lying.Run()) << lying.Error();
    EXPECT_EQ(test::ReadFile(lying.Files().at(0)), expected);
    TSaveAviJob notRecorded(Request(archive, 5, "c.avi"));
    EXPECT_FALSE(notRecorded.Run());
    EXPECT_STREQ(notRecorded.ResultText(), "Save as AVI fail.");
}

} // namespace
} // namespace qm
