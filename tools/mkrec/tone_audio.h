#pragma once
// A channel's sound: a steady 1 kHz tone at 8000 samples per second, coded as
// HiSilicon IMA ADPCM voice frames (audio type 2) or as plain G.711 mu-law in
// parts of 320 bytes (audio type 5).

#include <cstdint>
#include <vector>

namespace qm::mkrec {

constexpr int kAudioRate = 8000;
constexpr int kToneHz = 1000;
constexpr int kToneAmplitude = 8000;
constexpr int kAdpcmFrameBytes = 168;
constexpr int kAdpcmFrameSamples = 321;
constexpr int kG711PartBytes = 320;

int16_t toneSample(uint64_t sampleIndex);
uint8_t muLawEncode(int16_t sample);

// IMA ADPCM frame in the layout of library type 35: header 00 01 52 00, the
// first sample as the predictor, the step index, a zero byte, then 320 codes
// with the low nibble first. `stepIndex` carries over from frame to frame.
std::vector<uint8_t> encodeAdpcmFrame(const int16_t* samples /* 321 */, int& stepIndex);

class ToneTrack {
public:
    explicit ToneTrack(uint8_t audioType) : m_type(audioType) {}

    // Audio bytes for the video frame at `tick` (fps frames per second): whole
    // coded parts until the track has caught up with the end of that frame.
    std::vector<uint8_t> takeForFrame(uint64_t tick, int fps);
    // After a pause in recording the sound resumes in step with the pictures.
    void skipToFrame(uint64_t tick, int fps);
    uint8_t type() const { return m_type; }

private:
    uint8_t m_type;
    uint64_t m_nextSample = 0;
    int m_stepIndex = 0;
};

} // namespace qm::mkrec
