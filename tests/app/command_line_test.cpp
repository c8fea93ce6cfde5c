#include "app/command_line_info.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace qm {
namespace {

CQMCommandLineInfo Parse(const std::vector<std::string>& args) {
    CQMCommandLineInfo info;
    ParseCommandLine(info, args);
    return info;
}

CamMap Map(std::initializer_list<int> cameras) {
    CamMap map{};
    int i = 0;
    for (int camera : cameras)
        map[i++] = camera;
    return map;
}

TEST(CommandLine, NothingGivenLeavesEverythingAbsent) {
    const CQMCommandLineInfo info = Parse({});
    EXPECT_EQ(info.m_strAvrFile, "");
    EXPECT_EQ(info.m_nMode, 0);
    EXPECT_EQ(info.m_nCamMap, CamMap{});
    EXPECT_FALSE(info.m_bCamMapValid);
    EXPECT_FALSE(info.m_bShowHelp);
}

TEST(CommandLine, OptionsTakeTheFollowingArgument) {
    const CQMCommandLineInfo info = Parse({"-path", "/srv/rec 1.avr", "-m", "4", "-c", "5,6,7"});
    EXPECT_EQ(info.m_strAvrFile, "/srv/rec 1.avr");
    EXPECT_EQ(info.m_nMode, 4);
    EXPECT_EQ(info.m_nCamMap, Map({5, 6, 7}));
    EXPECT_TRUE(info.m_bCamMapValid);
    EXPECT_FALSE(info.m_bShowHelp);
}

TEST(CommandLine, SlashFormIsTheSameOption) {
    const CQMCommandLineInfo info = Parse({"/path", "rec.avr", "/m", "2", "/c", "3", "/help"});
    EXPECT_EQ(info.m_strAvrFile, "rec.avr");
    EXPECT_EQ(info.m_nMode, 2);
    EXPECT_EQ(info.m_nCamMap, Map({3}));
    EXPECT_TRUE(info.m_bShowHelp);
}

// A value starting with '/' is an absolute path here, not an option.
TEST(CommandLine, AbsolutePathValueIsTakenWhole) {
    const CQMCommandLineInfo info = Parse({"-path", "/home/u/m/c/rec.avr"});
    EXPECT_EQ(info.m_strAvrFile, "/home/u/m/c/rec.avr");
    EXPECT_EQ(info.m_nMode, 0);
    EXPECT_FALSE(info.m_bShowHelp);
}

TEST(CommandLine, OptionsAreCaseSensitiveAndOthersHaveNoEffect) {
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"-PATH", "rec.avr"},
             {"-Path", "rec.avr", "-M", "4", "-C", "1", "-H", "-HELP"},
             {"rec.avr"},
             {"rec.avr", "4", "5,6"},
             {"--path", "rec.avr", "-pathx", "rec.avr", "-", "/"},
             {"-debug"}}) {
        SCOPED_TRACE(args[0]);
        const CQMCommandLineInfo info = Parse(args);
        EXPECT_EQ(info.m_strAvrFile, "");
        EXPECT_EQ(info.m_nMode, 0);
        EXPECT_EQ(info.m_nCamMap, CamMap{});
        EXPECT_FALSE(info.m_bCamMapValid);
        EXPECT_FALSE(info.m_bShowHelp);
    }
}

TEST(CommandLine, UnknownDashOptionsAreNotedButNotValuesPathsOrOurOwn) {
    const CQMCommandLineInfo info = Parse({"-path", "-odd name.avr", "-fullscreen", "/tmp/x.avr",
                                           "-m", "-2", "-debug", "--version", "-PATH", "-c"});
    EXPECT_EQ(info.m_strAvrFile, "-odd name.avr");
    EXPECT_EQ(info.m_unknownOptions, (std::vector<std::string>{"-fullscreen", "-PATH"}));
}

TEST(CommandLine, DebugSwitchDoesNotDisturbTheOptions) {
    const CQMCommandLineInfo info = Parse({"-debug", "-path", "a.avr", "-debug", "-m", "3"});
    EXPECT_EQ(info.m_strAvrFile, "a.avr");
    EXPECT_EQ(info.m_nMode, 3);
}

TEST(CommandLine, HelpIsRecordedAlongsideOtherOptions) {
    const CQMCommandLineInfo info = Parse({"-path", "rec.avr", "-h"});
    EXPECT_TRUE(info.m_bShowHelp);
    EXPECT_TRUE(Parse({"-help"}).m_bShowHelp);
}

TEST(CommandLine, LaterRepetitionReplaces) {
    const CQMCommandLineInfo info =
        Parse({"-path", "a.avr", "-m", "1", "-c", "1,2,3", "-path", "b.avr", "-m", "3", "-c", "9"});
    EXPECT_EQ(info.m_strAvrFile, "b.avr");
    EXPECT_EQ(info.m_nMode, 3);
    EXPECT_EQ(info.m_nCamMap, Map({9}));
    EXPECT_TRUE(info.m_bCamMapValid);

    // A later invalid list also decides validity.
    EXPECT_FALSE(Parse({"-c", "1,2", "-c", "4,4"}).m_bCamMapValid);
}

// Nothing follows an option at the end of the line: it counts as not given
// and must not disturb what an earlier repetition set.
TEST(CommandLine, OptionAsLastArgumentIsAbsent) {
    EXPECT_EQ(Parse({"-path"}).m_strAvrFile, "");
    EXPECT_EQ(Parse({"-m", "3", "-m"}).m_nMode, 3);
    EXPECT_EQ(Parse({"-path", "a.avr", "/path"}).m_strAvrFile, "a.avr");

    const CQMCommandLineInfo list = Parse({"-c", "4,5", "-c"});
    EXPECT_EQ(list.m_nCamMap, Map({4, 5}));
    EXPECT_TRUE(list.m_bCamMapValid);

    // Fed one argument at a time with no argument list behind it, an option
    // has nothing to read either.
    CQMCommandLineInfo alone;
    alone.ParseParam("path", true, false);
    alone.ParseParam("c", true, false);
    alone.ParseParam("m", true, true);
    EXPECT_EQ(alone.m_strAvrFile, "");
    EXPECT_EQ(alone.m_nMode, 0);
    EXPECT_FALSE(alone.m_bCamMapValid);
}

TEST(CommandLine, ModeIsTheLeadingDecimalInteger) {
    const std::vector<std::pair<std::string, int>> cases = {{"4", 4},
                                                            {"  +3", 3},
                                                            {"\t-2", -2},
                                                            {"07", 7},
                                                            {"2x", 2},
                                                            {"x2", 0},
                                                            {"", 0},
                                                            {"- 5", 0},
                                                            {"3.9", 3},
                                                            {"4 5", 4},
                                                            {"99999999999", 2147483647},
                                                            {"-99999999999", -2147483647 - 1}};
    for (const auto& [text, mode] : cases) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Parse({"-m", text}).m_nMode, mode);
    }
}

TEST(CommandLine, CameraListExamples) {
    struct Case {
        std::string list;
        CamMap map;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"1,2,3", Map({1, 2, 3}), true},
        {"3,,5", Map({3, 5}), true},
        {"0,40,x", Map({}), false},
        {"2,2", Map({2, 2}), false},
        {",,", Map({}), false},
        {"", Map({}), false},
        {",32,", Map({32}), true},
        {"-1,33,7", Map({7}), true},
        {" 7, 08,+9,10abc", Map({7, 8, 9, 10}), true},
        // 2^32 + 1 must not wrap round to camera 1.
        {"4294967297,2", Map({2}), true},
        {"5,1,5", Map({5, 1, 5}), false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.list);
        const CQMCommandLineInfo info = Parse({"-c", c.list});
        EXPECT_EQ(info.m_nCamMap, c.map);
        EXPECT_EQ(info.m_bCamMapValid, c.valid);
        EXPECT_EQ(info.ValidateCamMap(), c.valid);
    }
}

TEST(CommandLine, LongCameraListStaysWithinTheMap) {
    std::string all;
    CamMap expected{};
    for (int camera = 1; camera <= 32; ++camera) {
        all += std::to_string(camera) + ",";
        expected[camera - 1] = camera;
    }
    // The path lies right after the map; a write past the map would wreck it.
    const CQMCommandLineInfo info =
        Parse({"-path", "keep.avr", "-c", all + "17,18,19,20,21,22,23,24,25"});
    EXPECT_EQ(info.m_nCamMap, expected);
    EXPECT_TRUE(info.m_bCamMapValid);
    EXPECT_EQ(info.m_strAvrFile, "keep.avr");

    const CQMCommandLineInfo repeated = Parse({"-c", std::string(200, '5').replace(1, 0, ",")});
    EXPECT_EQ(repeated.m_nCamMap, Map({5}));

    std::string fives;
    for (int i = 0; i < 40; ++i)
        fives += "5,";
    const CQMCommandLineInfo same = Parse({"-c", fives});
    CamMap allFives;
    allFives.fill(5);
    EXPECT_EQ(same.m_nCamMap, allFives);
    EXPECT_FALSE(same.m_bCamMapValid);
}

TEST(CommandLine, ArgvFormSkipsTheProgramName) {
    const char* argv[] = {"-path", "-path", "x.avr", "-m"};
    CQMCommandLineInfo info;
    ParseCommandLine(info, 4, argv);
    EXPECT_EQ(info.m_strAvrFile, "x.avr");
    EXPECT_EQ(info.m_nMode, 0);
}

} // namespace
} // namespace qm
