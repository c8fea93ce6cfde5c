#include "tools/mkrec/options.h"

#include <gtest/gtest.h>

using namespace qm::mkrec;

namespace {

std::optional<ParsedOptions> parse(std::vector<std::string> args, std::string* error = nullptr) {
    std::string e;
    auto r = parseOptions(args, e);
    if (error) *error = e;
    return r;
}

} // namespace

TEST(MkrecOptions, SetupScriptCommandLine) {
    auto o =
        parse({"--out", "demo.avr", "--channels", "1-4", "--duration", "120", "--fps", "25",
               "--size", "704x480", "--codec", "H264", "--audio", "1:5", "--titles", "CAM %d"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->outPath, "demo.avr");
    EXPECT_EQ(o->plan.channels, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(o->plan.durationSeconds, 120u);
    EXPECT_EQ(o->plan.keyInterval(), 25);
    EXPECT_EQ(o->plan.sizeAt(3, 0), (PictureSize{704, 480}));
    EXPECT_EQ(o->plan.audio.at(0), 5);
    EXPECT_EQ(o->plan.titleFor(2), "CAM 3");
    EXPECT_EQ(o->plan.channelMask(), 0xFu);
    EXPECT_FALSE(o->plan.twoGroups());
}

TEST(MkrecOptions, ChannelListsSizesAndRepeats) {
    auto o = parse({"--out",   "x",       "--channels", "3,1-2,17,2",    "--size",
                    "320x240", "--size",  "17:640x480", "--size-change", "5:160x128",
                    "--gap",   "2:4",     "--gap",      "6:7",           "--byte-order",
                    "0",       "--codec", "STHD",       "--gop",         "7"});
    ASSERT_TRUE(o);
    const RecordingPlan& p = o->plan;
    EXPECT_EQ(p.channels, (std::vector<int>{0, 1, 2, 16}));
    EXPECT_EQ(p.channelMask(), 0x10007u);
    EXPECT_TRUE(p.twoGroups());
    EXPECT_EQ(p.sizeAt(0, 4), (PictureSize{320, 240}));
    EXPECT_EQ(p.sizeAt(16, 4), (PictureSize{640, 480}));
    EXPECT_EQ(p.sizeAt(16, 5), (PictureSize{160, 128}));
    EXPECT_EQ(p.gaps.size(), 2u);
    EXPECT_TRUE(p.bigEndian());
    EXPECT_EQ(codecByte(p.codec), 0x33);
    EXPECT_EQ(p.keyInterval(), 7);
}

TEST(MkrecOptions, RejectsBadInput) {
    const std::vector<std::vector<std::string>> bad = {
        {"--channels", "1"},                    // no --out
        {"--out", "x", "--channels", "0"},      // cameras count from 1
        {"--out", "x", "--channels", "33"},     //
        {"--out", "x", "--channels", "4-2"},    //
        {"--out", "x", "--size", "700x480"},    // not a multiple of 8
        {"--out", "x", "--codec", "H265"},      //
        {"--out", "x", "--byte-order", "2"},    //
        {"--out", "x", "--block-size", "1000"}, //
        {"--out", "x", "--gap", "5:5"},         //
        {"--out", "x", "--audio", "1:3"},       // only types 2 and 5
        {"--out", "x", "--audio", "2:5"},       // camera 2 not recorded
        {"--out", "x", "--titles", "CAM %s"},   // would read a missing argument
        {"--out", "x", "--titles", "%d-%d"},    //
        {"--out", "x", "--fps"},                // missing value
        {"--out", "x", "--frobnicate", "1"},    //
        {"--out", "x", "--content", "x"},       //
    };
    for (const auto& args : bad) {
        std::string error;
        EXPECT_FALSE(parse(args, &error)) << args.back();
        EXPECT_FALSE(error.empty());
    }
}

TEST(MkrecOptions, Mpeg4KeyIntervalIsCapped) {
    auto o = parse({"--out", "x", "--codec", "SOLO", "--gop", "1000"});
    ASSERT_TRUE(o);
    EXPECT_EQ(o->plan.keyInterval(), kMpeg4MaxKeyInterval);
}

TEST(MkrecOptions, CameraContentBitrates) {
    auto rate = [](std::vector<std::string> args) {
        args.insert(args.begin(), {"--out", "x"});
        auto o = parse(args);
        EXPECT_TRUE(o) << args.back();
        return o ? o->plan.bitrateKbpsFor(o->plan.defaultSize) : -1;
    };
    EXPECT_EQ(rate({"--content", "camera", "--bitrate", "1.5M"}), 1500);
    EXPECT_EQ(rate({"--content", "camera", "--bitrate", "4000k"}), 4000);
    EXPECT_EQ(rate({"--content", "camera", "--bitrate", "750", "--codec", "STHD"}), 750);
    // By picture size: flat up to D1, 4 Mbit/s at 1080p, between in proportion.
    EXPECT_EQ(rate({"--content", "camera", "--size", "352x240"}), 1000);
    EXPECT_EQ(rate({"--content", "camera", "--size", "704x576"}), 1000);
    EXPECT_EQ(rate({"--content", "camera", "--size", "1280x720"}), 1928);
    EXPECT_EQ(rate({"--content", "camera", "--size", "1920x1080"}), 4000);
    // Constant quality: pattern content, and camera content in MPEG-4 or JPEG.
    EXPECT_EQ(rate({"--content", "pattern", "--quality", "30"}), 0);
    EXPECT_EQ(rate({"--content", "camera", "--codec", "SOLO", "--quality", "8"}), 0);

    const std::vector<std::vector<std::string>> bad = {
        {"--bitrate", "0"},       // below the range
        {"--bitrate", "300M"},    // above it
        {"--bitrate", "1.5k"},    // fractions are of Mbit/s
        {"--bitrate", "1.2345M"}, // finer than a kbit/s
        {"--bitrate", "1G"},      //
        {"--quality", "20"},      // constant quality against a rate
        {"--codec", "MJPG", "--bitrate", "1M"},
    };
    for (auto args : bad) {
        args.insert(args.begin(), {"--out", "x", "--content", "camera"});
        std::string error;
        EXPECT_FALSE(parse(args, &error)) << args.back();
        EXPECT_NE(error.find("--bitrate"), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(parse({"--out", "x", "--bitrate", "1M"}, &error)); // pattern content
    EXPECT_NE(error.find("--content camera"), std::string::npos) << error;
}
