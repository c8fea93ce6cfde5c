// Decoding delivered frames: pictures carry the right stamp for every codec
// wrapping, decoders follow size and codec changes, bad input fails cleanly.

#include "codec/decode_frame.h"
#include "codec/mpeg4_header.h"
#include "codec/video_decoder.h"
#include "platform/diagnostics.h"
#include "storage/record_layout.h"
#include "tools/mkrec/frame_pattern.h"

#include "codec_test_support.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libswscale/swscale.h>
}

namespace qm {
namespace {

using mkrec::VideoCodec;

// The green bytes of a BGR0 picture: close to the luma the stamp was drawn in.
std::optional<mkrec::PatternContent> stampOf(const std::vector<uint8_t>& picture, int w, int h) {
    std::vector<uint8_t> green(size_t(w) * h);
    for (size_t i = 0; i < green.size(); ++i)
        green[i] = picture[i * 4 + 1];
    return mkrec::decodePattern(green.data(), w, w, h);
}

struct KeptFrame {
    FrameRecord record;
    std::vector<uint8_t> payload;
};

std::vector<KeptFrame> framesOf(const std::string& path) {
    std::vector<KeptFrame> frames;
    test::forEachVideoFrame(path, [&](const FrameRecord& r) {
        frames.push_back({r, std::vector<uint8_t>(r.payload, r.payload + r.size)});
    });
    for (auto& f : frames)
        f.record.payload = f.payload.data();
    return frames;
}

// Decodes every frame of the two-camera recording `plan` makes and reads the
// camera and frame number back from its stamp.
void ExpectEveryFrameShowsItsChannelAndSequence(const mkrec::RecordingPlan& plan,
                                                const std::string& name) {
    const auto frames = framesOf(test::writeRecording(plan, name));
    ASSERT_EQ(frames.size(), size_t(2 * plan.durationSeconds * plan.fps));
    const bool mpeg4 = plan.codec == VideoCodec::SOLO;
    VideoDecodeRecord decode[2];
    std::vector<uint8_t> picture(kPictureBufferBytes);
    for (const auto& f : frames) {
        const int ch = f.record.channel;
        // mkrec's MPEG-4 key frames bring their own stream header, so the
        // decoder puts nothing in front of them.
        if (mpeg4) {
            const uint8_t* data = f.payload.data();
            if (IsMpeg4KeyFrame(data, f.payload.size())) {
                EXPECT_TRUE(HasMpeg4StreamHeader(data, f.payload.size()));
            }
        }
        // Forward play labels MPEG-4 records "H264"; reverse play hands them
        // out with the recording's own code, which is what selects MPEG-4.
        FrameRecord record = f.record;
        if (mpeg4) record.codec = kCodecSOLO;
        ASSERT_TRUE(DecodeVideoFrame(record, decode[ch], picture.data()))
            << uint32_t(f.record.sequence);
        EXPECT_EQ(decode[ch].nLastSeq, uint32_t(f.record.sequence));
        const auto stamp = stampOf(picture, plan.defaultSize.width, plan.defaultSize.height);
        ASSERT_TRUE(stamp) << "channel " << ch << " seq " << f.record.sequence;
        EXPECT_EQ(*stamp, (mkrec::PatternContent{ch, f.record.sequence}));
    }
}

class DecodeArchive : public ::testing::TestWithParam<VideoCodec> {};

TEST_P(DecodeArchive, EveryFrameShowsItsChannelAndSequence) {
    ExpectEveryFrameShowsItsChannelAndSequence(test::smallCodecPlan(GetParam()), "rec.avr");
}

INSTANTIATE_TEST_SUITE_P(Wrappings, DecodeArchive,
                         ::testing::Values(VideoCodec::H264, VideoCodec::HISI, VideoCodec::SOLO,
                                           VideoCodec::STCH, VideoCodec::MJPG),
                         [](const auto& info) {
                             return std::string(mkrec::codecName(info.param));
                         });

// Camera content comes as a recorder codes it (Main profile, CABAC, a rate
// low enough for coarse quantisation); its stamps must read back all the same.
TEST(DecodeArchive, CameraContentKeepsItsStamps) {
    auto plan = test::smallCodecPlan(VideoCodec::H264);
    plan.content = mkrec::PictureContent::Camera;
    plan.defaultSize = {352, 240};
    plan.fps = 25;
    plan.bitrateKbps = 250;
    ExpectEveryFrameShowsItsChannelAndSequence(plan, "camera.avr");
}

TEST(DecoderControl, SizeChangeReplacesTheDecoderAndCidOneMakesNone) {
    auto plan = test::smallCodecPlan(VideoCodec::H264);
    plan.channels = {0};
    plan.sizeChanges = {{1, {320, 240}}};
    const auto frames = framesOf(test::writeRecording(plan, "rec.avr"));
    DiagnosticsCapture capture;
    VideoDecodeRecord decode;
    std::vector<uint8_t> picture(kPictureBufferBytes);
    std::map<int, int> decodedByWidth;
    for (const auto& f : frames) {
        ASSERT_TRUE(DecodeVideoFrame(f.record, decode, picture.data()));
        const auto stamp = stampOf(picture, f.record.width, f.record.height);
        ASSERT_TRUE(stamp);
        EXPECT_EQ(stamp->frame, uint32_t(f.record.sequence));
        ++decodedByWidth[f.record.width];
    }
    EXPECT_EQ(decodedByWidth[176], plan.fps);
    EXPECT_EQ(decodedByWidth[320], plan.fps);
    const auto lines = capture.Lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("[9] CreateVDC - CID:5, W/H:176/144, ", 0), 0u) << lines[0];
    EXPECT_EQ(lines[1].rfind("[9] DeleteVDC - CID:5, W/H:176/144, ", 0), 0u) << lines[1];
    EXPECT_EQ(lines[2].rfind("[9] CreateVDC - CID:5, W/H:320/240, ", 0), 0u) << lines[2];
    // The deleted decoder is the one that was created.
    EXPECT_EQ(lines[0].substr(lines[0].rfind(' ')), lines[1].substr(lines[1].rfind(' ')));

    DiagnosticsCapture none;
    TVideoDecoderCtrl ctrl;
    EXPECT_EQ(ctrl.Prepare(176, 144, kCidNone, kOutputBGR0), 0);
    EXPECT_EQ(ctrl.Decoder(), nullptr);
    EXPECT_FALSE(ctrl.Decode(kOutputBGR0, frames[0].payload.data(), int(frames[0].payload.size()),
                             picture.data(), 176, 144));
    EXPECT_EQ(none.Lines(), std::vector<std::string>{"[9] CreateVDC - CID:1, W/H:176/144, 0"});
    EXPECT_EQ(ctrl.Prepare(704, 480, kCidH264, kOutputBGR0), 1351680);
}

TEST(DecodeVideoFrame, CodecWordsAndBadInput) {
    const auto frames =
        framesOf(test::writeRecording(test::smallCodecPlan(VideoCodec::H264), "r.avr"));
    ASSERT_GE(frames.size(), 2u);
    std::vector<uint8_t> picture(kPictureBufferBytes, 0x5A);

    // A code word stored with its bytes reversed decodes like "H264".
    FrameRecord key = frames[0].record;
    key.codec = __builtin_bswap32(kCodecH264);
    VideoDecodeRecord decode;
    ASSERT_TRUE(DecodeVideoFrame(key, decode, picture.data()));
    ASSERT_TRUE(stampOf(picture, 176, 144));
    const std::vector<uint8_t> good(picture.begin(), picture.begin() + 176 * 144 * 4);

    auto unchanged = [&] { return std::equal(good.begin(), good.end(), picture.begin()); };
    {
        DiagnosticsCapture capture;
        FrameRecord other = frames[1].record;
        other.codec = 0x58564944; // a code no decoder is made for
        EXPECT_FALSE(DecodeVideoFrame(other, decode, picture.data()));
        EXPECT_EQ(decode.nLastSeq, uint32_t(other.sequence));
        EXPECT_EQ(capture.Lines(), std::vector<std::string>{
                                       "Other Codec Type : " + std::to_string(0x58564944) + "\n"});
        EXPECT_TRUE(unchanged());
    }
    // Garbage, a packet under 4 bytes and a picture too large for the buffer
    // fail and leave the last picture in place.
    std::vector<uint8_t> noise(3000);
    std::mt19937 rng(5);
    for (auto& b : noise)
        b = uint8_t(rng() | 1); // no start codes
    FrameRecord bad = frames[1].record;
    bad.payload = noise.data();
    bad.size = uint32_t(noise.size());
    EXPECT_FALSE(DecodeVideoFrame(bad, decode, picture.data()));
    bad.size = 3;
    EXPECT_FALSE(DecodeVideoFrame(bad, decode, picture.data()));
    FrameRecord huge = frames[0].record;
    huge.width = 4096;
    huge.height = 4096;
    EXPECT_FALSE(DecodeVideoFrame(huge, decode, picture.data()));
    EXPECT_TRUE(unchanged());
    // A truncated frame may or may not give a concealed picture, but never a
    // read or write outside the buffers (checked by the sanitizers).
    FrameRecord cut = frames[1].record;
    cut.size /= 3;
    DecodeVideoFrame(cut, decode, picture.data());
}

TEST(DecodeVideoFrame, CodedHeight1088ShowsThe1080VisibleRows) {
    mkrec::RecordingPlan plan = test::smallCodecPlan(VideoCodec::H264);
    plan.channels = {0};
    plan.durationSeconds = 1;
    plan.fps = 1;
    plan.defaultSize = {1920, 1088};
    plan.blockSize = 2u << 20;
    const auto frames = framesOf(test::writeRecording(plan, "hd.avr"));
    ASSERT_EQ(frames.size(), 1u);
    ASSERT_EQ(int(frames[0].record.height), 1088);
    std::vector<uint8_t> picture(kPictureBufferBytes, 0xA5);
    VideoDecodeRecord decode;
    ASSERT_TRUE(DecodeVideoFrame(frames[0].record, decode, picture.data()));
    EXPECT_EQ(decode.nHeight, 1080);
    const size_t row = 1920 * 4;
    EXPECT_EQ(picture[1079 * row + row - 1], 0); // last visible row converted
    EXPECT_EQ(picture[1080 * row + 3], 0xA5);    // the padding rows are not
    EXPECT_TRUE(std::all_of(picture.begin() + 1080 * row, picture.begin() + 1088 * row,
                            [](uint8_t b) { return b == 0xA5; }));
    const auto stamp = stampOf(picture, 1920, 1080);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->frame, uint32_t(frames[0].record.sequence));
}

// Motion JPEG decoders hand out 4:2:2 full-range pictures; those must not be
// read as 4:2:0.
TEST(DecodeVideoFrame, FullRange422PicturesConvertLikeLibswscale) {
    const int w = 64, h = 48;
    const AVCodec* enc = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    ASSERT_NE(enc, nullptr);
    AVCodecContext* ctx = avcodec_alloc_context3(enc);
    ctx->width = w;
    ctx->height = h;
    ctx->pix_fmt = AV_PIX_FMT_YUVJ422P;
    ctx->time_base = {1, 25};
    ctx->flags |= AV_CODEC_FLAG_QSCALE;
    ctx->global_quality = FF_QP2LAMBDA * 2;
    ASSERT_EQ(avcodec_open2(ctx, enc, nullptr), 0);
    AVFrame* src = av_frame_alloc();
    src->width = w;
    src->height = h;
    src->format = AV_PIX_FMT_YUVJ422P;
    ASSERT_EQ(av_frame_get_buffer(src, 0), 0);
    // Top half reddish, bottom half bluish, a horizontal luma ramp throughout.
    for (int r = 0; r < h; ++r) {
        for (int x = 0; x < w; ++x)
            src->data[0][r * src->linesize[0] + x] = uint8_t(60 + 2 * x);
        for (int x = 0; x < w / 2; ++x) {
            src->data[1][r * src->linesize[1] + x] = r < h / 2 ? 90 : 220;
            src->data[2][r * src->linesize[2] + x] = r < h / 2 ? 230 : 80;
        }
    }
    src->quality = ctx->global_quality;
    AVPacket* pkt = av_packet_alloc();
    ASSERT_EQ(avcodec_send_frame(ctx, src), 0);
    ASSERT_EQ(avcodec_receive_packet(ctx, pkt), 0);

    TVideoDecoder_FFMPEGJPEG decoder(w, h);
    ASSERT_TRUE(decoder.HasCodec());
    std::vector<uint8_t> ours(size_t(w) * h * 4);
    ASSERT_TRUE(decoder.Decode(pkt->data, pkt->size, ours.data(), 0, 0, kOutputBGR0));
    const AVFrame* decoded = decoder.Codec()->Frame();
    ASSERT_TRUE(decoded->format == AV_PIX_FMT_YUVJ422P || decoded->format == AV_PIX_FMT_YUV422P);

    std::vector<uint8_t> ref(size_t(w) * h * 4);
    SwsContext* sws = sws_getContext(w, h, AVPixelFormat(decoded->format), w, h, AV_PIX_FMT_BGR0,
                                     SWS_BILINEAR | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT, nullptr,
                                     nullptr, nullptr);
    const int* bt601 = sws_getCoefficients(SWS_CS_ITU601);
    sws_setColorspaceDetails(sws, bt601, 1, bt601, 1, 0, 1 << 16, 1 << 16);
    uint8_t* dst[4] = {ref.data(), nullptr, nullptr, nullptr};
    const int dstStride[4] = {w * 4, 0, 0, 0};
    sws_scale(sws, decoded->data, decoded->linesize, 0, h, dst, dstStride);
    sws_freeContext(sws);

    int worst = 0;
    for (int r = 0; r < h; ++r) {
        if (std::abs(r - h / 2) <= 2) continue; // chroma is blended across the edge
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c)
                worst = std::max(worst, std::abs(int(ours[(r * w + x) * 4 + c]) -
                                                 int(ref[(r * w + x) * 4 + c])));
    }
    EXPECT_LE(worst, 6);

    av_packet_free(&pkt);
    av_frame_free(&src);
    avcodec_free_context(&ctx);
}

} // namespace
} // namespace qm
