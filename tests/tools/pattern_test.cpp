#include "tools/mkrec/frame_pattern.h"
#include "tools/mkrec/picture.h"
#include "tools/mkrec/test_picture.h"
#include "tools/mkrec/video_encoder.h"

#include "stream_decoder.h"

#include <gtest/gtest.h>

using namespace qm::mkrec;
using qm::test::StreamDecoder;

TEST(FramePattern, RoundTripsChannelAndFrame) {
    for (PatternContent c : {PatternContent{0, 0}, PatternContent{31, kPatternMaxFrame},
                             PatternContent{5, 123456}, PatternContent{16, 1}}) {
        Picture p(176, 144);
        drawTestPicture(p, c.channel, c.frame, "CAM");
        auto got = decodePattern(p.y.data(), p.width, p.width, p.height);
        ASSERT_TRUE(got);
        EXPECT_EQ(*got, c);
    }
}

TEST(FramePattern, RejectsPicturesWithoutAValidStamp) {
    Picture p(176, 144);
    drawTestPicture(p, 3, 77, "CAM 4");
    // Flip one payload cell: the check bits must catch it.
    const int x = kPatternLeft + 7 * kPatternCell + 4, y = kPatternTop + 1 * kPatternCell + 4;
    const uint8_t flipped = p.y[size_t(y) * p.width + x] > 128 ? 16 : 235;
    for (int dy = 0; dy < 8; ++dy)
        for (int dx = 0; dx < 8; ++dx)
            p.y[size_t(y + dy) * p.width + x + dx] = flipped;
    EXPECT_FALSE(decodePattern(p.y.data(), p.width, p.width, p.height));

    std::vector<uint8_t> grey(176 * 144, 128);
    EXPECT_FALSE(decodePattern(grey.data(), 176, 176, 144));
    EXPECT_FALSE(decodePattern(p.y.data(), p.width, 100, 60)); // too small to hold one
}

TEST(FramePattern, SurvivesLowQualityCoding) {
    struct Case {
        VideoCodec codec;
        StreamDecoder::Kind kind;
        int quality;
    };
    for (Case c : {Case{VideoCodec::H264, StreamDecoder::Kind::H264, 45},
                   Case{VideoCodec::SOLO, StreamDecoder::Kind::Mpeg4, 25},
                   Case{VideoCodec::MJPG, StreamDecoder::Kind::Mjpeg, 25}}) {
        VideoEncoder enc({c.codec, 176, 144, 25, c.quality});
        StreamDecoder dec(c.kind);
        Picture p(176, 144);
        std::vector<qm::test::DecodedLuma> out;
        for (uint32_t frame = 1000; frame < 1012; ++frame) {
            drawTestPicture(p, 9, frame, "CAM 10");
            auto coded = enc.encode(p, frame == 1000 || c.codec == VideoCodec::MJPG);
            for (auto& d : dec.decode(coded.bytes))
                out.push_back(std::move(d));
        }
        for (auto& d : dec.flush())
            out.push_back(std::move(d));
        ASSERT_EQ(out.size(), 12u) << codecName(c.codec);
        for (size_t i = 0; i < out.size(); ++i) {
            auto got = decodePattern(out[i].y.data(), out[i].width, out[i].width, out[i].height);
            ASSERT_TRUE(got) << codecName(c.codec) << " frame " << i;
            EXPECT_EQ(*got, (PatternContent{9, uint32_t(1000 + i)}));
        }
    }
}
