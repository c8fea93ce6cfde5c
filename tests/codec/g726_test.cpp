// G.726 where the standard and libavcodec part ways (g726.cpp): states set up
// so that one code shows the difference, results worked out by hand from the
// standard's blocks. The predictor coefficients start at 0, so the signal
// estimate is 0 unless a test sets them.

#include "codec/g726.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

struct Pair {
    G726State itu;
    G726State libav;
    explicit Pair(int bits) {
        G726Reset(itu, bits, G726Arithmetic::kItuT);
        G726Reset(libav, bits, G726Arithmetic::kLibavcodec);
    }
    template <typename F> void Set(F f) {
        f(itu);
        f(libav);
    }
};

TEST(G726, StandardArithmeticWhereLibavcodecDeparts) {
    // Output: Y = 5120 (YL / 64 = YU, AP 0); code 7 at 32 kbit/s gives DQL =
    // 425 + 1280, so DQ = (128 + 41) << 13 >> 7 = 10816 = SR. The standard
    // limits SR to 8191 before scaling by 4; libavcodec keeps 16 bits of 43264.
    for (const unsigned code : {7u, 8u}) {
        Pair p(4);
        p.Set([](G726State& s) { s.nYl = 5120 << 6, s.nYu = 5120; });
        EXPECT_EQ(G726Decode(p.itu, code), code == 7 ? 32764 : -32768);
        EXPECT_EQ(G726Decode(p.libav, code), code == 7 ? -22272 : 22272);
    }

    // MIX: AL = 32 (AP 128), YL / 64 = 4096 exactly, YU = 4095: the product
    // -0.5 is truncated to 0 (Y / 4 = 1024, DQ = 169 << 11 >> 7 = 2704);
    // libavcodec floors to Y = 4095 (Y / 4 = 1023, DQ = 168 << 11 >> 7 = 2688).
    Pair mix(4);
    mix.Set([](G726State& s) { s.nYl = 4096 << 6, s.nYu = 4095, s.nAp = 128; });
    EXPECT_EQ(G726Decode(mix.itu, 7), 2704 * 4);
    EXPECT_EQ(G726Decode(mix.libav, 7), 2688 * 4);

    // UPB: code 0 gives DQ = 0, so B only leaks: by B >> 9 at 40 kbit/s, by
    // B >> 8 at the other rates and always in libavcodec (-1000 >> 9 is -2).
    for (const int bits : {5, 4}) {
        Pair leak(bits);
        leak.Set([](G726State& s) { s.nB[0] = 1000, s.nB[1] = -1000; });
        G726Decode(leak.itu, 0);
        G726Decode(leak.libav, 0);
        EXPECT_EQ(leak.itu.nB[0], bits == 5 ? 999 : 997);
        EXPECT_EQ(leak.itu.nB[1], bits == 5 ? -998 : -996);
        EXPECT_EQ(leak.libav.nB[0], 997);
    }

    // FMULT: A1 = 15360 (exponent 12, mantissa 60) times SR1 (exponent 15,
    // mantissa 45): exponents 27, mantissa (45 * 60 + 48) >> 4 = 171, product
    // 171 << 8 = 43776. The standard keeps 15 bits, 11008: SE = SR = 5504,
    // stored as exponent 13, mantissa 43. libavcodec wraps to -21760: -10880.
    Pair product(4);
    product.Set([](G726State& s) { s.nA[0] = 15360, s.nSr[0] = (15 << 6) | 45; });
    G726Decode(product.itu, 0);
    G726Decode(product.libav, 0);
    EXPECT_EQ(product.itu.nSr[0], (13 << 6) | 43);
    EXPECT_EQ(product.libav.nSr[0], (1 << 10) | (14 << 6) | 42);
}

// After a tone (TD) a difference beyond 3/4 of the threshold from YL (here 68)
// is a transition: the predictor is cleared and AP set to 256. Without the
// tone flag the same code adapts: B4 gains 128 and leaks 4000 >> 8, and A2 =
// -12288 + 128 + 96 stays below -11776, which raises the tone flag.
TEST(G726, ToneAndTransition) {
    for (const bool tone : {true, false}) {
        G726State s;
        G726Reset(s, 4);
        s.nTd = tone;
        s.nA[1] = -12288;
        s.nB[3] = 4000;
        s.nYu = 5120;
        s.nAp = 256;
        G726Decode(s, 7);
        EXPECT_EQ(s.nB[3], tone ? 0 : 4000 + 128 - 15);
        EXPECT_EQ(s.nA[1], tone ? 0 : -12064);
        EXPECT_EQ(s.nTd, tone ? 0 : 1);
        EXPECT_EQ(s.nAp == 256, tone);
    }
}

} // namespace
} // namespace qm
