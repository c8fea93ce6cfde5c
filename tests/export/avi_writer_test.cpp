// The AVI writer read back with an independent RIFF walk: sizes, padding,
// idx1 entries and their offsets, the header rewritten with the final counts,
// and the empty entries that keep the duration of recording gaps.

#include "export/avi_writer.h"
#include "platform/diagnostics.h"
#include "platform/output_files.h"

#include "avi_file.h"
#include "export_test_support.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace qm {
namespace {

constexpr uint32_t kT0 = 1700000000;

// A chunk of `size` bytes recorded `ms` after kT0.
int Chunk(CQMAvi& avi, uint32_t ms, uint32_t size = 100, int kind = kAviVideoH264) {
    const std::vector<uint8_t> data(size, uint8_t(ms));
    return avi.WriteChunk(kind, size, data.data(), kT0 + ms / 1000, (ms % 1000) * 1000);
}

size_t Empties(const test::AviFile& avi) {
    return size_t(std::count_if(avi.index.begin(), avi.index.end(),
                                [](const auto& e) { return e.id == "00db"; }));
}

TEST(AviWriter, ChunksIndexAndFinalHeaderDescribeTheFile) {
    const std::string empty = test::TempPath("empty.avi");
    OutputFiles outputs;
    CQMAvi avi(outputs);
    ASSERT_EQ(avi.WriteHeader(empty, 480, 704, kT0, 0, 8000), 0);
    ASSERT_EQ(avi.WriteIndex(), 0);
    const auto none = test::ReadAviChecked(empty);
    EXPECT_EQ(none.bytes.size(), 334u);
    EXPECT_EQ(none.U32(test::kMoviSize), 4u);
    EXPECT_EQ(none.Tag(test::kVideoHandler), "MJPG"); // no video chunk chose another

    // A second file from the same writer starts afresh, at its own rate.
    const std::string path = test::TempPath("d1.avi");
    avi.SetFrameRate(25);
    ASSERT_EQ(avi.WriteHeader(path, 576, 704, kT0, 0, 8000), 0);
    EXPECT_EQ(Chunk(avi, 0, 4001), 4002); // odd sizes are padded
    const std::vector<uint8_t> pcm(640, 7);
    EXPECT_EQ(avi.WriteChunk(kAviAudio, 640, pcm.data(), kT0, 0), 640);
    EXPECT_EQ(Chunk(avi, 40, 7, kAviVideoMjpeg), 8);
    EXPECT_EQ(avi.WriteChunk(5, 640, pcm.data(), kT0, 40000), 0); // no such kind: nothing
    ASSERT_EQ(avi.WriteIndex(), 0);
    EXPECT_FALSE(avi.IsOpen());

    const auto file = test::ReadAviChecked(path);
    ASSERT_EQ(file.chunks.size(), 3u);
    ASSERT_EQ(file.index.size(), 3u);
    EXPECT_EQ(file.bytes[file.chunks[0].data + 4001], 0);
    EXPECT_EQ(file.chunks[1].moviOffset, 4u + 4002u + 8u);
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(file.index[i].id, file.chunks[i].id) << i;
        EXPECT_EQ(file.index[i].offset, file.chunks[i].moviOffset) << i;
        EXPECT_EQ(file.index[i].size, file.chunks[i].size) << i;
        EXPECT_EQ(file.index[i].flags, kAviIndexKeyFrame) << i;
    }
    EXPECT_EQ(file.U32(test::kMicrosPerFrame), 40000u);
    EXPECT_EQ(file.U32(test::kTotalFrames), 2u);
    EXPECT_EQ(file.U32(test::kVideoLength), 2u);
    EXPECT_EQ(file.U32(test::kVideoRate), 2500u);
    EXPECT_EQ(file.U32(test::kWidth), 704u);
    EXPECT_EQ(file.U32(test::kHeight), 576u);
    EXPECT_EQ(file.Tag(test::kVideoHandler), "H264"); // the first video chunk's kind
    EXPECT_EQ(file.Tag(test::kVideoCompression), "H264");
    EXPECT_EQ(file.U32(test::kAudioRate), 16000u);
    EXPECT_EQ(file.U32(test::kAudioLength), 320u); // in samples
    EXPECT_EQ(file.U32(test::kWaveFormat + 4), 8000u);
}

TEST(AviWriter, LateFramesGetEmptyEntriesUpToTheirTime) {
    const std::string path = test::TempPath("gap.avi");
    OutputFiles outputs;
    CQMAvi avi(outputs);
    ASSERT_EQ(avi.WriteHeader(path, 144, 176, kT0, 0, 8000), 0);
    for (uint32_t i = 0; i < 10; ++i)
        Chunk(avi, i * 33);
    Chunk(avi, 1000); // 30 pictures are due, 10 were written
    EXPECT_EQ(avi.VideoFrames(), 31u);
    Chunk(avi, 11001); // more than 10 s after the base: 330 due, 31 written
    EXPECT_EQ(avi.VideoFrames(), 31u + 299u + 1u);
    const std::vector<uint8_t> pcm(64);
    avi.WriteChunk(kAviAudio, 64, pcm.data(), kT0 + 11, 1000); // sound never paces
    Chunk(avi, 11034);                                         // 33 ms after the new base
    EXPECT_EQ(avi.VideoFrames(), 332u);
    ASSERT_EQ(avi.WriteIndex(), 0);

    const auto file = test::ReadAviChecked(path);
    EXPECT_EQ(Empties(file), 20u + 299u);
    EXPECT_EQ(file.U32(test::kTotalFrames), 332u);
    for (size_t i = 10; i < 30; ++i) {
        EXPECT_EQ(file.index[i].id, "00db");
        EXPECT_EQ(file.index[i].size, 0u);
        EXPECT_EQ(file.index[i].flags, 0u);
        EXPECT_EQ(file.index[i].offset, file.index[30].offset);
    }

    // A corrupt time stamp weeks ahead fills at most a day.
    avi.SetFrameRate(1);
    ASSERT_EQ(avi.WriteHeader(test::TempPath("gap-day.avi"), 144, 176, kT0, 0, 8000), 0);
    Chunk(avi, 0);
    const std::vector<uint8_t> data(10);
    avi.WriteChunk(kAviVideoH264, 10, data.data(), kT0 + 20 * 86400, 0);
    EXPECT_EQ(avi.VideoFrames(), 2u + kAviMaxGapSeconds);
    EXPECT_EQ(avi.WriteIndex(), 0);
}

TEST(AviWriter, FailuresAreReportedAndLeaveNoFileOpen) {
    DiagnosticsCapture capture;
    OutputFiles outputs;
    CQMAvi avi(outputs);
    EXPECT_EQ(avi.WriteHeader("/nonexistent-dir/x.avi", 144, 176, kT0, 0, 8000), kAviOpenFailed);
    const auto lines = capture.Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "CQMAvi::WriteHeader:fopen failed-No such file or directory\n"),
              lines.end());
    EXPECT_EQ(Chunk(avi, 0), kAviWriteFailed);
    EXPECT_EQ(avi.WriteIndex(), 0);

    // A full disk shows when buffered bytes reach it: at the latest on closing.
    // The process's file size limit stands in for the disk's end.
    const test::FileSizeLimit full(100);
    ASSERT_EQ(avi.WriteHeader(test::TempPath("full-1.avi"), 144, 176, kT0, 0, 8000), 0);
    Chunk(avi, 0, 10);
    EXPECT_EQ(avi.WriteIndex(), kAviWriteFailed);
    EXPECT_FALSE(avi.IsOpen());
    ASSERT_EQ(avi.WriteHeader(test::TempPath("full-2.avi"), 144, 176, kT0, 0, 8000), 0);
    EXPECT_EQ(Chunk(avi, 0, 1 << 20), kAviWriteFailed);
    EXPECT_EQ(avi.WriteIndex(), kAviWriteFailed);
}

} // namespace
} // namespace qm
