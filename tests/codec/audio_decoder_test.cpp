// The audio decoder control and its decoders: output sizes, what each writes
// (and that it writes no further), G.711 against the ffmpeg command, and the
// replacement of decoders when the type changes.

#include "codec/audio_decoder_ctrl.h"
#include "codec/g711.h"
#include "ffmpeg_reference.h"
#include "platform/byte_order.h"

#include <gtest/gtest.h>
#include <vector>

namespace qm {
namespace {

using Bytes = std::vector<uint8_t>;

// Decodes into a buffer of exactly the announced size plus a guard area,
// checks the guard, and returns the samples.
std::vector<int16_t> DecodeWith(TAudioDecoderCtrl& ctrl, int type, const Bytes& input) {
    const int size = ctrl.Prepare(type, int(input.size()));
    Bytes out(size_t(size) + 64, 0xA5);
    EXPECT_TRUE(ctrl.Decode(out.data(), input.data(), int(input.size())));
    for (size_t i = size_t(size); i < out.size(); ++i)
        EXPECT_EQ(out[i], 0xA5) << "written past the output size at " << i;
    std::vector<int16_t> samples;
    for (int i = 0; i + 1 < size; i += 2)
        samples.push_back(int16_t(loadLE16(&out[size_t(i)])));
    return samples;
}

TEST(AudioDecoder, G711ExpansionsEqualFfmpegOnAllCodes) {
    Bytes codes(256);
    for (int i = 0; i < 256; ++i)
        codes[size_t(i)] = uint8_t(i);
    TAudioDecoderCtrl ctrl;
    const std::vector<int16_t> ulaw = DecodeWith(ctrl, kAudioDecoderG711U, codes);
    const std::vector<int16_t> alaw = DecodeWith(ctrl, kAudioDecoderG711A, codes);
    EXPECT_EQ(ulaw, test::FfmpegDecode(codes, "-f mulaw -ar 8000 -ac 1"));
    EXPECT_EQ(alaw, test::FfmpegDecode(codes, "-f alaw -ar 8000 -ac 1"));
    ASSERT_EQ(ulaw.size(), 256u);
    EXPECT_EQ(ulaw[0xFF], 0);
    EXPECT_EQ(ulaw[0x00], -32124);
    EXPECT_EQ(alaw[0x55], -8);
    EXPECT_EQ(alaw[0xD5], 8);
    // Type 13 goes through libavcodec's own decoder, one sample per byte.
    EXPECT_EQ(DecodeWith(ctrl, kAudioDecoderMulaw, codes), ulaw);

    // Type 4: a 256-byte header, then a code in every second byte; an odd
    // remainder still holds a code at its start.
    Bytes headed(256, 0x00);
    for (int i = 0; i < 21; ++i)
        headed.push_back(i % 2 ? 0x00 : uint8_t(0xFF - i));
    const std::vector<int16_t> every2nd = DecodeWith(ctrl, kAudioDecoderG711UHeader, headed);
    ASSERT_EQ(every2nd.size(), 11u);
    for (int i = 0; i < 11; ++i)
        EXPECT_EQ(every2nd[size_t(i)], G711UlawToLinear(uint8_t(0xFF - 2 * i)));
}

TEST(AudioDecoder, OutputSizes) {
    TAudioDecoderCtrl ctrl;
    EXPECT_EQ(ctrl.Prepare(kAudioDecoderHisi16, 336), 1284);
    EXPECT_EQ(ctrl.Prepare(kAudioDecoderHiG711, 324), 640);
    EXPECT_EQ(ctrl.Prepare(kAudioDecoderHiG711, 323), 0);
    EXPECT_EQ(ctrl.Prepare(kAudioDecoderG711UHeader, 1280), 1024);
    EXPECT_EQ(ctrl.Prepare(kAudioDecoderG711UHeader, 100), 0);
    EXPECT_EQ(ctrl.Prepare(kAudioDecoderG723, 4), 20);
    EXPECT_EQ(ctrl.Prepare(kAudioDecoderMulaw, 320), 640);
    // Sixty ADPCM frames give 38,520 bytes, more than a signed 16-bit size.
    EXPECT_EQ(ctrl.Prepare(kAudioDecoderHisi16, 60 * 168), 60 * 642);
    for (int type : {1, 3, 4, 5, 6, 7, 13})
        EXPECT_EQ(ctrl.Prepare(type, -5), 0) << type;
    for (int type : {0, 2, 8, 14}) {
        EXPECT_EQ(ctrl.Prepare(type, 320), 0) << type;
        EXPECT_EQ(ctrl.Decoder(), nullptr);
        Bytes out(64);
        EXPECT_FALSE(ctrl.Decode(out.data(), out.data(), 32));
    }
}

// A 168-byte type 3 frame: header 00 01 52 00, then an IMA ADPCM payload.
Bytes HisiFrame(int16_t predictor, uint8_t index, uint8_t code, uint8_t words = 82) {
    Bytes frame = {0x00,  0x01, words, 0x00, uint8_t(predictor), uint8_t(uint16_t(predictor) >> 8),
                   index, 0x00};
    frame.resize(TAudioDecoder_HISI16::kFrameBytes, code);
    return frame;
}

// Each frame fills its 321 samples; a frame that fails its checks (bad flags,
// a length beyond the frame) is silence, a shorter one is padded with
// silence, and a remainder shorter than a frame is ignored. All sixty frames
// of a payload beyond 32,767 output bytes are decoded.
TEST(AudioDecoder, HisiFramesFillTheirShareOfTheOutput) {
    Bytes badFlags = HisiFrame(500, 0, 0x11);
    badFlags[1] = 0x00;
    Bytes input;
    for (const Bytes& frame : {badFlags, HisiFrame(700, 0, 0x11), HisiFrame(500, 0, 0x11, 122),
                               HisiFrame(-500, 0, 0x11, 42)})
        input.insert(input.end(), frame.begin(), frame.end());
    input.insert(input.end(), 100, 0x12);
    TAudioDecoderCtrl ctrl;
    const std::vector<int16_t> samples = DecodeWith(ctrl, kAudioDecoderHisi16, input);
    ASSERT_EQ(samples.size(), 4u * 321);
    for (int i = 0; i < 321; ++i) {
        ASSERT_EQ(samples[size_t(i)], 0);
        ASSERT_EQ(samples[size_t(2 * 321 + i)], 0);
        ASSERT_TRUE(i < 161 || samples[size_t(3 * 321 + i)] == 0) << i;
    }
    EXPECT_EQ(samples[321], 700);
    EXPECT_EQ(samples[3 * 321], -500);
    EXPECT_NE(samples[3 * 321 + 160], 0);

    Bytes sixty;
    for (int i = 0; i < 60; ++i) {
        const Bytes frame = HisiFrame(int16_t(100 * i), 0, 0x00);
        sixty.insert(sixty.end(), frame.begin(), frame.end());
    }
    EXPECT_EQ(DecodeWith(ctrl, kAudioDecoderHisi16, sixty).at(59 * 321), 5900);

    // Type 7: 00 01 A0 00 and 320 mu-law codes.
    Bytes g711 = {0x00, 0x01, 0xA0, 0x00};
    for (int i = 0; i < 320; ++i)
        g711.push_back(uint8_t(i));
    const std::vector<int16_t> mu = DecodeWith(ctrl, kAudioDecoderHiG711, g711);
    ASSERT_EQ(mu.size(), 320u);
    EXPECT_EQ(mu[7], G711UlawToLinear(7));
    EXPECT_EQ(mu[300], G711UlawToLinear(300 & 0xFF));
}

// 3 bits per code, 8 codes in each 24-bit little-endian group, the first in
// the lowest bits; a partial last group gives its whole codes.
TEST(AudioDecoder, G723CodesAndState) {
    auto expectedFor = [](const std::vector<unsigned>& codes) {
        CG723Coder coder;
        std::vector<int16_t> samples;
        for (unsigned code : codes)
            samples.push_back(coder.Decode(code));
        return samples;
    };
    TAudioDecoderCtrl ctrl;
    EXPECT_EQ(DecodeWith(ctrl, kAudioDecoderG723, {0xFF, 0xFF, 0xFF}),
              expectedFor(std::vector<unsigned>(8, 7)));
    // 0x688FAC then 0x3A: codes 4 5 6 7 0 1 2 3, then 2 and 7.
    TAudioDecoderCtrl four;
    EXPECT_EQ(DecodeWith(four, kAudioDecoderG723, {0xAC, 0x8F, 0x68, 0x3A}),
              expectedFor({4, 5, 6, 7, 0, 1, 2, 3, 2, 7}));
}

// Another type replaces the decoder; coming back starts from a reset state.
TEST(AudioDecoder, ControlReplacesTheDecoderAndItsState) {
    TAudioDecoderCtrl ctrl;
    EXPECT_EQ(ctrl.Type(), -1);
    DecodeWith(ctrl, kAudioDecoderHisi16, HisiFrame(1000, 30, 0x77));
    auto* hisi = dynamic_cast<THisiFrameDecoder*>(ctrl.Decoder());
    ASSERT_NE(hisi, nullptr);
    EXPECT_NE(hisi->State().ima.nIndex, 0);
    ctrl.Prepare(kAudioDecoderHisi16, 168);
    EXPECT_EQ(ctrl.Decoder(), hisi);
    ctrl.Prepare(kAudioDecoderHiG711, 324);
    EXPECT_EQ(ctrl.Type(), kAudioDecoderHiG711);
    EXPECT_NE(dynamic_cast<TAudioDecoder_HIG711*>(ctrl.Decoder()), nullptr);
    ctrl.Prepare(kAudioDecoderHisi16, 168);
    auto* fresh = dynamic_cast<TAudioDecoder_HISI16*>(ctrl.Decoder());
    ASSERT_NE(fresh, nullptr);
    EXPECT_EQ(fresh->State().ima.nIndex, 0);

    // G.723 carries its state from payload to payload, until replaced.
    const Bytes codes = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC};
    const std::vector<int16_t> first = DecodeWith(ctrl, kAudioDecoderG723, codes);
    EXPECT_NE(DecodeWith(ctrl, kAudioDecoderG723, codes), first);
    ctrl.Prepare(kAudioDecoderG711A, 10);
    EXPECT_EQ(DecodeWith(ctrl, kAudioDecoderG723, codes), first);
}

} // namespace
} // namespace qm
