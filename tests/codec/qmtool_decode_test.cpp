// qmtool decode --md5 against the ffmpeg command on the same elementary
// stream, and qmtool snapshot's pictures.

#include "tools/mkrec/frame_pattern.h"

#include "codec_test_support.h"

#include <QImage>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace qm {
namespace {

using mkrec::VideoCodec;

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class DecodeMd5 : public ::testing::TestWithParam<VideoCodec> {};

TEST_P(DecodeMd5, LinesMatchFfmpegFrameMd5OfTheSameStream) {
    const auto plan = test::smallCodecPlan(GetParam());
    const std::string archive = test::writeRecording(plan, "rec.avr");
    // Camera 2's elementary stream as the storage reader delivers it.
    const std::string stream = test::codecTempFile("cam2.es");
    std::vector<uint32_t> sequences;
    {
        std::ofstream out(stream, std::ios::binary);
        test::forEachVideoFrame(archive, [&](const FrameRecord& r) {
            if (r.channel != 1) return;
            out.write(reinterpret_cast<const char*>(r.payload), r.size);
            sequences.push_back(uint32_t(r.sequence));
        });
    }
    ASSERT_EQ(sequences.size(), size_t(plan.durationSeconds * plan.fps));

    std::string ours, theirs;
    ASSERT_EQ(test::runCommand(test::qmtoolPath() + " decode --md5 --channel 2 " + archive, ours),
              0);
    const char* demuxer = GetParam() == VideoCodec::MJPG   ? "mjpeg"
                          : GetParam() == VideoCodec::SOLO ? "m4v"
                                                           : "h264";
    ASSERT_EQ(test::runCommand(std::string("ffmpeg -nostdin -v error -threads 1 -f ") + demuxer +
                                   " -i " + stream + " -fps_mode passthrough -f framemd5 -",
                               theirs),
              0);
    std::vector<std::string> want;
    for (const auto& line : splitLines(theirs)) {
        if (line.empty() || line[0] == '#') continue;
        want.push_back(line.substr(line.rfind(',') + 1));
        want.back().erase(0, want.back().find_first_not_of(' '));
    }
    const auto got = splitLines(ours);
    ASSERT_EQ(got.size(), sequences.size());
    ASSERT_EQ(want.size(), sequences.size());
    for (size_t i = 0; i < got.size(); ++i)
        EXPECT_EQ(got[i], "2," + std::to_string(sequences[i]) + "," + want[i]);
}

INSTANTIATE_TEST_SUITE_P(Wrappings, DecodeMd5,
                         ::testing::Values(VideoCodec::H264, VideoCodec::HISI, VideoCodec::SOLO,
                                           VideoCodec::STCH, VideoCodec::STHD, VideoCodec::MJPG),
                         [](const auto& info) {
                             return std::string(mkrec::codecName(info.param));
                         });

TEST(Snapshot, PictureAtTimeNamesTheRightCameraAndFrame) {
    auto plan = test::smallCodecPlan(VideoCodec::H264);
    plan.gop = 4; // the wanted frame lies between key frames
    const std::string archive = test::writeRecording(plan, "rec.avr");
    const std::string png = test::codecTempFile("shot.png");
    std::string out;
    // Frame times are whole seconds apart per fps frames: the first frame at or
    // after start + 1 is frame number fps.
    const std::string cmd = test::qmtoolPath() + " snapshot --channel 2 --time " +
                            std::to_string(plan.start + 1) + " --out " + png + " " + archive;
    ASSERT_EQ(test::runCommand(cmd, out), 0) << out;
    QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    ASSERT_EQ(image.width(), 176);
    ASSERT_EQ(image.height(), 144);
    image = image.convertToFormat(QImage::Format_RGB32);
    std::vector<uint8_t> green(176 * 144);
    for (int r = 0; r < 144; ++r)
        for (int x = 0; x < 176; ++x)
            green[r * 176 + x] = uint8_t(qGreen(image.pixel(x, r)));
    const auto stamp = mkrec::decodePattern(green.data(), 176, 176, 144);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(*stamp, (mkrec::PatternContent{1, uint32_t(plan.fps)}));

    EXPECT_EQ(test::runCommand(test::qmtoolPath() + " snapshot --channel 2 --time " +
                                   std::to_string(plan.start) + " --out x.gif " + archive + " 2>&1",
                               out),
              2);
}

} // namespace
} // namespace qm
