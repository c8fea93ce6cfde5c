// Frame checks and payload decoding of the HiSilicon voice codec.

#include "codec/voice_codec.h"

#include "codec/g711.h"
#include "platform/byte_order.h"

#include <cstring>

namespace qm {

namespace {

constexpr char kVersionText[] = "HI_VOICE_VERSION=Hi3511_VOICELIB_V1.0.0.0";

// Bits per code of the G.726 types, 0 for the others.
int G726Bits(int type) {
    switch (type) {
    case kHiVoiceG726_16:
    case kHiVoiceG726_16Msb:
    case kHiVoiceG726_16Word:
        return 2;
    case kHiVoiceG726_24:
    case kHiVoiceG726_24Msb:
        return 3;
    case kHiVoiceG726_32:
    case kHiVoiceG726_32Msb:
        return 4;
    case kHiVoiceG726_40:
    case kHiVoiceG726_40Msb:
        return 5;
    default:
        return 0;
    }
}

bool IsSupported(int type) {
    switch (type) {
    case kHiVoiceG711A:
    case kHiVoiceG711U:
    case kHiVoiceG711ASwapped:
    case kHiVoiceG711USwapped:
    case kHiVoiceAdpcmHighFirst:
    case kHiVoiceAdpcmLowFirst:
    case kHiVoiceAdpcmRunning:
        return true;
    default:
        return G726Bits(type) != 0;
    }
}

// Samples one frame of `words` payload words gives, or -1 when the type's
// length rule refuses the length. Each rule caps the length and, for G.711
// and G.726, asks for whole multiples of 80 samples.
int SamplesForLength(int type, int words) {
    auto multipleOf80 = [](int samples, int maxWords, int words) {
        return words <= maxWords && samples % 80 == 0 ? samples : -1;
    };
    switch (type) {
    case kHiVoiceG711A:
    case kHiVoiceG711U:
    case kHiVoiceG711ASwapped:
    case kHiVoiceG711USwapped:
        return multipleOf80(2 * words, 240, words);
    case kHiVoiceAdpcmHighFirst:
    case kHiVoiceAdpcmLowFirst: {
        // The first two words carry the predictor and the step index.
        if (words < 2 || words > 122) return -1;
        const int samples = 4 * (words - 2);
        return type == kHiVoiceAdpcmLowFirst ? samples + 1 : samples;
    }
    case kHiVoiceAdpcmRunning:
        return words <= 122 ? 4 * words : -1;
    case kHiVoiceG726_16Word:
        return multipleOf80(8 * words, 60, words);
    default:
        break;
    }
    switch (G726Bits(type)) {
    case 2:
        return multipleOf80(8 * words, 60, words);
    case 3:
        return multipleOf80(16 * words / 3, 90, words);
    case 4:
        return multipleOf80(4 * words, 120, words);
    case 5:
        return multipleOf80(16 * words / 5, 150, words);
    default:
        return -1;
    }
}

void DecodeG711(int type, const uint8_t* payload, int count, int16_t* out) {
    const bool alaw = type == kHiVoiceG711A || type == kHiVoiceG711ASwapped;
    // Swapped types store the second byte of every word first.
    const int flip = (type == kHiVoiceG711ASwapped || type == kHiVoiceG711USwapped) ? 1 : 0;
    for (int i = 0; i < count; ++i) {
        const uint8_t code = payload[i ^ flip];
        out[i] = alaw ? G711AlawToLinear(code) : G711UlawToLinear(code);
    }
}

void DecodeImaCodes(ImaAdpcmState& ima, const uint8_t* codes, int count, bool lowFirst,
                    int16_t* out) {
    for (int i = 0; i < count; ++i) {
        const uint8_t byte = codes[i / 2];
        const bool low = (i % 2 == 0) == lowFirst;
        out[i] = ImaAdpcmExpand(ima, low ? byte & 0x0F : byte >> 4);
    }
}

void DecodeIma(HiVoiceDecState& state, const uint8_t* payload, int samples, int16_t* out) {
    if (state.nCodecType == kHiVoiceAdpcmRunning) {
        DecodeImaCodes(state.ima, payload, samples, false, out);
        return;
    }
    // Predictor (16-bit), step index, a spare byte, then the codes.
    state.ima.nPredictor = int16_t(loadLE16(payload));
    state.ima.nIndex = payload[2] > kImaMaxIndex ? kImaMaxIndex : payload[2];
    if (state.nCodecType == kHiVoiceAdpcmLowFirst) {
        *out++ = state.ima.nPredictor;
        --samples;
    }
    DecodeImaCodes(state.ima, payload + 4, samples, state.nCodecType == kHiVoiceAdpcmLowFirst, out);
}

// The length rules only admit payloads holding a whole number of codes, so
// the codes of the most-significant-first types need no repacking: they are
// read in that order directly.
void DecodeG726(HiVoiceDecState& state, const uint8_t* payload, int count, int16_t* out) {
    G726State& g726 = state.g726;
    const int bits = g726.nBits;
    const unsigned mask = (1u << bits) - 1;
    if (state.nCodecType == kHiVoiceG726_16Word) {
        for (int i = 0; i < count; ++i) {
            const unsigned word = loadLE16(payload + 2 * (i / 8));
            out[i] = G726Decode(g726, (word >> (14 - 2 * (i % 8))) & 3);
        }
        return;
    }
    const bool msbFirst = state.nCodecType >= kHiVoiceG726_16Msb;
    uint32_t acc = 0;
    int held = 0;
    size_t pos = 0;
    for (int i = 0; i < count; ++i) {
        unsigned code;
        if (msbFirst) {
            while (held < bits) {
                acc = (acc << 8) | payload[pos++];
                held += 8;
            }
            code = (acc >> (held - bits)) & mask;
        } else {
            while (held < bits) {
                acc |= uint32_t(payload[pos++]) << held;
                held += 8;
            }
            code = acc & mask;
            acc >>= bits;
        }
        held -= bits;
        out[i] = G726Decode(g726, code);
    }
}

} // namespace

int HI_VOICE_GetVersion(char* buffer, size_t size) {
    if (!buffer || size < sizeof kVersionText) return -1;
    std::memcpy(buffer, kVersionText, sizeof kVersionText);
    return 0;
}

uint32_t HI_VOICE_DecReset(HiVoiceDecState* state, int16_t codecType) {
    if (!state) return kHiVoiceErrNoState;
    *state = HiVoiceDecState{};
    state->nCodecType = codecType;
    if (const int bits = G726Bits(codecType)) G726Reset(state->g726, bits);
    return IsSupported(codecType) ? kHiVoiceSuccess : kHiVoiceErrCodecType;
}

uint32_t HI_VOICE_DecodeFrame(HiVoiceDecState* state, const uint8_t* frame, size_t frameBytes,
                              int16_t* samples, size_t capacity, uint16_t* sampleCount) {
    if (!state) return kHiVoiceErrNoState;
    if (!frame || frameBytes < kHiVoiceHeaderBytes) return kHiVoiceErrNoFrame;
    if (!samples || !sampleCount) return kHiVoiceErrNoOutput;
    *sampleCount = 0;

    if (((loadLE16(frame) >> 8) & 3) != 1) return kHiVoiceErrFrameFlags;
    const int words = frame[2];
    if (words == 0) return kHiVoiceErrFrameLength;
    const int type = state->nCodecType;
    if (!IsSupported(type)) return kHiVoiceErrCodecType;
    const int count = SamplesForLength(type, words);
    if (count < 0 || frameBytes - kHiVoiceHeaderBytes < size_t(2 * words))
        return kHiVoiceErrFrameLength;
    if (size_t(count) > capacity) return kHiVoiceErrNoOutput;

    const uint8_t* payload = frame + kHiVoiceHeaderBytes;
    if (G726Bits(type))
        DecodeG726(*state, payload, count, samples);
    else if (type == kHiVoiceAdpcmHighFirst || type == kHiVoiceAdpcmLowFirst ||
             type == kHiVoiceAdpcmRunning)
        DecodeIma(*state, payload, count, samples);
    else
        DecodeG711(type, payload, count, samples);
    *sampleCount = uint16_t(count);
    return kHiVoiceSuccess;
}

} // namespace qm
