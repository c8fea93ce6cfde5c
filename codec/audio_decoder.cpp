// The G.723, G.711 and HiSilicon frame decoders.

#include "codec/audio_decoder.h"

#include "codec/g711.h"
#include "platform/byte_order.h"

#include <cstring>

namespace qm {

namespace {

bool LengthAccepted(int length) {
    return length >= 0 && length <= kMaxAudioPayloadBytes;
}

} // namespace

// ---------------------------------------------------------------------------
// TAudioDecoder_G723

int TAudioDecoder_G723::OutputSize(int length) {
    if (!LengthAccepted(length)) return 0;
    return int(int64_t(length) * 8 / 3 * 2);
}

bool TAudioDecoder_G723::Decode(const uint8_t* data, int length, uint8_t* out) {
    if (!data || !out || !LengthAccepted(length)) return false;
    const int64_t codes = int64_t(length) * 8 / 3;
    for (int64_t group = 0; group * 8 < codes; ++group) {
        const int64_t first = group * 3;
        uint32_t bits = data[first];
        if (first + 1 < length) bits |= uint32_t(data[first + 1]) << 8;
        if (first + 2 < length) bits |= uint32_t(data[first + 2]) << 16;
        for (int i = 0; i < 8 && group * 8 + i < codes; ++i) {
            storeLE16(out, uint16_t(m_coder.Decode((bits >> (3 * i)) & 7)));
            out += 2;
        }
    }
    return true;
}

// ---------------------------------------------------------------------------
// TAudioDecoder_G711

TAudioDecoder_G711::TAudioDecoder_G711(int law, int step, int offset, int mode)
    : m_nLaw(law), m_nStep(step > 0 ? step : 1), m_nOffset(offset > 0 ? offset : 0), m_nMode(mode) {
}

int TAudioDecoder_G711::Codes(int length) const {
    if (!LengthAccepted(length)) return 0;
    int64_t body = length;
    if (m_nMode == 2) body -= kHeaderBytes;
    body -= m_nOffset;
    if (body <= 0) return 0;
    // Codes at 0, step, 2 * step, ... of the body.
    return int((body + m_nStep - 1) / m_nStep);
}

int TAudioDecoder_G711::OutputSize(int length) {
    return Codes(length) * 2;
}

bool TAudioDecoder_G711::Decode(const uint8_t* data, int length, uint8_t* out) {
    if (!data || !out || !LengthAccepted(length)) return false;
    const int codes = Codes(length);
    const uint8_t* code = data + (m_nMode == 2 ? kHeaderBytes : 0) + m_nOffset;
    for (int i = 0; i < codes; ++i, code += m_nStep) {
        const int16_t sample = m_nLaw == kALaw ? G711AlawToLinear(*code) : G711UlawToLinear(*code);
        storeLE16(out + 2 * i, uint16_t(sample));
    }
    return true;
}

// ---------------------------------------------------------------------------
// THisiFrameDecoder

THisiFrameDecoder::THisiFrameDecoder(int16_t codecType, int frameBytes, int samplesPerFrame)
    : m_nFrameBytes(frameBytes), m_nSamplesPerFrame(samplesPerFrame) {
    HI_VOICE_DecReset(&m_state, codecType);
}

int THisiFrameDecoder::OutputSize(int length) {
    if (!LengthAccepted(length)) return 0;
    return length / m_nFrameBytes * m_nSamplesPerFrame * 2;
}

bool THisiFrameDecoder::Decode(const uint8_t* data, int length, uint8_t* out) {
    if (!data || !out || !LengthAccepted(length)) return false;
    int16_t samples[kHiVoiceMaxFrameSamples];
    for (int frame = 0; frame < length / m_nFrameBytes; ++frame) {
        uint16_t count = 0;
        // A frame that fails its checks, or carries fewer samples than a
        // whole frame does, leaves silence in the rest of its share.
        if (HI_VOICE_DecodeFrame(&m_state, data + size_t(frame) * m_nFrameBytes,
                                 size_t(m_nFrameBytes), samples, size_t(m_nSamplesPerFrame),
                                 &count) != kHiVoiceSuccess)
            count = 0;
        for (int i = 0; i < m_nSamplesPerFrame; ++i) {
            storeLE16(out, uint16_t(i < count ? samples[i] : 0));
            out += 2;
        }
    }
    return true;
}

} // namespace qm
