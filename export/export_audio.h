#pragma once
// How the export feeds a frame's sound to an audio decoder control of the
// player's kind: one that is told the decoder type and input length with
// Prepare(type, length) and then decodes with Decode(out, data, length).
//
// HiSilicon ADPCM sound (type 2) is a run of 168-byte voice frames decoded in
// one call; G.711 sound (type 5) comes in bare 320-byte parts, each of which
// is given the 4-byte voice frame header the decoder expects.

#include "export/export_frame.h"
#include "storage/record_layout.h"

#include <array>
#include <cstring>
#include <memory>

namespace qm {

// Decoder types of the audio decoder control.
constexpr int kDecoderTypeHisiAdpcm = 3;
constexpr int kDecoderTypeHisiG711 = 7;

constexpr size_t kHisiAdpcmFrameBytes = 168;
constexpr size_t kHisiAdpcmFramePcmBytes = 642; // 321 samples
constexpr size_t kG711PartBytes = 320;
constexpr size_t kG711PartPcmBytes = 640;
constexpr std::array<uint8_t, 4> kHisiG711FrameHeader = {0x00, 0x01, 0xA0, 0x00};
constexpr size_t kHisiG711FrameBytes = kHisiG711FrameHeader.size() + kG711PartBytes;

template <typename Ctrl>
bool DecodeFrameSound(Ctrl& ctrl, uint8_t audioType, ByteView sound, std::vector<uint8_t>& pcm) {
    pcm.clear();
    if (audioType == kAudioTypeHisiAdpcm) {
        const size_t frames = sound.size() / kHisiAdpcmFrameBytes;
        ctrl.Prepare(kDecoderTypeHisiAdpcm, uint32_t(sound.size()));
        if (frames == 0) return true;
        pcm.resize(frames * kHisiAdpcmFramePcmBytes);
        if (ctrl.Decode(pcm.data(), sound.data(), uint32_t(frames * kHisiAdpcmFrameBytes)))
            return true;
        pcm.clear();
        return false;
    }
    if (audioType == kAudioTypeG711) {
        const size_t parts = sound.size() / kG711PartBytes;
        ctrl.Prepare(kDecoderTypeHisiG711, uint32_t(kHisiG711FrameBytes));
        pcm.resize(parts * kG711PartPcmBytes);
        std::array<uint8_t, kHisiG711FrameBytes> frame;
        std::memcpy(frame.data(), kHisiG711FrameHeader.data(), kHisiG711FrameHeader.size());
        for (size_t i = 0; i < parts; ++i) {
            std::memcpy(frame.data() + kHisiG711FrameHeader.size(),
                        sound.data() + i * kG711PartBytes, kG711PartBytes);
            if (!ctrl.Decode(pcm.data() + i * kG711PartPcmBytes, frame.data(),
                             uint32_t(frame.size()))) {
                pcm.clear();
                return false;
            }
        }
        return true;
    }
    return false;
}

// IExportAudioDecoder over a decoder control owned by the adapter.
template <typename Ctrl> class TExportAudioDecoder : public IExportAudioDecoder {
public:
    bool Decode(uint8_t audioType, ByteView sound, std::vector<uint8_t>& pcm) override {
        return DecodeFrameSound(m_ctrl, audioType, sound, pcm);
    }
    Ctrl& Control() { return m_ctrl; }

private:
    Ctrl m_ctrl;
};

} // namespace qm
