#include "platform/diagnostics.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

namespace qm {
namespace {

TEST(Diagnostics, SilentUnlessEnabled) {
    EnableDiagnosticsToStderr(false);
    ASSERT_FALSE(DiagnosticsActive());
    testing::internal::CaptureStderr();
    qmLog("CQMParseIndex::CloseFile Start\n");
    qmLogAt(6, "QMPlayerEx", "(readVideoFrameHDD) Wrong block marker-%d", 3);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

    EnableDiagnosticsToStderr(true);
    testing::internal::CaptureStderr();
    qmLog("CQMParseIndex::CloseFile Start\n");
    qmLogAt(6, "QMPlayerEx", "(readVideoFrameHDD) Wrong block marker-%d", 3);
    const std::string out = testing::internal::GetCapturedStderr();
    EnableDiagnosticsToStderr(false);
    EXPECT_EQ(out, "CQMParseIndex::CloseFile Start\n"
                   "[6][QMPlayerEx] (readVideoFrameHDD) Wrong block marker-3\n");
}

TEST(Diagnostics, DebugSwitchIsRecognisedAnywhereButOnlyExactly) {
    const char* without[] = {"qmplayer", "--debug", "-Debug", "debug", "-path", "x"};
    EXPECT_FALSE(EnableDiagnosticsFromArgs(6, without));
    EXPECT_FALSE(DiagnosticsActive());
    // The program name is not an argument.
    const char* asProgram[] = {"-debug"};
    EXPECT_FALSE(EnableDiagnosticsFromArgs(1, asProgram));

    const char* with[] = {"qmtool", "info", "-debug", "file.avr"};
    EXPECT_TRUE(EnableDiagnosticsFromArgs(4, with));
    EXPECT_TRUE(DiagnosticsActive());
    EnableDiagnosticsToStderr(false);
}

TEST(Diagnostics, CaptureKeepsLinesExactlyAndOnlyWhileAlive) {
    qmLog("before\n");
    std::vector<std::string> outerLines;
    {
        DiagnosticsCapture outer;
        qmLog("a %s %d\n", "x", 1);
        {
            DiagnosticsCapture inner;
            qmLogAt(8, "QMParseIndex", "(WatchHDDThread) Load block:%d", 7);
            EXPECT_EQ(inner.Lines(),
                      std::vector<std::string>{"[8][QMParseIndex] (WatchHDDThread) Load block:7"});
        }
        qmLog("no newline");
        outerLines = outer.Lines();
    }
    EXPECT_EQ(outerLines, (std::vector<std::string>{"a x 1\n", "no newline"}));
    EXPECT_FALSE(DiagnosticsActive());
}

TEST(Diagnostics, LongLinesAreNotCut) {
    DiagnosticsCapture capture;
    const std::string big(5000, 'z');
    qmLog("%s|", big.c_str());
    ASSERT_EQ(capture.Lines().size(), 1u);
    EXPECT_EQ(capture.Lines()[0], big + "|");
}

TEST(Diagnostics, LinesFromManyThreadsArriveWhole) {
    DiagnosticsCapture capture;
    std::vector<std::thread> writers;
    for (int t = 0; t < 4; ++t)
        writers.emplace_back([t] {
            for (int i = 0; i < 200; ++i)
                qmLogAt(3, "T", "%d:%d", t, i);
        });
    for (auto& writer : writers)
        writer.join();
    std::vector<std::string> lines = capture.Lines();
    ASSERT_EQ(lines.size(), 800u);
    // Each thread's lines stay in its own order.
    for (int t = 0; t < 4; ++t) {
        int expected = 0;
        const std::string prefix = "[3][T] " + std::to_string(t) + ":";
        for (const std::string& line : lines)
            if (line.rfind(prefix, 0) == 0) {
                EXPECT_EQ(line, prefix + std::to_string(expected++));
            }
        EXPECT_EQ(expected, 200);
    }
}

} // namespace
} // namespace qm
