#include "export/alac_sound.h"

#include "export/mux_library.h"

#include <algorithm>
#include <cstring>

namespace qm {

namespace {

// A gap longer than this is not filled sample by sample at once but in
// pieces, so that a long gap never holds much memory.
constexpr int64_t kSilencePieceSamples = 1 << 16;

} // namespace

TAlacSound::~TAlacSound() {
    if (!MuxLibraryLoaded()) return;
    const MuxLibrary& mux = Mux();
    if (m_pPacket) mux.av_packet_free(&m_pPacket);
    if (m_pFrame) mux.av_frame_free(&m_pFrame);
    if (m_pCodec) mux.avcodec_free_context(&m_pCodec);
}

bool TAlacSound::Fail(const std::string& error) {
    if (m_strError.empty()) m_strError = error;
    return false;
}

bool TAlacSound::Open(int rate, AVCodecParameters* stream) {
    if (!MuxLibraryLoaded()) return Fail("libavformat cannot be loaded");
    const MuxLibrary& mux = Mux();
    const AVCodec* codec = mux.avcodec_find_encoder(AV_CODEC_ID_ALAC);
    if (!codec) return Fail("this FFmpeg has no ALAC encoder");
    m_pCodec = mux.avcodec_alloc_context3(codec);
    m_pFrame = mux.av_frame_alloc();
    m_pPacket = mux.av_packet_alloc();
    if (!m_pCodec || !m_pFrame || !m_pPacket) return Fail("out of memory");
    m_nRate = rate;
    m_pCodec->sample_fmt = AV_SAMPLE_FMT_S16P;
    m_pCodec->sample_rate = rate;
    m_pCodec->ch_layout.order = AV_CHANNEL_ORDER_NATIVE;
    m_pCodec->ch_layout.nb_channels = 1;
    m_pCodec->ch_layout.u.mask = AV_CH_LAYOUT_MONO;
    m_pCodec->time_base = AVRational{1, rate};
    if (mux.avcodec_open2(m_pCodec, codec, nullptr) < 0) return Fail("the ALAC encoder refused");
    m_nFrameSamples = m_pCodec->frame_size > 0 ? m_pCodec->frame_size : 4096;
    if (mux.avcodec_parameters_from_context(stream, m_pCodec) < 0) return Fail("out of memory");
    return true;
}

bool TAlacSound::Add(int64_t ms, const int16_t* samples, size_t count, const Sink& sink) {
    if (!m_pCodec) return false;
    const int64_t at = std::max<int64_t>(ms, 0) * m_nRate / 1000;
    const int64_t slack = kSlackMs * m_nRate / 1000;
    // Silence up to a picture whose sound begins after the track's end.
    while (at > m_llPlaced + slack) {
        const int64_t piece = std::min(at - m_llPlaced, kSilencePieceSamples);
        m_pending.insert(m_pending.end(), size_t(piece), 0);
        m_llPlaced += piece;
        if (!EncodeFrames(false, sink)) return false;
    }
    // Samples that would begin well before the track's end are trimmed.
    size_t skip = 0;
    if (at + slack < m_llPlaced) skip = size_t(std::min<int64_t>(m_llPlaced - at, int64_t(count)));
    m_pending.insert(m_pending.end(), samples + skip, samples + count);
    m_llPlaced += int64_t(count - skip);
    return EncodeFrames(false, sink);
}

bool TAlacSound::Finish(const Sink& sink) {
    if (!m_pCodec) return false;
    if (!EncodeFrames(true, sink)) return false;
    if (Mux().avcodec_send_frame(m_pCodec, nullptr) < 0) return Fail("the ALAC encoder failed");
    return Drain(sink);
}

bool TAlacSound::EncodeFrames(bool all, const Sink& sink) {
    const MuxLibrary& mux = Mux();
    size_t used = 0;
    while (m_pending.size() - used >= size_t(m_nFrameSamples) ||
           (all && used < m_pending.size())) {
        const int n = int(std::min(m_pending.size() - used, size_t(m_nFrameSamples)));
        m_pFrame->nb_samples = n;
        m_pFrame->format = AV_SAMPLE_FMT_S16P;
        m_pFrame->sample_rate = m_nRate;
        m_pFrame->ch_layout = m_pCodec->ch_layout;
        if (mux.av_frame_get_buffer(m_pFrame, 0) < 0) return Fail("out of memory");
        std::memcpy(m_pFrame->data[0], m_pending.data() + used, size_t(n) * sizeof(int16_t));
        m_pFrame->pts = m_llEncoded;
        const int sent = mux.avcodec_send_frame(m_pCodec, m_pFrame);
        // The encoder keeps its own reference; the frame is made anew.
        mux.av_frame_free(&m_pFrame);
        m_pFrame = mux.av_frame_alloc();
        if (!m_pFrame) return Fail("out of memory");
        if (sent < 0) return Fail("the ALAC encoder failed");
        m_llEncoded += n;
        used += size_t(n);
        if (!Drain(sink)) return false;
    }
    m_pending.erase(m_pending.begin(), m_pending.begin() + std::ptrdiff_t(used));
    return true;
}

bool TAlacSound::Drain(const Sink& sink) {
    const MuxLibrary& mux = Mux();
    for (;;) {
        const int r = mux.avcodec_receive_packet(m_pCodec, m_pPacket);
        if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
        if (r < 0) return Fail("the ALAC encoder failed");
        const bool ok = sink(m_pPacket);
        mux.av_packet_unref(m_pPacket);
        if (!ok) return false;
    }
}

} // namespace qm
