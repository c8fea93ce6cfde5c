#pragma once
// The HiSilicon voice frame codec ("Hi3511_VOICELIB_V1.0.0.0"), decoding side,
// as the DVRs write their sound: one frame is a 4-byte header (flags word
// 0x0100, payload length in 16-bit words, a spare byte) and the payload of one
// codec type: G.711 A-law or mu-law, IMA ADPCM, or G.726 at 16 to 40 kbit/s.
//
// Frames come from recordings, so every length is checked against the bytes
// given and the room for samples before anything is read or written.

#include "codec/g726.h"
#include "codec/ima_adpcm.h"

#include <cstddef>
#include <cstdint>

namespace qm {

// Result codes.
constexpr uint32_t kHiVoiceSuccess = 0;
constexpr uint32_t kHiVoiceErrNoState = 0xA1220101;
constexpr uint32_t kHiVoiceErrNoFrame = 0xA1220102;
constexpr uint32_t kHiVoiceErrNoOutput = 0xA1220103;
constexpr uint32_t kHiVoiceErrFrameFlags = 0xA1220013;
constexpr uint32_t kHiVoiceErrFrameLength = 0xA1220012;
constexpr uint32_t kHiVoiceErrCodecType = 0xA1220011;

// Codec types.
enum HiVoiceCodecType : int16_t {
    kHiVoiceG711A = 1,
    kHiVoiceG711U = 2,
    kHiVoiceAdpcmHighFirst = 3, // IMA ADPCM, state in the frame, high nibble first
    kHiVoiceG726_16 = 4,        // G.726, codes least significant bits first
    kHiVoiceG726_24 = 5,
    kHiVoiceG726_32 = 6,
    kHiVoiceG726_40 = 7,
    kHiVoiceAdpcmLowFirst = 35, // IMA ADPCM, first sample in the frame, low nibble first
    kHiVoiceG726_16Msb = 36,    // G.726, codes most significant bits first
    kHiVoiceG726_24Msb = 37,
    kHiVoiceG726_32Msb = 38,
    kHiVoiceG726_40Msb = 39,
    kHiVoiceG711ASwapped = 65, // G.711, the two bytes of each word in reverse order
    kHiVoiceG711USwapped = 66,
    kHiVoiceAdpcmRunning = 67, // IMA ADPCM, state carried from frame to frame
    kHiVoiceG726_16Word = 68,  // G.726 16 kbit/s, 8 codes per word, first in bits 15-14
};

constexpr size_t kHiVoiceHeaderBytes = 4;
constexpr uint16_t kHiVoiceFrameFlags = 0x0100;
// The most samples one frame can give (IMA ADPCM type 67, 122 words).
constexpr size_t kHiVoiceMaxFrameSamples = 488;
// The room a caller reserves for one decoder state.
constexpr size_t kHiVoiceDecStateBytes = 1024;

// One decoder's state, reset for one codec type and then used for every frame
// of that stream. Only the members of the codec in use are meaningful.
struct HiVoiceDecState {
    int16_t nCodecType;
    ImaAdpcmState ima;
    G726State g726;
};
static_assert(sizeof(HiVoiceDecState) <= kHiVoiceDecStateBytes);

// Copies "HI_VOICE_VERSION=Hi3511_VOICELIB_V1.0.0.0" with its terminating zero.
// Returns 0, or -1 when the buffer is null or shorter than the text.
int HI_VOICE_GetVersion(char* buffer, size_t size);

// Prepares the state for a codec type. The type is stored in every case;
// an unsupported one gives kHiVoiceErrCodecType, a null state kHiVoiceErrNoState.
uint32_t HI_VOICE_DecReset(HiVoiceDecState* state, int16_t codecType);

// Decodes one frame of frameBytes bytes (the header and at least the payload
// it announces) into up to `capacity` samples. The sample count is set to 0
// first and to the number of samples on success. Checks, in this order: the
// state, the frame (null or shorter than its header), the output and count
// pointers, the flags, a zero length, the codec type's length rule and the
// bytes given, then the room for the samples. A failing frame leaves the
// samples and the state untouched.
uint32_t HI_VOICE_DecodeFrame(HiVoiceDecState* state, const uint8_t* frame, size_t frameBytes,
                              int16_t* samples, size_t capacity, uint16_t* sampleCount);

} // namespace qm
