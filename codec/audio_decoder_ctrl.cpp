#include "codec/audio_decoder_ctrl.h"

namespace qm {

std::unique_ptr<TAudioDecoder> TAudioDecoderCtrl::Create(int type) {
    switch (type) {
    case kAudioDecoderG723:
        return std::make_unique<TAudioDecoder_G723>();
    case kAudioDecoderHisi16:
        return std::make_unique<TAudioDecoder_HISI16>();
    case kAudioDecoderG711UHeader:
        return std::make_unique<TAudioDecoder_G711>(TAudioDecoder_G711::kULaw, 2, 0, 2);
    case kAudioDecoderG711U:
        return std::make_unique<TAudioDecoder_G711>(TAudioDecoder_G711::kULaw, 1, 0, 1);
    case kAudioDecoderG711A:
        return std::make_unique<TAudioDecoder_G711>(TAudioDecoder_G711::kALaw, 1, 0, 1);
    case kAudioDecoderHiG711:
        return std::make_unique<TAudioDecoder_HIG711>();
    case kAudioDecoderMulaw:
        return TAudioDecoder_MULAW::Create();
    default:
        return nullptr;
    }
}

int TAudioDecoderCtrl::Prepare(int type, int length) {
    if (m_pDecoder && m_nType != type) m_pDecoder.reset();
    if (!m_pDecoder) {
        m_pDecoder = Create(type);
        if (m_pDecoder) m_nType = type;
    }
    return m_pDecoder ? m_pDecoder->OutputSize(length) : 0;
}

bool TAudioDecoderCtrl::Decode(uint8_t* out, const uint8_t* data, int length) {
    return m_pDecoder && m_pDecoder->Decode(data, length, out);
}

} // namespace qm
