// MPEG-4 Part 2 key frames without a stream header: the decoder supplies the
// 30-byte header for its picture size, and leaves frames that bring their own
// alone.

#include "codec/mpeg4_header.h"
#include "codec/video_decoder.h"
#include "tools/mkrec/frame_pattern.h"

#include <gtest/gtest.h>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/opt.h>
}

namespace qm {
namespace {

// Encodes stamped grey pictures with libavcodec's MPEG-4 encoder. With
// `matchHeader` the stream uses the coding choices the 30-byte header
// describes (time increment resolution 30000, MPEG quantisation, interlaced
// from 480 rows), otherwise the encoder's defaults.
std::vector<std::vector<uint8_t>> encodeMpeg4(int w, int h, int frames, bool matchHeader) {
    const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    EXPECT_TRUE(codec);
    if (!codec) return {};
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->width = w;
    ctx->height = h;
    ctx->pix_fmt = AV_PIX_FMT_YUV420P;
    ctx->time_base = matchHeader ? AVRational{1001, 30000} : AVRational{1, 6};
    ctx->gop_size = 100;
    ctx->max_b_frames = 0;
    ctx->thread_count = 1;
    ctx->flags |= AV_CODEC_FLAG_QSCALE | AV_CODEC_FLAG_BITEXACT;
    ctx->global_quality = FF_QP2LAMBDA * 4;
    if (matchHeader) {
        av_opt_set_int(ctx->priv_data, "mpeg_quant", 1, 0);
        if (h >= 480) ctx->flags |= AV_CODEC_FLAG_INTERLACED_DCT;
    }
    EXPECT_GE(avcodec_open2(ctx, codec, nullptr), 0);
    AVFrame* f = av_frame_alloc();
    f->format = ctx->pix_fmt;
    f->width = w;
    f->height = h;
    av_frame_get_buffer(f, 0);
    AVPacket* pkt = av_packet_alloc();
    std::vector<std::vector<uint8_t>> out;
    for (int i = 0; i < frames; ++i) {
        av_frame_make_writable(f);
        for (int y = 0; y < h; ++y)
            std::fill_n(f->data[0] + y * f->linesize[0], w, uint8_t(120));
        for (int p = 1; p <= 2; ++p)
            for (int y = 0; y < h / 2; ++y)
                std::fill_n(f->data[p] + y * f->linesize[p], w / 2, uint8_t(128));
        mkrec::drawPattern(f->data[0], f->linesize[0], w, h, {3, uint32_t(100 + i)});
        f->pts = i;
        f->pict_type = i == 0 ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
        EXPECT_GE(avcodec_send_frame(ctx, f), 0);
        EXPECT_GE(avcodec_receive_packet(ctx, pkt), 0);
        out.emplace_back(pkt->data, pkt->data + pkt->size);
        av_packet_unref(pkt);
    }
    av_packet_free(&pkt);
    av_frame_free(&f);
    avcodec_free_context(&ctx);
    return out;
}

// The frame from its first video object plane on, as the chips store it.
std::vector<uint8_t> withoutStreamHeader(const std::vector<uint8_t>& frame) {
    for (size_t i = 0; i + 3 < frame.size(); ++i)
        if (frame[i] == 0 && frame[i + 1] == 0 && frame[i + 2] == 1 && frame[i + 3] == 0xB6)
            return {frame.begin() + ptrdiff_t(i), frame.end()};
    ADD_FAILURE() << "no video object plane";
    return {};
}

std::optional<mkrec::PatternContent> stampOf(const std::vector<uint8_t>& bgr0, int w, int h) {
    std::vector<uint8_t> green(size_t(w) * h);
    for (size_t i = 0; i < green.size(); ++i)
        green[i] = bgr0[i * 4 + 1];
    return mkrec::decodePattern(green.data(), w, w, h);
}

TEST(Mpeg4Header, FramesAreToldApartByTheirStartCodes) {
    const auto frames = encodeMpeg4(176, 144, 2, false);
    ASSERT_EQ(frames.size(), 2u);
    const auto& key = frames[0];
    const auto bare = withoutStreamHeader(key);
    ASSERT_LT(bare.size(), key.size());
    EXPECT_TRUE(HasMpeg4StreamHeader(key.data(), key.size()));
    EXPECT_FALSE(HasMpeg4StreamHeader(bare.data(), bare.size()));
    EXPECT_FALSE(HasMpeg4StreamHeader(frames[1].data(), frames[1].size()));
    EXPECT_TRUE(IsMpeg4KeyFrame(key.data(), key.size()));
    EXPECT_TRUE(IsMpeg4KeyFrame(bare.data(), bare.size()));
    EXPECT_FALSE(IsMpeg4KeyFrame(frames[1].data(), frames[1].size()));

    // Our own header counts as one; a lone video object layer start code too,
    // but start codes after the first picture do not.
    const auto header = Mpeg4StreamHeader(704, 480);
    EXPECT_TRUE(HasMpeg4StreamHeader(header.data(), header.size()));
    const std::vector<uint8_t> vol = {0x00, 0x00, 0x01, 0x20, 0x08};
    EXPECT_TRUE(HasMpeg4StreamHeader(vol.data(), vol.size()));
    std::vector<uint8_t> late = bare;
    late.insert(late.end(), header.begin(), header.end());
    EXPECT_FALSE(HasMpeg4StreamHeader(late.data(), late.size()));
    EXPECT_FALSE(HasMpeg4StreamHeader(nullptr, 0));
    EXPECT_FALSE(IsMpeg4KeyFrame(nullptr, 0));
    const std::vector<uint8_t> cut = {0x00, 0x00, 0x01, 0xB6};
    EXPECT_FALSE(IsMpeg4KeyFrame(cut.data(), cut.size()));
}

TEST(Mpeg4Header, SizeFieldsAndInterlacedFlagFollowThePictureSize) {
    const auto d1 = Mpeg4StreamHeader(704, 480);
    const std::vector<uint8_t> start = {0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x01, 0x20};
    EXPECT_TRUE(std::equal(start.begin(), start.end(), d1.begin()));
    EXPECT_EQ(d1[27] & 0x3F, 0x38); // 480 rows and more: interlaced
    EXPECT_EQ(Mpeg4StreamHeader(704, 240)[27] & 0x3F, 0x28);
    // The same sizes always give the same bytes; sizes differ only in 23..27.
    EXPECT_EQ(Mpeg4StreamHeader(704, 480), d1);
    const auto cif = Mpeg4StreamHeader(352, 288);
    for (size_t i = 0; i < kMpeg4HeaderBytes; ++i) {
        if (i < 23 || i > 27) {
            EXPECT_EQ(cif[i], d1[i]) << i;
        }
    }
}

class HeaderlessKeyFrame : public ::testing::TestWithParam<std::pair<int, int>> {};

// A stream whose key frame lost its header decodes only with the header put
// in front; the decoder keeps it for the following frames.
TEST_P(HeaderlessKeyFrame, DecodesWithTheHeaderPutInFront) {
    const auto [w, h] = GetParam();
    const auto frames = encodeMpeg4(w, h, 3, true);
    ASSERT_EQ(frames.size(), 3u);
    std::vector<std::vector<uint8_t>> bare;
    for (const auto& f : frames)
        bare.push_back(HasMpeg4StreamHeader(f.data(), f.size()) ? withoutStreamHeader(f) : f);

    // Without a header libavcodec cannot decode the picture at all.
    auto plain = TFFVideoCodec::Open(AV_CODEC_ID_MPEG4);
    ASSERT_TRUE(plain);
    EXPECT_FALSE(plain->Decode(bare[0].data(), int(bare[0].size())));

    TVideoDecoder_FFMPEGMPEG4 decoder(w, h);
    ASSERT_TRUE(decoder.HasCodec());
    std::vector<uint8_t> picture(size_t(w) * h * 4);
    // A predicted frame before any key frame gets no header and fails.
    EXPECT_FALSE(
        decoder.Decode(bare[1].data(), int(bare[1].size()), picture.data(), w, h, kOutputBGR0));
    for (size_t i = 0; i < bare.size(); ++i) {
        ASSERT_TRUE(
            decoder.Decode(bare[i].data(), int(bare[i].size()), picture.data(), w, h, kOutputBGR0))
            << i;
        EXPECT_EQ(decoder.LastPicture()->nWidth, w);
        EXPECT_EQ(decoder.LastPicture()->nHeight, h);
        EXPECT_EQ(stampOf(picture, w, h), (mkrec::PatternContent{3, uint32_t(100 + i)})) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, HeaderlessKeyFrame,
                         ::testing::Values(std::pair{352, 240}, std::pair{704, 480}),
                         [](const auto& info) {
                             return std::to_string(info.param.first) + "x" +
                                    std::to_string(info.param.second);
                         });

} // namespace
} // namespace qm
