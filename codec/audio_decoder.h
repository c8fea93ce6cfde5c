#pragma once
// Audio decoders: each turns one audio payload of a recording into 16-bit
// signed little-endian mono PCM at 8000 samples per second, written into a
// buffer the caller sized with OutputSize for the same payload length.
// Decode never writes more than OutputSize(length) bytes; parts of the output
// a damaged payload cannot fill are written as silence.

#include "codec/g723_coder.h"
#include "codec/voice_codec.h"

#include <cstdint>
#include <memory>

struct AVCodecContext;
struct AVFrame;
struct AVPacket;

namespace qm {

// Longest payload the decoders accept; OutputSize is 0 and Decode fails
// beyond it, so that no size computation can overflow.
constexpr int kMaxAudioPayloadBytes = 64 << 20;

class TAudioDecoder {
public:
    virtual ~TAudioDecoder() = default;
    // Output bytes for an input of `length` bytes (0 for a negative length).
    virtual int OutputSize(int length) = 0;
    virtual bool Decode(const uint8_t* data, int length, uint8_t* out) = 0;
};

// Type 1: G.723 at 24 kbit/s, 8 codes of 3 bits in every 3 bytes (a 24-bit
// little-endian group, first code in the lowest bits); an incomplete last
// group gives its whole codes.
class TAudioDecoder_G723 : public TAudioDecoder {
public:
    int OutputSize(int length) override;
    bool Decode(const uint8_t* data, int length, uint8_t* out) override;

private:
    CG723Coder m_coder;
};

// Types 4, 5 and 6: G.711 codes, one per byte, or (type 4) a 256-byte header
// followed by a code in every second byte.
class TAudioDecoder_G711 : public TAudioDecoder {
public:
    enum Law : int { kALaw = 0, kULaw = 1 };
    static constexpr int kHeaderBytes = 256;

    // mode 2 skips the header; step is the distance between codes in bytes.
    TAudioDecoder_G711(int law, int step, int offset, int mode);
    int OutputSize(int length) override;
    bool Decode(const uint8_t* data, int length, uint8_t* out) override;

private:
    int Codes(int length) const;

    int m_nLaw;
    int m_nStep;
    int m_nOffset;
    int m_nMode;
};

// Whole HiSilicon voice frames of a fixed size, each decoded into a fixed
// share of the output; a remainder shorter than a frame is ignored.
class THisiFrameDecoder : public TAudioDecoder {
public:
    int OutputSize(int length) override;
    bool Decode(const uint8_t* data, int length, uint8_t* out) override;

    const HiVoiceDecState& State() const { return m_state; }

protected:
    THisiFrameDecoder(int16_t codecType, int frameBytes, int samplesPerFrame);

private:
    HiVoiceDecState m_state;
    int m_nFrameBytes;
    int m_nSamplesPerFrame;
};

// Type 3: frames of 168 bytes, IMA ADPCM (voice codec type 35), 321 samples each.
class TAudioDecoder_HISI16 : public THisiFrameDecoder {
public:
    static constexpr int kFrameBytes = 168;
    static constexpr int kFrameSamples = 321;
    TAudioDecoder_HISI16() : THisiFrameDecoder(kHiVoiceAdpcmLowFirst, kFrameBytes, kFrameSamples) {}
};

// Type 7: frames of 324 bytes, G.711 mu-law (voice codec type 2), 320 samples each.
class TAudioDecoder_HIG711 : public THisiFrameDecoder {
public:
    static constexpr int kFrameBytes = 324;
    static constexpr int kFrameSamples = 320;
    TAudioDecoder_HIG711() : THisiFrameDecoder(kHiVoiceG711U, kFrameBytes, kFrameSamples) {}
};

// Type 13: mu-law through libavcodec's pcm_mulaw decoder.
class TAudioDecoder_MULAW : public TAudioDecoder {
public:
    // Null when libavcodec has no mu-law decoder or cannot open it.
    static std::unique_ptr<TAudioDecoder_MULAW> Create();
    ~TAudioDecoder_MULAW() override;
    TAudioDecoder_MULAW(const TAudioDecoder_MULAW&) = delete;
    TAudioDecoder_MULAW& operator=(const TAudioDecoder_MULAW&) = delete;

    int OutputSize(int length) override;
    bool Decode(const uint8_t* data, int length, uint8_t* out) override;

private:
    TAudioDecoder_MULAW() = default;

    AVCodecContext* m_pContext = nullptr;
    AVPacket* m_pPacket = nullptr;
    AVFrame* m_pFrame = nullptr;
};

} // namespace qm
