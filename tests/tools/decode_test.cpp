// Every codec's frames come out of the archive as a stream that decodes to
// exactly the pictures written, each showing its own channel and frame number.

#include "tools/mkrec/frame_pattern.h"

#include "platform/byte_order.h"

#include "stream_decoder.h"
#include "test_support.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

using namespace qm::mkrec;
using namespace qm::test;

namespace {

struct CodecCase {
    VideoCodec codec;
    StreamDecoder::Kind kind;
};

StreamDecoder::Kind kindOf(VideoCodec c) {
    return c == VideoCodec::SOLO   ? StreamDecoder::Kind::Mpeg4
           : c == VideoCodec::MJPG ? StreamDecoder::Kind::Mjpeg
                                   : StreamDecoder::Kind::H264;
}

bool startsWith(const std::vector<uint8_t>& v, std::initializer_list<uint8_t> prefix) {
    return v.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), v.begin());
}

int nalType(const std::vector<uint8_t>& v, size_t at) {
    size_t i = at;
    while (i < v.size() && v[i] == 0)
        ++i;
    return i + 1 < v.size() && v[i] == 1 ? v[i + 1] & 0x1F : -1;
}

class CodecDecode : public ::testing::TestWithParam<VideoCodec> {};

} // namespace

TEST_P(CodecDecode, PicturesMatchTheirHeaders) {
    const VideoCodec codec = GetParam();
    RecordingPlan plan = smallPlan();
    plan.codec = codec;
    plan.durationSeconds = 2;
    plan.gop = 5;
    plan.sizeChanges = {{1, {160, 128}}};
    WalkedArchive a = generateAndWalk(plan);
    for (const std::string& e : a.errors)
        ADD_FAILURE() << e;
    EXPECT_EQ(a.codecByte, codecByte(codec));

    std::map<int, std::vector<const WalkedFrame*>> channels;
    for (const WalkedFrame& f : a.frames)
        channels[f.channel].push_back(&f);
    ASSERT_EQ(channels.size(), 2u);
    for (auto& [ch, frames] : channels) {
        StreamDecoder decoder(kindOf(codec));
        std::vector<DecodedLuma> pictures;
        for (const WalkedFrame* f : frames) {
            EXPECT_EQ(f->mjpegFlag, codec == VideoCodec::MJPG);
            const std::vector<uint8_t> stream = unwrapVideo(a.codecByte, *f);
            ASSERT_FALSE(stream.empty());
            if (codec == VideoCodec::MJPG) {
                EXPECT_TRUE(startsWith(stream, {0xFF, 0xD8}));
            }
            if (codec == VideoCodec::SOLO && f->key) {
                EXPECT_TRUE(startsWith(stream, {0, 0, 1, 0xB0})) << "VOS header on key frames";
            }
            if (kindOf(codec) == StreamDecoder::Kind::H264) {
                EXPECT_EQ(nalType(stream, 0), f->key ? 7 : 1) << "SPS first on key frames";
            }
            for (auto& p : decoder.decode(stream))
                pictures.push_back(std::move(p));
        }
        for (auto& p : decoder.flush())
            pictures.push_back(std::move(p));
        ASSERT_EQ(pictures.size(), frames.size());
        for (size_t i = 0; i < pictures.size(); ++i) {
            const DecodedLuma& p = pictures[i];
            EXPECT_EQ(p.width, frames[i]->width);
            EXPECT_EQ(p.height, frames[i]->height);
            auto stamp = decodePattern(p.y.data(), p.width, p.width, p.height);
            ASSERT_TRUE(stamp) << "picture " << i;
            EXPECT_EQ(*stamp, (PatternContent{ch, frames[i]->sequence}));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllCodecs, CodecDecode,
                         ::testing::Values(VideoCodec::H264, VideoCodec::HISI, VideoCodec::SOLO,
                                           VideoCodec::STCH, VideoCodec::STHD, VideoCodec::MJPG),
                         [](const auto& info) { return std::string(codecName(info.param)); });

TEST(ChipSections, KeyFramesSplitIntoSpsPpsAndPicture) {
    RecordingPlan plan = smallPlan();
    plan.channels = {0};
    plan.durationSeconds = 1;
    plan.codec = VideoCodec::STCH;
    plan.byteOrder = 0;
    WalkedArchive a = generateAndWalk(plan);
    ASSERT_FALSE(a.frames.empty());
    for (const WalkedFrame& f : a.frames) {
        const auto& v = f.video;
        ASSERT_GE(v.size(), 256u);
        const uint32_t e1 = qm::loadBE32(&v[20]);
        if (!f.key) {
            EXPECT_EQ(e1 + 256, v.size());
            continue;
        }
        ASSERT_GT(v.size(), 768u + e1);
        const uint32_t e2 = qm::loadBE32(&v[256 + e1 + 20]);
        const uint32_t rest = qm::loadBE32(&v[512 + e1 + e2 + 20]);
        EXPECT_EQ(768u + e1 + e2 + rest, v.size());
        EXPECT_EQ(nalType(v, 256), 7);
        EXPECT_EQ(nalType(v, 512 + e1), 8);
        EXPECT_EQ(nalType(v, 768 + e1 + e2) == 5 || nalType(v, 768 + e1 + e2) == 6, true);
    }
}

// The check the lead's pipeline runs: the ffmpeg command on the joined stream.
TEST(ChipSections, FfmpegCommandDecodesEveryFrame) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "no ffmpeg";
    for (VideoCodec codec : {VideoCodec::H264, VideoCodec::STHD}) {
        RecordingPlan plan = smallPlan();
        plan.codec = codec;
        plan.gaps = {{1, 2}};
        WalkedArchive a = generateAndWalk(plan, std::string(codecName(codec)) + ".avr");
        const std::string streamPath = tempFile(std::string(codecName(codec)) + ".h264");
        size_t written = 0;
        {
            std::ofstream out(streamPath, std::ios::binary);
            for (const WalkedFrame& f : a.frames) {
                if (f.channel != 1) continue;
                auto s = unwrapVideo(a.codecByte, f);
                out.write(reinterpret_cast<const char*>(s.data()), std::streamsize(s.size()));
                ++written;
            }
        }
        const std::string cmd =
            "ffmpeg -v error -f h264 -i '" + streamPath + "' -f framemd5 - 2>/dev/null";
        FILE* pipe = popen(cmd.c_str(), "r");
        ASSERT_NE(pipe, nullptr);
        size_t lines = 0;
        char line[512];
        while (std::fgets(line, sizeof line, pipe))
            if (line[0] != '#') ++lines;
        EXPECT_EQ(pclose(pipe), 0);
        EXPECT_EQ(written, 2u * plan.fps);
        EXPECT_EQ(lines, written) << codecName(codec);
    }
}
