#include "tools/mkrec/video_encoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>

namespace qm::mkrec {
namespace {

// Camera content's preset. ultrafast drops CABAC, the deblocking filter and
// P-frame partitions, which a recorder's hardware encoder uses and a decoder
// pays for; superfast still codes P-frames in 16 x 16 blocks only. veryfast
// splits them as a recorder does, for about 40 % more encoding time.
constexpr const char* kRecorderPreset = "veryfast";

std::string avError(int err) {
    char buf[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(err, buf, sizeof buf);
    return buf;
}

} // namespace

void quietCodecLog() {
    av_log_set_level(AV_LOG_ERROR);
}

struct VideoEncoder::Impl {
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    int64_t pts = 0;

    ~Impl() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
};

VideoEncoder::VideoEncoder(const EncoderSettings& s) : m_settings(s), m_impl(new Impl) {
    const AVCodec* codec = nullptr;
    if (codedAsH264(s.codec))
        codec = avcodec_find_encoder_by_name("libx264");
    else if (s.codec == VideoCodec::SOLO)
        codec = avcodec_find_encoder(AV_CODEC_ID_MPEG4);
    else
        codec = avcodec_find_encoder(AV_CODEC_ID_MJPEG);
    if (!codec) throw std::runtime_error("video encoder not available in libavcodec");

    AVCodecContext* ctx = m_impl->ctx = avcodec_alloc_context3(codec);
    if (!ctx) throw std::runtime_error("out of memory");
    ctx->width = s.width;
    ctx->height = s.height;
    ctx->time_base = AVRational{1, s.fps};
    ctx->framerate = AVRational{s.fps, 1};
    ctx->thread_count = 1; // more threads would change the bytes from run to run
    ctx->max_b_frames = 0;
    ctx->flags |= AV_CODEC_FLAG_BITEXACT;
    // The caller places every key frame; the encoder must not add its own.
    ctx->gop_size = codedAsH264(s.codec) ? 1 << 20 : kMpeg4MaxKeyInterval;

    if (codedAsH264(s.codec)) {
        ctx->pix_fmt = AV_PIX_FMT_YUV420P;
        // zerolatency: no lookahead, so every picture comes out as it goes in.
        av_opt_set(ctx->priv_data, "tune", "zerolatency", 0);
        av_opt_set_int(ctx->priv_data, "forced-idr", 1, 0);
        if (s.bitrateKbps > 0) {
            // A recorder's stream: CABAC and the deblocking filter (Main profile),
            // one reference frame, no B-frames, and a rate held by a VBV of two
            // seconds so that the stream sits at the rate second by second.
            av_opt_set(ctx->priv_data, "preset", kRecorderPreset, 0);
            av_opt_set(ctx->priv_data, "profile", "main", 0);
            ctx->refs = 1;
            ctx->bit_rate = int64_t(s.bitrateKbps) * 1000;
            ctx->rc_max_rate = ctx->bit_rate;
            ctx->rc_buffer_size = int(std::min<int64_t>(2 * ctx->bit_rate, INT32_MAX));
        } else {
            av_opt_set(ctx->priv_data, "preset", "ultrafast", 0);
            av_opt_set(ctx->priv_data, "profile", "baseline", 0);
            av_opt_set_double(ctx->priv_data, "crf", s.quality > 0 ? s.quality : 26, 0);
        }
        av_opt_set(ctx->priv_data, "x264-params", "scenecut=0:repeat-headers=1:annexb=1", 0);
    } else {
        ctx->pix_fmt = s.codec == VideoCodec::MJPG ? AV_PIX_FMT_YUVJ420P : AV_PIX_FMT_YUV420P;
        ctx->flags |= AV_CODEC_FLAG_QSCALE;
        ctx->global_quality = FF_QP2LAMBDA * (s.quality > 0 ? s.quality : 5);
        if (s.codec == VideoCodec::MJPG) ctx->color_range = AVCOL_RANGE_JPEG;
    }
    if (int err = avcodec_open2(ctx, codec, nullptr); err < 0)
        throw std::runtime_error(std::string("cannot open video encoder: ") + avError(err));

    m_impl->frame = av_frame_alloc();
    m_impl->packet = av_packet_alloc();
    if (!m_impl->frame || !m_impl->packet) throw std::runtime_error("out of memory");
    AVFrame* f = m_impl->frame;
    f->format = ctx->pix_fmt;
    f->width = s.width;
    f->height = s.height;
    if (int err = av_frame_get_buffer(f, 0); err < 0)
        throw std::runtime_error("cannot allocate a video frame: " + avError(err));
}

VideoEncoder::~VideoEncoder() = default;

EncodedPicture VideoEncoder::encode(const Picture& picture, bool key) {
    if (picture.width != m_settings.width || picture.height != m_settings.height)
        throw std::logic_error("picture size differs from the encoder's");
    AVFrame* f = m_impl->frame;
    if (int err = av_frame_make_writable(f); err < 0)
        throw std::runtime_error("video frame not writable: " + avError(err));
    auto copyPlane = [](uint8_t* dst, int dstStride, const uint8_t* src, int w, int h) {
        for (int y = 0; y < h; ++y)
            std::memcpy(dst + size_t(y) * dstStride, src + size_t(y) * w, w);
    };
    copyPlane(f->data[0], f->linesize[0], picture.y.data(), picture.width, picture.height);
    copyPlane(f->data[1], f->linesize[1], picture.u.data(), picture.width / 2, picture.height / 2);
    copyPlane(f->data[2], f->linesize[2], picture.v.data(), picture.width / 2, picture.height / 2);
    f->pts = m_impl->pts++;
    f->pict_type = key ? AV_PICTURE_TYPE_I : AV_PICTURE_TYPE_NONE;
    f->key_frame = key;

    if (int err = avcodec_send_frame(m_impl->ctx, f); err < 0)
        throw std::runtime_error("video encoding failed: " + avError(err));
    AVPacket* pkt = m_impl->packet;
    int err = avcodec_receive_packet(m_impl->ctx, pkt);
    if (err < 0) throw std::runtime_error("the video encoder held a picture back: " + avError(err));
    EncodedPicture out;
    out.bytes.assign(pkt->data, pkt->data + pkt->size);
    out.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    av_packet_unref(pkt);
    if (out.key != key)
        throw std::runtime_error("the video encoder did not follow the key-frame schedule");
    return out;
}

} // namespace qm::mkrec
