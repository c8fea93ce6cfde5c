#include "stream_decoder.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/log.h>
}

#include <cstring>
#include <stdexcept>

namespace qm::test {
namespace {
// Encoder statistics would drown the test output.
[[maybe_unused]] const int kQuietCodecLog = (av_log_set_level(AV_LOG_ERROR), 0);
} // namespace

struct StreamDecoder::Impl {
    AVCodecContext* ctx = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    ~Impl() {
        av_packet_free(&packet);
        av_frame_free(&frame);
        avcodec_free_context(&ctx);
    }
};

StreamDecoder::StreamDecoder(Kind kind) : m_impl(new Impl) {
    AVCodecID id = kind == Kind::H264    ? AV_CODEC_ID_H264
                   : kind == Kind::Mpeg4 ? AV_CODEC_ID_MPEG4
                                         : AV_CODEC_ID_MJPEG;
    const AVCodec* codec = avcodec_find_decoder(id);
    if (!codec) throw std::runtime_error("no decoder");
    m_impl->ctx = avcodec_alloc_context3(codec);
    m_impl->ctx->thread_count = 1;
    if (avcodec_open2(m_impl->ctx, codec, nullptr) < 0) throw std::runtime_error("open failed");
    m_impl->frame = av_frame_alloc();
    m_impl->packet = av_packet_alloc();
}

StreamDecoder::~StreamDecoder() = default;

std::vector<DecodedLuma> StreamDecoder::drain() {
    std::vector<DecodedLuma> out;
    while (avcodec_receive_frame(m_impl->ctx, m_impl->frame) == 0) {
        AVFrame* f = m_impl->frame;
        DecodedLuma d{f->width, f->height, std::vector<uint8_t>(size_t(f->width) * f->height)};
        for (int y = 0; y < f->height; ++y)
            std::memcpy(&d.y[size_t(y) * f->width], f->data[0] + size_t(y) * f->linesize[0],
                        f->width);
        out.push_back(std::move(d));
        av_frame_unref(f);
    }
    return out;
}

std::vector<DecodedLuma> StreamDecoder::decode(const std::vector<uint8_t>& bytes) {
    AVPacket* p = m_impl->packet;
    if (av_new_packet(p, int(bytes.size())) < 0) throw std::runtime_error("packet");
    std::memcpy(p->data, bytes.data(), bytes.size());
    int err = avcodec_send_packet(m_impl->ctx, p);
    av_packet_unref(p);
    if (err < 0) return {};
    return drain();
}

std::vector<DecodedLuma> StreamDecoder::flush() {
    avcodec_send_packet(m_impl->ctx, nullptr);
    return drain();
}

} // namespace qm::test
