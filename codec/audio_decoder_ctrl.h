#pragma once
// The player's one audio decoder control: it holds the decoder of the type
// last asked for and replaces it (with a fresh state) when another type is
// asked for. Not thread-safe; one thread at a time uses it.

#include "codec/audio_decoder.h"

#include <memory>

namespace qm {

// Decoder types of the control.
enum AudioDecoderType : int {
    kAudioDecoderG723 = 1,
    kAudioDecoderHisi16 = 3,
    kAudioDecoderG711UHeader = 4,
    kAudioDecoderG711U = 5,
    kAudioDecoderG711A = 6,
    kAudioDecoderHiG711 = 7,
    kAudioDecoderMulaw = 13,
};

class TAudioDecoderCtrl {
public:
    TAudioDecoderCtrl() = default;
    virtual ~TAudioDecoderCtrl() = default;
    TAudioDecoderCtrl(const TAudioDecoderCtrl&) = delete;
    TAudioDecoderCtrl& operator=(const TAudioDecoderCtrl&) = delete;

    // Makes the decoder of `type` current (deleting one of another type) and
    // returns its output size in bytes for `length` input bytes, or 0 when
    // there is no decoder of that type. The size is not cut to 16 bits, so
    // long payloads are decoded whole.
    int Prepare(int type, int length);

    // Decodes with the current decoder; false when there is none.
    bool Decode(uint8_t* out, const uint8_t* data, int length);

    int Type() const { return m_nType; }
    TAudioDecoder* Decoder() const { return m_pDecoder.get(); }

    // The decoder of a type, or null for a type without one.
    static std::unique_ptr<TAudioDecoder> Create(int type);

private:
    std::unique_ptr<TAudioDecoder> m_pDecoder;
    int m_nType = -1;
};

} // namespace qm
