// The HiSilicon voice frame codec: result codes, length rules, and the
// decoded samples against the ffmpeg command.

#include "codec/voice_codec.h"
#include "ffmpeg_reference.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <vector>

namespace qm {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes Frame(const Bytes& payload, uint16_t flags = kHiVoiceFrameFlags) {
    Bytes frame = {uint8_t(flags), uint8_t(flags >> 8), uint8_t(payload.size() / 2), 0};
    frame.insert(frame.end(), payload.begin(), payload.end());
    return frame;
}

struct Decoded {
    uint32_t result;
    std::vector<int16_t> samples;
};

Decoded DecodeOne(HiVoiceDecState& state, const Bytes& frame) {
    std::vector<int16_t> samples(kHiVoiceMaxFrameSamples);
    uint16_t count = 0;
    const uint32_t result = HI_VOICE_DecodeFrame(&state, frame.data(), frame.size(), samples.data(),
                                                 samples.size(), &count);
    samples.resize(count);
    return {result, samples};
}

HiVoiceDecState Reset(int16_t type) {
    HiVoiceDecState state;
    EXPECT_EQ(HI_VOICE_DecReset(&state, type), kHiVoiceSuccess) << type;
    return state;
}

Bytes RandomBytes(std::mt19937& rng, size_t n) {
    Bytes bytes(n);
    for (uint8_t& b : bytes)
        b = uint8_t(rng());
    return bytes;
}

TEST(VoiceCodec, ResultCodesComeInOrderAndLeaveOutputAndStateAlone) {
    char version[42];
    EXPECT_EQ(HI_VOICE_GetVersion(version, sizeof version), 0);
    EXPECT_EQ(std::string(version), "HI_VOICE_VERSION=Hi3511_VOICELIB_V1.0.0.0");
    EXPECT_EQ(HI_VOICE_GetVersion(version, sizeof version - 1), -1);

    HiVoiceDecState unknown;
    EXPECT_EQ(HI_VOICE_DecReset(nullptr, 2), kHiVoiceErrNoState);
    EXPECT_EQ(HI_VOICE_DecReset(&unknown, 9), kHiVoiceErrCodecType);
    EXPECT_EQ(unknown.nCodecType, 9);
    EXPECT_EQ(DecodeOne(unknown, Frame(Bytes(80, 0xFF))).result, kHiVoiceErrCodecType);

    HiVoiceDecState state = Reset(kHiVoiceG711U);
    const Bytes good = Frame(Bytes(320, 0xFF)); // 00 01 A0 00, 320 x 0xFF
    std::vector<int16_t> out(kHiVoiceMaxFrameSamples, 0x5A5A);
    uint16_t count = 77;
    auto decode = [&](const uint8_t* frame, size_t bytes, size_t room, uint16_t* n = nullptr) {
        return HI_VOICE_DecodeFrame(&state, frame, bytes, out.data(), room, n ? n : &count);
    };
    EXPECT_EQ(HI_VOICE_DecodeFrame(nullptr, nullptr, 0, nullptr, 0, nullptr), kHiVoiceErrNoState);
    EXPECT_EQ(decode(nullptr, 324, 480), kHiVoiceErrNoFrame);
    EXPECT_EQ(decode(good.data(), 3, 480), kHiVoiceErrNoFrame);
    EXPECT_EQ(HI_VOICE_DecodeFrame(&state, good.data(), 324, nullptr, 480, &count),
              kHiVoiceErrNoOutput);
    EXPECT_EQ(count, 77);
    Bytes bad = good;
    bad[0] = bad[1] = bad[2] = 0; // flags are checked before the length
    EXPECT_EQ(decode(bad.data(), bad.size(), 480), kHiVoiceErrFrameFlags);
    EXPECT_EQ(count, 0);
    bad[1] = 0x03;
    EXPECT_EQ(decode(bad.data(), bad.size(), 480), kHiVoiceErrFrameFlags);
    bad[1] = 0x01;
    EXPECT_EQ(decode(bad.data(), bad.size(), 480), kHiVoiceErrFrameLength);
    EXPECT_EQ(decode(good.data(), good.size() - 1, 480), kHiVoiceErrFrameLength); // truncated
    EXPECT_EQ(decode(good.data(), good.size(), 319), kHiVoiceErrNoOutput);
    EXPECT_TRUE(std::all_of(out.begin(), out.end(), [](int16_t s) { return s == 0x5A5A; }));

    EXPECT_EQ(decode(good.data(), good.size(), 320), kHiVoiceSuccess);
    EXPECT_EQ(count, 320);
    EXPECT_TRUE(std::all_of(out.begin(), out.begin() + 320, [](int16_t s) { return s == 0; }));
    EXPECT_EQ(out[320], 0x5A5A);

    // A refused frame leaves a running state as it was.
    HiVoiceDecState running = Reset(kHiVoiceAdpcmRunning);
    DecodeOne(running, Frame(Bytes(80, 0x37)));
    const ImaAdpcmState before = running.ima;
    EXPECT_EQ(DecodeOne(running, Frame(Bytes(246, 0x37))).result, kHiVoiceErrFrameLength);
    EXPECT_EQ(running.ima.nPredictor, before.nPredictor);
    EXPECT_EQ(running.ima.nIndex, before.nIndex);
}

// Lengths in words and the samples they give; -1 marks a refused length.
TEST(VoiceCodec, LengthRulesOfEveryType) {
    const std::vector<std::pair<int16_t, std::vector<std::pair<int, int>>>> rules = {
        {kHiVoiceG711A, {{40, 80}, {41, -1}, {240, 480}, {280, -1}}},
        {kHiVoiceG711USwapped, {{160, 320}, {60, -1}}},
        {kHiVoiceAdpcmHighFirst, {{82, 320}, {122, 480}, {123, -1}, {2, 0}, {1, -1}}},
        {kHiVoiceAdpcmLowFirst, {{82, 321}, {2, 1}, {123, -1}}},
        {kHiVoiceAdpcmRunning, {{1, 4}, {122, 488}, {123, -1}}},
        {kHiVoiceG726_16, {{10, 80}, {60, 480}, {15, -1}, {70, -1}}},
        {kHiVoiceG726_16Word, {{10, 80}, {11, -1}, {70, -1}}},
        {kHiVoiceG726_24Msb, {{15, 80}, {90, 480}, {16, -1}, {105, -1}}},
        {kHiVoiceG726_32, {{20, 80}, {120, 480}, {21, -1}, {140, -1}}},
        {kHiVoiceG726_40Msb, {{25, 80}, {150, 480}, {26, -1}, {175, -1}}},
    };
    for (const auto& [type, lengths] : rules) {
        for (const auto& [words, samples] : lengths) {
            SCOPED_TRACE("type " + std::to_string(type) + ", " + std::to_string(words) + " words");
            HiVoiceDecState state = Reset(type);
            const Decoded decoded = DecodeOne(state, Frame(Bytes(size_t(2 * words), 0x11)));
            EXPECT_EQ(decoded.result, samples >= 0 ? kHiVoiceSuccess : kHiVoiceErrFrameLength);
            EXPECT_EQ(decoded.samples.size(), size_t(std::max(samples, 0)));
        }
    }
}

Bytes ImaPayload(int16_t predictor, uint8_t index, const Bytes& codes) {
    Bytes payload = {uint8_t(predictor), uint8_t(uint16_t(predictor) >> 8), index, 0};
    payload.insert(payload.end(), codes.begin(), codes.end());
    return payload;
}

// Type 35 payloads are IMA ADPCM WAV blocks (block align 164, 321 samples).
// libavcodec rounds each difference differently from the IMA standard
// (ima_adpcm.h), so its arithmetic is switched on here; the header, first
// sample, nibble order, tables and clamping must then agree exactly.
TEST(VoiceCodec, ImaType35FramesMatchFfmpegImaWav) {
    std::mt19937 rng(35);
    Bytes blocks;
    std::vector<int16_t> ours;
    for (int frame = 0; frame < 200; ++frame) {
        const int16_t predictor = frame % 50 == 1   ? 32767
                                  : frame % 50 == 2 ? -32768
                                                    : int16_t(rng());
        const Bytes payload = ImaPayload(predictor, uint8_t(rng() % 89), RandomBytes(rng, 160));
        blocks.insert(blocks.end(), payload.begin(), payload.end());
        HiVoiceDecState state = Reset(kHiVoiceAdpcmLowFirst);
        state.ima.nArithmetic = uint8_t(ImaArithmetic::kLibavcodec);
        const Decoded decoded = DecodeOne(state, Frame(payload));
        ASSERT_EQ(decoded.samples.size(), 321u);
        ours.insert(ours.end(), decoded.samples.begin(), decoded.samples.end());
    }
    const std::vector<int16_t> reference =
        test::FfmpegDecode(test::ImaAdpcmWav(blocks, 164, 321), "-f wav -c:a adpcm_ima_wav");
    ASSERT_EQ(reference.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i)
        ASSERT_EQ(ours[i], reference[i]) << "sample " << i % 321 << " of frame " << i / 321;
}

// By the standard, predictor 1000 at index 0 and code 7 gives 1000 + 7 + 3 +
// 1 = 1011 (libavcodec: 1000 + 15 * 7 / 8 = 1013); index 8 and step 16 then
// give 1041. Type 3 reads the same codes high nibble first and does not
// output the predictor; type 67 carries the state from frame to frame.
TEST(VoiceCodec, ImaFramesOfTheThreeTypes) {
    HiVoiceDecState low = Reset(kHiVoiceAdpcmLowFirst);
    const Decoded sevens = DecodeOne(low, Frame(ImaPayload(1000, 0, Bytes(160, 0x77))));
    ASSERT_EQ(sevens.samples.size(), 321u);
    EXPECT_EQ(sevens.samples[0], 1000);
    EXPECT_EQ(sevens.samples[1], 1011);
    EXPECT_EQ(sevens.samples[2], 1041);
    EXPECT_EQ(sevens.samples[320], 32767);
    EXPECT_EQ(low.ima.nIndex, kImaMaxIndex);
    // A damaged step index is taken as the table's end: step 32767, code 0.
    EXPECT_EQ(DecodeOne(low, Frame(ImaPayload(0, 200, Bytes(160, 0)))).samples[1], 32767 >> 3);

    std::mt19937 rng(3);
    const Bytes codes = RandomBytes(rng, 160);
    Bytes swapped = codes;
    for (uint8_t& b : swapped)
        b = uint8_t((b << 4) | (b >> 4));
    const Decoded lowFirst = DecodeOne(low, Frame(ImaPayload(-1234, 20, codes)));
    HiVoiceDecState high = Reset(kHiVoiceAdpcmHighFirst);
    const Decoded highFirst = DecodeOne(high, Frame(ImaPayload(-1234, 20, swapped)));
    ASSERT_EQ(highFirst.samples.size(), 320u);
    EXPECT_TRUE(std::equal(highFirst.samples.begin(), highFirst.samples.end(),
                           lowFirst.samples.begin() + 1));

    HiVoiceDecState running = Reset(kHiVoiceAdpcmRunning);
    std::vector<int16_t> joined =
        DecodeOne(running, Frame(Bytes(codes.begin(), codes.begin() + 80))).samples;
    const Decoded second = DecodeOne(running, Frame(Bytes(codes.begin() + 80, codes.end())));
    joined.insert(joined.end(), second.samples.begin(), second.samples.end());
    EXPECT_EQ(joined, DecodeOne(high, Frame(ImaPayload(0, 0, codes))).samples);
}

TEST(VoiceCodec, G711TypesReadStoredOrSwappedBytes) {
    Bytes payload;
    for (int i = 0; i < 40; ++i)
        payload.insert(payload.end(), {0x55, 0xD5});
    HiVoiceDecState alaw = Reset(kHiVoiceG711A);
    HiVoiceDecState swapped = Reset(kHiVoiceG711ASwapped);
    EXPECT_EQ(DecodeOne(alaw, Frame(payload)).samples[0], -8);
    EXPECT_EQ(DecodeOne(alaw, Frame(payload)).samples[1], 8);
    EXPECT_EQ(DecodeOne(swapped, Frame(payload)).samples[0], 8);
    EXPECT_EQ(DecodeOne(swapped, Frame(payload)).samples[79], -8);
}

// Codes of `bits` bits, least significant bits first (types 4 to 7, ffmpeg's
// g726le) or most significant bits first (36 to 39, g726).
Bytes PackCodes(const std::vector<unsigned>& codes, int bits, bool msbFirst) {
    Bytes bytes((codes.size() * bits + 7) / 8);
    size_t bit = 0;
    for (unsigned code : codes)
        for (int b = 0; b < bits; ++b, ++bit)
            if ((code >> (msbFirst ? bits - 1 - b : b)) & 1)
                bytes[bit / 8] |= uint8_t(msbFirst ? 0x80 >> (bit % 8) : 1 << (bit % 8));
    return bytes;
}

// Stretches of uniformly random codes (which drive the decoder to its limits)
// alternate with stretches of mostly the smallest magnitudes.
std::vector<unsigned> RandomCodes(std::mt19937& rng, int bits, size_t count) {
    std::vector<unsigned> codes(count);
    const unsigned mask = (1u << bits) - 1;
    for (size_t i = 0; i < count; ++i) {
        codes[i] = rng() & mask;
        if ((i / 2400) % 2 && rng() % 4) codes[i] = (rng() & 1) ? rng() % 2 : mask - rng() % 2;
    }
    return codes;
}

std::vector<int16_t> DecodeStream(int16_t type, const Bytes& stream, int words,
                                  G726Arithmetic arithmetic) {
    HiVoiceDecState state = Reset(type);
    G726Reset(state.g726, state.g726.nBits, arithmetic);
    std::vector<int16_t> out;
    for (size_t at = 0; at + 2 * words <= stream.size(); at += 2 * words) {
        const Decoded decoded =
            DecodeOne(state, Frame(Bytes(stream.begin() + at, stream.begin() + at + 2 * words)));
        EXPECT_EQ(decoded.result, kHiVoiceSuccess);
        out.insert(out.end(), decoded.samples.begin(), decoded.samples.end());
    }
    return out;
}

// 48,000 codes per rate in frames of 480 codes, which carry the state over:
// the whole stream must equal ffmpeg's decoding, with libavcodec's departures
// from the standard (g726.cpp) reproduced. By the standard both packings give
// the same samples, and type 68 (8 codes per word, first in bits 15-14)
// those of type 4.
TEST(VoiceCodec, G726FramesMatchFfmpegAtEveryRate) {
    struct Rate {
        int bits;
        int16_t lsb, msb;
        int words;
    };
    for (const Rate rate :
         {Rate{2, 4, 36, 60}, Rate{3, 5, 37, 90}, Rate{4, 6, 38, 120}, Rate{5, 7, 39, 150}}) {
        SCOPED_TRACE("bits per code " + std::to_string(rate.bits));
        std::mt19937 rng(726 + rate.bits);
        const std::vector<unsigned> codes = RandomCodes(rng, rate.bits, 480 * 100);
        const std::string options = " -code_size " + std::to_string(rate.bits) + " -ar 8000";
        for (const bool msb : {false, true}) {
            const Bytes stream = PackCodes(codes, rate.bits, msb);
            const auto ours = DecodeStream(msb ? rate.msb : rate.lsb, stream, rate.words,
                                           G726Arithmetic::kLibavcodec);
            const auto reference =
                test::FfmpegDecode(stream, (msb ? "-f g726" : "-f g726le") + options);
            ASSERT_EQ(ours.size(), codes.size());
            ASSERT_EQ(reference.size(), codes.size());
            for (size_t i = 0; i < codes.size(); ++i)
                ASSERT_EQ(ours[i], reference[i]) << (msb ? "g726" : "g726le") << " sample " << i;
        }
        const auto standard = DecodeStream(rate.lsb, PackCodes(codes, rate.bits, false), rate.words,
                                           G726Arithmetic::kItuT);
        EXPECT_EQ(standard, DecodeStream(rate.msb, PackCodes(codes, rate.bits, true), rate.words,
                                         G726Arithmetic::kItuT));
        if (rate.bits != 2) continue;
        std::vector<uint16_t> words(codes.size() / 8);
        for (size_t i = 0; i < codes.size(); ++i)
            words[i / 8] |= uint16_t(codes[i] << (14 - 2 * (i % 8)));
        Bytes wordStream;
        for (uint16_t w : words)
            wordStream.insert(wordStream.end(), {uint8_t(w), uint8_t(w >> 8)});
        EXPECT_EQ(DecodeStream(kHiVoiceG726_16Word, wordStream, 60, G726Arithmetic::kItuT),
                  standard);
    }
}

} // namespace
} // namespace qm
