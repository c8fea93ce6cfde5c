// The sound of a frame through every decoder: the voice frame codec with
// each of its coding types (a run of frames, the decoder state carried
// along), the player's decoder control with each decoder type (the output
// sized exactly as the decoder asks for), and the export's choice by the
// frame header's audio type.
// Input: byte 0 picks the voice codec type, byte 1 the decoder type and
// byte 2 the export audio type; the rest is the sound.

#include "codec/audio_decoder_ctrl.h"
#include "codec/voice_codec.h"
#include "export/export_audio.h"

#include <cstdint>
#include <vector>

using namespace qm;

namespace {

const int16_t kVoiceTypes[] = {kHiVoiceG711A,
                               kHiVoiceG711U,
                               kHiVoiceAdpcmHighFirst,
                               kHiVoiceG726_16,
                               kHiVoiceG726_24,
                               kHiVoiceG726_32,
                               kHiVoiceG726_40,
                               kHiVoiceAdpcmLowFirst,
                               kHiVoiceG726_16Msb,
                               kHiVoiceG726_24Msb,
                               kHiVoiceG726_32Msb,
                               kHiVoiceG726_40Msb,
                               kHiVoiceG711ASwapped,
                               kHiVoiceG711USwapped,
                               kHiVoiceAdpcmRunning,
                               kHiVoiceG726_16Word,
                               0,
                               99};
const int kDecoderTypes[] = {kAudioDecoderG723,
                             kAudioDecoderHisi16,
                             kAudioDecoderG711UHeader,
                             kAudioDecoderG711U,
                             kAudioDecoderG711A,
                             kAudioDecoderHiG711,
                             kAudioDecoderMulaw,
                             0,
                             2};

void VoiceFrames(int16_t type, const uint8_t* data, size_t size) {
    HiVoiceDecState state{};
    HI_VOICE_DecReset(&state, type);
    std::vector<int16_t> samples(kHiVoiceMaxFrameSamples);
    size_t offset = 0;
    // Frames as the recorder stores them: a 4-byte header whose third byte
    // gives the length in 16-bit words; a frame that claims too much is cut
    // to what is left.
    while (offset < size) {
        size_t frameBytes = size - offset;
        if (frameBytes >= 4) {
            const size_t claimed = kHiVoiceHeaderBytes + size_t(data[offset + 2]) * 2;
            if (claimed < frameBytes) frameBytes = claimed;
        }
        uint16_t count = 0;
        const uint32_t result = HI_VOICE_DecodeFrame(&state, data + offset, frameBytes,
                                                     samples.data(), samples.size(), &count);
        if (result == kHiVoiceSuccess && count > samples.size()) __builtin_trap();
        offset += frameBytes;
    }
    uint16_t count = 0;
    HI_VOICE_DecodeFrame(nullptr, data, size, samples.data(), samples.size(), &count);
    HI_VOICE_DecodeFrame(&state, nullptr, size, samples.data(), samples.size(), &count);
    HI_VOICE_DecodeFrame(&state, data, size, nullptr, 0, &count);
    // An output too small for one frame.
    if (HI_VOICE_DecodeFrame(&state, data, size, samples.data(), 8, &count) == kHiVoiceSuccess &&
        count > 8)
        __builtin_trap();
}

void DecoderControl(int type, const uint8_t* data, size_t size) {
    TAudioDecoderCtrl ctrl;
    const int length = int(size);
    const int out = ctrl.Prepare(type, length);
    if (out < 0) __builtin_trap();
    std::vector<uint8_t> pcm(static_cast<size_t>(out));
    ctrl.Decode(out ? pcm.data() : nullptr, data, length);
    // The same decoder again over a shorter piece.
    const int half = length / 2;
    const int outHalf = ctrl.Prepare(type, half);
    std::vector<uint8_t> pcmHalf(size_t(outHalf > 0 ? outHalf : 0));
    if (outHalf > 0) ctrl.Decode(pcmHalf.data(), data, half);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 3) return 0;
    const int16_t voiceType = kVoiceTypes[data[0] % std::size(kVoiceTypes)];
    const int decoderType = kDecoderTypes[data[1] % std::size(kDecoderTypes)];
    const uint8_t audioType = data[2] & 0x0F;
    data += 3;
    size -= 3;

    VoiceFrames(voiceType, data, size);
    DecoderControl(decoderType, data, size);

    TExportAudioDecoder<TAudioDecoderCtrl> exportDecoder;
    std::vector<uint8_t> pcm;
    exportDecoder.Decode(audioType, ByteView(data, size), pcm);
    if (pcm.size() % 2) __builtin_trap();
    return 0;
}
