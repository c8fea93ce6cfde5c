// The sound carried by generated frames: decoded here with the tests' own
// G.711 and IMA ADPCM decoders and checked for the 1 kHz tone.

#include "tools/mkrec/tone_audio.h"

#include "test_support.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>
#include <numbers>

using namespace qm::mkrec;
using namespace qm::test;

namespace {

int16_t muLawDecode(uint8_t code) {
    code = ~code;
    int t = ((code & 0x0F) << 3) + 0x84;
    t <<= (code & 0x70) >> 4;
    return int16_t((code & 0x80) ? 0x84 - t : t - 0x84);
}

// IMA ADPCM voice frames: 4-byte header, predictor (output as the first
// sample), step index, a spare byte, then codes with the low nibble first.
std::vector<int16_t> decodeAdpcmFrames(const std::vector<uint8_t>& data) {
    static const int kIndex[8] = {-1, -1, -1, -1, 2, 4, 6, 8};
    static const int kSteps[89] = {
        7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
        25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
        88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
        307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
        1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
        3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
        12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};
    std::vector<int16_t> out;
    for (size_t f = 0; f + 168 <= data.size(); f += 168) {
        const uint8_t* p = &data[f];
        EXPECT_EQ(p[0], 0x00);
        EXPECT_EQ(p[1], 0x01);
        EXPECT_EQ(p[2], 0x52);
        int predictor = int16_t(p[4] | (p[5] << 8));
        int index = p[6];
        out.push_back(int16_t(predictor));
        for (int i = 0; i < 320; ++i) {
            int code = (p[8 + i / 2] >> ((i & 1) * 4)) & 0x0F;
            int step = kSteps[index];
            int diff = step >> 3;
            if (code & 4) diff += step;
            if (code & 2) diff += step >> 1;
            if (code & 1) diff += step >> 2;
            predictor = std::clamp(predictor + ((code & 8) ? -diff : diff), -32768, 32767);
            index = std::clamp(index + kIndex[code & 7], 0, 88);
            out.push_back(int16_t(predictor));
        }
    }
    return out;
}

// Share of the signal's power at the tone's frequency (Goertzel).
double toneShare(const std::vector<int16_t>& s) {
    const double w = 2 * std::numbers::pi * kToneHz / kAudioRate;
    double s1 = 0, s2 = 0, total = 0;
    for (int16_t x : s) {
        double s0 = x + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
        total += double(x) * x;
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return total > 0 ? 2 * power / (s.size() * total) : 0;
}

std::vector<uint8_t> audioOf(const WalkedArchive& a, int channel, uint8_t expectedType) {
    std::vector<uint8_t> all;
    for (const WalkedFrame& f : a.frames) {
        if (f.channel != channel) continue;
        EXPECT_EQ(f.audioType, expectedType);
        all.insert(all.end(), f.audio.begin(), f.audio.end());
    }
    return all;
}

} // namespace

TEST(ToneAudio, BothTypesCarryTheToneInStepWithThePictures) {
    RecordingPlan plan = smallPlan();
    plan.durationSeconds = 4;
    plan.fps = 25;
    plan.audio = {{0, 2}, {1, 5}};
    plan.byteOrder = 0; // audio length words then are big-endian
    WalkedArchive a = generateAndWalk(plan);
    for (const std::string& e : a.errors)
        ADD_FAILURE() << e;

    const std::vector<uint8_t> adpcm = audioOf(a, 0, 2);
    ASSERT_EQ(adpcm.size() % 168, 0u);
    const std::vector<int16_t> adpcmPcm = decodeAdpcmFrames(adpcm);
    const std::vector<uint8_t> mulaw = audioOf(a, 1, 5);
    ASSERT_EQ(mulaw.size() % 320, 0u);
    std::vector<int16_t> mulawPcm;
    for (uint8_t c : mulaw)
        mulawPcm.push_back(muLawDecode(c));
    const std::vector<const std::vector<int16_t>*> decoded = {&adpcmPcm, &mulawPcm};

    const size_t expected = plan.durationSeconds * kAudioRate;
    for (const std::vector<int16_t>* pcm : decoded) {
        // Within one part of the time the pictures cover.
        EXPECT_NEAR(double(pcm->size()), double(expected), 321.0);
        EXPECT_GT(toneShare(*pcm), 0.95);
        double energy = 0;
        for (int16_t x : *pcm)
            energy += double(x) * x;
        const double rms = std::sqrt(energy / double(pcm->size()));
        EXPECT_NEAR(rms, kToneAmplitude / std::numbers::sqrt2, kToneAmplitude * 0.05);
    }
    // At 25 frames per second every frame carries exactly one G.711 part.
    for (const WalkedFrame& f : a.frames) {
        if (f.channel == 1) {
            EXPECT_EQ(f.audio.size(), 320u);
        }
    }
}

TEST(ToneAudio, ResumesInStepAfterAGap) {
    // 7 frames per second: frame 0 is due up to sample 1142, frame 3 starts at 3428.
    ToneTrack track(5);
    EXPECT_EQ(track.takeForFrame(0, 7).size(), 4u * 320) << "parts at least half due are taken";
    track.skipToFrame(3, 7);
    const std::vector<uint8_t> after = track.takeForFrame(3, 7);
    ASSERT_EQ(after.size(), 4u * 320);
    // The tone's phase follows the clock, not the count of samples written.
    for (size_t i = 0; i < after.size(); ++i)
        ASSERT_EQ(after[i], muLawEncode(toneSample(3428 + i))) << i;
    EXPECT_NE(after[2], muLawEncode(toneSample(1280 + 2)));
}
