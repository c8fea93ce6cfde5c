// The segment driver over a scripted frame reader: where segments start and
// end, that the frame ending a segment opens the next one, and that failures
// leave a complete file behind and count as failures.

#include "export/avi_segment.h"
#include "platform/output_files.h"

#include "avi_file.h"
#include "export_test_support.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

struct Scripted {
    bool key;
    int height;
    uint8_t mark;       // fills the frame's bytes, to find it in the file
    size_t audio = 0;   // PCM bytes
    uint32_t size = 50; // video bytes
};

class ScriptedReader : public IExportFrameReader {
public:
    ScriptedReader(std::vector<Scripted> frames, int end)
        : m_frames(std::move(frames)), m_end(end) {}
    int ReadFrame(ExportFrame& f) override {
        if (m_next >= m_frames.size()) return m_end;
        const Scripted& s = m_frames[m_next];
        f.key = s.key;
        f.width = 352;
        f.height = s.height;
        f.videoKind = kAviVideoH264;
        f.length = s.size;
        f.video.assign(s.size, s.mark);
        f.seconds = 1700000000 + uint32_t(m_next);
        f.subsecond = 0;
        f.hasAudio = s.audio != 0;
        f.audio.assign(s.audio, s.mark);
        ++m_next;
        return int(s.size);
    }

private:
    std::vector<Scripted> m_frames;
    int m_end;
    size_t m_next = 0;
};

struct Session {
    OutputFiles outputs;
    CQMAvi avi{outputs};
    ExportFrame frame;
    std::atomic<int> percent{0};
    size_t tapped = 0;
    ScriptedReader reader;
    TAviSegmentDriver driver;

    Session(std::vector<Scripted> frames, SegmentSettings s = {}, int end = kExportEnd)
        : reader(std::move(frames), end), driver(avi, reader, frame, With(s)) {}
    SegmentSettings With(SegmentSettings s) {
        s.percent = &percent;
        s.frameWritten = [this](const ExportFrame&) { ++tapped; };
        return s;
    }
};

// The marks of a file's video chunks, and its chunk ids.
std::vector<int> Marks(const std::string& path, std::string* ids = nullptr) {
    const auto avi = test::ReadAviChecked(path);
    std::vector<int> marks;
    for (const auto& c : avi.chunks) {
        if (ids) *ids += c.id + " ";
        if (c.id == "00dc") marks.push_back(avi.bytes[c.data]);
    }
    return marks;
}

TEST(SegmentDriver, FrameEndingASegmentOpensTheNextOneFromAKeyFrame) {
    SegmentSettings limited;
    limited.byteLimit = kAviHeaderBytes + 3 * 1000; // about three of the 900-byte frames
    Session run({{false, 480, 1},
                 {true, 480, 2},
                 {false, 480, 3},
                 {true, 240, 4}, // new size on a key frame: it opens the next file
                 {false, 240, 5},
                 {false, 480, 6}, // new size on another frame: the next file waits for a key
                 {false, 480, 7},
                 {true, 480, 8, 0, 900},
                 {false, 480, 9, 0, 900},
                 {false, 480, 10, 0, 900},
                 {false, 480, 11, 0, 900}, // past the limit but no key frame: still written
                 {true, 480, 12, 0, 900},  // the full file ends here
                 {false, 480, 13}},
                limited);
    std::vector<std::string> files;
    for (int n = 1; n <= 4; ++n)
        files.push_back(test::TempPath("seg" + std::to_string(n) + ".avi"));
    EXPECT_EQ(run.driver.SaveAviSegment(files[0]), kSegmentSizeChanged);
    EXPECT_FALSE(run.avi.IsOpen());
    EXPECT_EQ(run.driver.SaveAviSegment(files[1]), kSegmentSizeChanged);
    EXPECT_EQ(run.driver.SaveAviSegment(files[2]), kSegmentSizeChanged);
    EXPECT_EQ(run.driver.SaveAviSegment(files[3]), kSegmentDataEnded);
    EXPECT_EQ(run.percent.load(), 100);
    EXPECT_EQ(Marks(files[0]), (std::vector<int>{2, 3}));
    EXPECT_EQ(Marks(files[1]), (std::vector<int>{4, 5}));
    EXPECT_EQ(Marks(files[2]), (std::vector<int>{8, 9, 10, 11}));
    EXPECT_EQ(Marks(files[3]), (std::vector<int>{12, 13}));
    EXPECT_EQ(test::ReadAviChecked(files[1]).U32(test::kHeight), 240u);
}

TEST(SegmentDriver, FailuresLeaveCompleteFilesAndAreReported) {
    Session noKey({{false, 480, 1}, {false, 480, 2}});
    const std::string none = test::TempPath("none.avi");
    EXPECT_EQ(noKey.driver.SaveAviSegment(none), kSegmentNoFrame);
    EXPECT_FALSE(noKey.driver.OpenedFile());
    EXPECT_TRUE(test::ReadFile(none).empty());

    Session broken({{true, 480, 1}, {false, 480, 2}}, {}, kExportWrongBlockMarker);
    const std::string partial = test::TempPath("partial.avi");
    EXPECT_EQ(broken.driver.SaveAviSegment(partial), kSegmentFailed);
    EXPECT_FALSE(broken.avi.IsOpen()); // the next segment must not write into it
    EXPECT_EQ(Marks(partial), (std::vector<int>{1, 2}));

    Session full({{true, 480, 1, 0, 1 << 20}, {false, 480, 2}});
    {
        const test::FileSizeLimit diskFull(100);
        EXPECT_EQ(full.driver.SaveAviSegment(test::TempPath("full.avi")), kSegmentFailed);
    }
    EXPECT_TRUE(full.driver.OpenedFile()); // the file was made; writing it failed
    EXPECT_FALSE(full.avi.IsOpen());
    Session nowhere({{true, 480, 1}});
    EXPECT_EQ(nowhere.driver.SaveAviSegment("/nonexistent-dir/a.avi"), kSegmentFailed);
    EXPECT_FALSE(nowhere.driver.OpenedFile());
}

TEST(SegmentDriver, SoundFollowsItsFrameWhenWantedAndTheRateFollowsTheHeight) {
    for (const bool withAudio : {true, false}) {
        SegmentSettings settings;
        settings.withAudio = withAudio;
        Session run({{true, 576, 1, 640}, {false, 576, 2}, {false, 576, 3, 1280}}, settings);
        const std::string path = test::TempPath(withAudio ? "sound.avi" : "silent.avi");
        ASSERT_EQ(run.driver.SaveAviSegment(path), kSegmentDataEnded);
        std::string ids;
        Marks(path, &ids);
        EXPECT_EQ(ids, withAudio ? "00dc 01wb 00dc 00dc 01wb " : "00dc 00dc 00dc ");
        EXPECT_EQ(run.tapped, 3u); // a separate sound file gets it either way
        const auto avi = test::ReadAviChecked(path);
        EXPECT_EQ(avi.U32(test::kAudioLength), withAudio ? 960u : 0u);
        EXPECT_EQ(avi.U32(test::kMicrosPerFrame), 40000u); // 576 rows: 25 per second
    }
    Session ntsc({{true, 480, 1}});
    const std::string path = test::TempPath("ntsc.avi");
    ASSERT_EQ(ntsc.driver.SaveAviSegment(path), kSegmentDataEnded);
    EXPECT_EQ(test::ReadAviChecked(path).U32(test::kMicrosPerFrame), 33333u);
}

} // namespace
} // namespace qm
