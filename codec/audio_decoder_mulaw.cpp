// mu-law through libavcodec's pcm_mulaw decoder: one packet per payload,
// every sample it gives copied out as 16-bit little-endian PCM.

#include "codec/audio_decoder.h"

#include "codec/ffmpeg_library.h"
#include "platform/byte_order.h"

#include <algorithm>
#include <cstring>

namespace qm {

std::unique_ptr<TAudioDecoder_MULAW> TAudioDecoder_MULAW::Create() {
    if (!FfmpegLoaded()) return nullptr;
    const AVCodec* codec = Ffmpeg().avcodec_find_decoder(AV_CODEC_ID_PCM_MULAW);
    if (!codec) return nullptr;
    std::unique_ptr<TAudioDecoder_MULAW> self(new TAudioDecoder_MULAW);
    self->m_pContext = Ffmpeg().avcodec_alloc_context3(codec);
    self->m_pPacket = Ffmpeg().av_packet_alloc();
    self->m_pFrame = Ffmpeg().av_frame_alloc();
    if (!self->m_pContext || !self->m_pPacket || !self->m_pFrame) return nullptr;
    self->m_pContext->sample_rate = 8000;
    Ffmpeg().av_channel_layout_default(&self->m_pContext->ch_layout, 1);
    if (Ffmpeg().avcodec_open2(self->m_pContext, codec, nullptr) < 0) return nullptr;
    return self;
}

TAudioDecoder_MULAW::~TAudioDecoder_MULAW() {
    Ffmpeg().av_frame_free(&m_pFrame);
    Ffmpeg().av_packet_free(&m_pPacket);
    Ffmpeg().avcodec_free_context(&m_pContext);
}

// One 16-bit sample per input byte.
int TAudioDecoder_MULAW::OutputSize(int length) {
    return length >= 0 && length <= kMaxAudioPayloadBytes ? length * 2 : 0;
}

bool TAudioDecoder_MULAW::Decode(const uint8_t* data, int length, uint8_t* out) {
    if (!data || !out || length <= 0 || length > kMaxAudioPayloadBytes) return false;
    if (Ffmpeg().av_new_packet(m_pPacket, length) < 0) return false;
    std::memcpy(m_pPacket->data, data, size_t(length));
    const int sent = Ffmpeg().avcodec_send_packet(m_pContext, m_pPacket);
    Ffmpeg().av_packet_unref(m_pPacket);
    if (sent < 0) return false;

    const size_t room = size_t(length) * 2;
    size_t written = 0;
    while (Ffmpeg().avcodec_receive_frame(m_pContext, m_pFrame) >= 0) {
        if (m_pFrame->format == AV_SAMPLE_FMT_S16) {
            const int16_t* samples = reinterpret_cast<const int16_t*>(m_pFrame->data[0]);
            const size_t count = std::min(size_t(m_pFrame->nb_samples), (room - written) / 2);
            for (size_t i = 0; i < count; ++i)
                storeLE16(out + written + 2 * i, uint16_t(samples[i]));
            written += count * 2;
        }
        Ffmpeg().av_frame_unref(m_pFrame);
    }
    std::memset(out + written, 0, room - written);
    return written > 0;
}

} // namespace qm
