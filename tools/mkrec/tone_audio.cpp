#include "tools/mkrec/tone_audio.h"

#include "storage/record_layout.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qm::mkrec {
namespace {

constexpr int kIndexTable[16] = {-1, -1, -1, -1, 2, 4, 6, 8, -1, -1, -1, -1, 2, 4, 6, 8};
constexpr int kStepTable[89] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

// Encodes one sample against the running predictor and updates both, exactly
// as a decoder following the same codes will.
uint8_t adpcmCode(int sample, int& predictor, int& index) {
    int step = kStepTable[index];
    int diff = sample - predictor;
    uint8_t code = 0;
    if (diff < 0) {
        code = 8;
        diff = -diff;
    }
    int delta = step >> 3;
    if (diff >= step) {
        code |= 4;
        diff -= step;
        delta += step;
    }
    if (diff >= step >> 1) {
        code |= 2;
        diff -= step >> 1;
        delta += step >> 1;
    }
    if (diff >= step >> 2) {
        code |= 1;
        delta += step >> 2;
    }
    predictor += (code & 8) ? -delta : delta;
    predictor = std::clamp(predictor, -32768, 32767);
    index = std::clamp(index + kIndexTable[code], 0, 88);
    return code;
}

uint64_t samplesUpTo(uint64_t tick, int fps) {
    return tick * kAudioRate / uint64_t(fps);
}

} // namespace

int16_t toneSample(uint64_t i) {
    double phase = 2.0 * std::numbers::pi * double(i % kAudioRate) * kToneHz / kAudioRate;
    return int16_t(std::lround(kToneAmplitude * std::sin(phase)));
}

uint8_t muLawEncode(int16_t sample) {
    constexpr int kBias = 0x84, kClip = 32635;
    int s = sample;
    uint8_t sign = 0;
    if (s < 0) {
        s = -s;
        sign = 0x80;
    }
    s = std::min(s, kClip) + kBias;
    int exponent = 7;
    for (int mask = 0x4000; exponent > 0 && !(s & mask); mask >>= 1)
        --exponent;
    int mantissa = (s >> (exponent + 3)) & 0x0F;
    return uint8_t(~(sign | (exponent << 4) | mantissa));
}

std::vector<uint8_t> encodeAdpcmFrame(const int16_t* samples, int& stepIndex) {
    std::vector<uint8_t> f(kAdpcmFrameBytes, 0);
    f[0] = 0x00;
    f[1] = 0x01;                                // flags 0x0100
    f[2] = uint8_t((kAdpcmFrameBytes - 4) / 2); // payload length in 16-bit words
    f[3] = 0;
    int predictor = samples[0];
    f[4] = uint8_t(predictor);
    f[5] = uint8_t(uint16_t(predictor) >> 8);
    f[6] = uint8_t(stepIndex);
    f[7] = 0;
    for (int i = 1; i < kAdpcmFrameSamples; i += 2) {
        uint8_t lo = adpcmCode(samples[i], predictor, stepIndex);
        uint8_t hi = adpcmCode(samples[i + 1], predictor, stepIndex);
        f[8 + (i - 1) / 2] = uint8_t(lo | (hi << 4));
    }
    return f;
}

std::vector<uint8_t> ToneTrack::takeForFrame(uint64_t tick, int fps) {
    const uint64_t target = samplesUpTo(tick + 1, fps);
    const uint64_t part = m_type == kAudioTypeHisiAdpcm ? kAdpcmFrameSamples : kG711PartBytes;
    std::vector<uint8_t> out;
    // Take a part once at least half of it is due, so that sound and pictures
    // never drift apart by more than half a part.
    while (m_nextSample + part / 2 <= target) {
        if (m_type == kAudioTypeHisiAdpcm) {
            int16_t samples[kAdpcmFrameSamples];
            for (int i = 0; i < kAdpcmFrameSamples; ++i)
                samples[i] = toneSample(m_nextSample + i);
            auto frame = encodeAdpcmFrame(samples, m_stepIndex);
            out.insert(out.end(), frame.begin(), frame.end());
        } else {
            for (uint64_t i = 0; i < part; ++i)
                out.push_back(muLawEncode(toneSample(m_nextSample + i)));
        }
        m_nextSample += part;
    }
    return out;
}

void ToneTrack::skipToFrame(uint64_t tick, int fps) {
    m_nextSample = std::max(m_nextSample, samplesUpTo(tick, fps));
}

} // namespace qm::mkrec
