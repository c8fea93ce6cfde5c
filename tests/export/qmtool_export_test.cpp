// qmtool export as a script sees it: exit codes and messages, the files it
// lists and writes, and the source archive left exactly as it was.

#include "platform/byte_order.h"

#include "avi_file.h"
#include "export_test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace qm {
namespace {

using test::Qmtool;

class QmtoolExport : public ::testing::Test {
protected:
    void SetUp() override {
        auto plan = test::SmallPlan();
        plan.sizeChanges = {{2, {352, 240}}};
        plan.audio = {{0, 5}};
        m_archive = test::WriteArchive(plan);
        m_start = plan.start;
    }
    std::string m_archive;
    uint32_t m_start = 0;
};

TEST_F(QmtoolExport, BadCommandLinesAndSourcesAreRefused) {
    const std::string out = " --out " + test::TempPath("x.avi") + " ";
    const std::string notArchive = test::TempPath("notes.txt");
    std::ofstream(notArchive) << std::string(2000, 'x');
    const std::pair<std::string, int> cases[] = {
        {"export --channel 1" + out, 2},
        {"export" + out + m_archive, 2},
        {"export --channel 1 " + m_archive, 2},
        {"export --channel 33" + out + m_archive, 2},
        {"export --channel 1 --from yesterday" + out + m_archive, 2},
        {"export --channel 1 --from 20 --to 10" + out + m_archive, 2},
        {"export --channel 1 --fast" + out + m_archive, 2},
        {"export --channel 1 --out '' " + m_archive, 2},
        {"export --channel 1" + out + test::TempPath("none.avr"), 1},
        {"export --channel 1" + out + notArchive, 1},
        {"export --channel 3" + out + m_archive, 1},
        {"export --channel 1 --out /nonexistent-dir/a.avi " + m_archive, 1},
        {"export --channel 1 --from " + std::to_string(m_start + 100) + out + m_archive, 1},
    };
    for (const auto& [args, status] : cases) {
        const auto o = Qmtool(args);
        EXPECT_EQ(o.status, status) << args;
        EXPECT_TRUE(o.out.empty()) << args;
        EXPECT_EQ(o.err.rfind("qmtool: ", 0), 0u) << args << ": " << o.err;
    }
    EXPECT_NE(Qmtool("export --channel 3" + out + m_archive)
                  .err.find("camera 3 is not in this recording (recorded: 1, 2)"),
              std::string::npos);
    EXPECT_NE(Qmtool("export --channel 1" + out + notArchive).err.find("Check file format error."),
              std::string::npos);
}

TEST_F(QmtoolExport, WritesAndListsNumberedFilesAndLeavesTheSourceUntouched) {
    const auto before = test::ReadFile(m_archive);
    const std::string out = test::TempPath("cam1.avi");
    const std::string wav = test::TempPath("cam1.wav");
    const auto o = Qmtool("export --channel 1 --audio-wav " + wav + " --out " + out + " " +
                          m_archive + " -debug");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, out + "\n" + test::TempPath("cam1-002.avi") + "\n" + wav + "\n" + out +
                         ".manifest.json\n");
    EXPECT_EQ(test::ReadFile(m_archive), before);
    // No progress line (stderr is no terminal); the sound was decoded.
    EXPECT_EQ(o.err.find('%'), std::string::npos) << o.err;
    EXPECT_EQ(o.err.find("No decoder for audio type"), std::string::npos) << o.err;
    EXPECT_EQ(test::DecodedFrames(out, 176, 144, 0).size(), 16u);
    EXPECT_EQ(test::DecodedFrames(test::TempPath("cam1-002.avi"), 352, 240, 0).size(), 16u);
    const auto sound = test::ReadFile(wav);
    ASSERT_GE(sound.size(), 44u);
    EXPECT_EQ(loadLE32(sound.data() + 40), sound.size() - 44);
    // Four seconds of camera 1's sound at 8000 samples of 2 bytes.
    EXPECT_NEAR(double(sound.size() - 44), 4 * 16000.0, 16000.0);

    const std::string part = test::TempPath("part.avi");
    const auto ranged =
        Qmtool("export --channel 2 --no-audio --no-manifest --from '2023-11-14 22:13:21' --to " +
               std::to_string(m_start + 1) + " --out " + part + " " + m_archive);
    ASSERT_EQ(ranged.status, 0) << ranged.err;
    EXPECT_EQ(ranged.out, part + "\n");
    EXPECT_TRUE(test::ReadFile(part + ".manifest.json").empty());
    // Only the summary: what was delivered, and that nothing was damaged.
    EXPECT_EQ(ranged.err.rfind("qmtool: 8 frames, first 2023-11-14 22:13:21.000, last "
                               "2023-11-14 22:13:21.875, 0 gaps over 2 s (0.000 s), "
                               "0 damaged frames skipped\n",
                               0),
              0u)
        << ranged.err;
    const auto frames = test::DecodedFrames(part, 176, 144, 1);
    ASSERT_EQ(frames.size(), 8u);
    EXPECT_EQ(frames.front(), 8);
    EXPECT_EQ(frames.back(), 15);
}

} // namespace
} // namespace qm
