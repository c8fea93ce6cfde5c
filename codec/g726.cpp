// G.726 decoding, one code at a time. Values keep the standard's widths:
// A1, A2, B1..B6, SE, SR and DQSEZ are 16-bit two's complement (they wrap as
// the standard's adders do), DQ is sign and 15-bit magnitude.
//
// Where libavcodec's adpcm_g726 / adpcm_g726le decoders (FFmpeg 5.1) depart
// from the standard, G726Arithmetic::kLibavcodec reproduces them (each one
// shows on long random code streams):
//  1. MIX: the standard adds the truncated (towards zero) product
//     (YU - YL/64) * AL / 64 to YL/64; libavcodec computes
//     (YL + (YU - YL/64) * AL) >> 6, which keeps YL's six fraction bits and
//     floors negative products. Y then differs by one now and then whenever
//     0 < AP < 256, at every rate.
//  2. UPB: at 40 kbit/s the standard leaks the zero predictor coefficients by
//     B >> 9; libavcodec uses B >> 8 at every rate.
//  3. FMULT: when the exponents add up to more than 26 the standard keeps the
//     low 15 bits of the product's magnitude; libavcodec keeps the low 16 bits
//     of the signed product.
//  4. ACCUM: libavcodec adds the eight products (and SEZ + DQ) without the
//     standard's 16-bit wrap-around.
//  5. Output: the standard limits SR to 14 bits before scaling it by 4;
//     libavcodec clips SR * 4 to +-65535 and keeps its low 16 bits, so loud
//     samples come out with the wrong sign.

#include "codec/g726.h"

#include <algorithm>
#include <cstdlib>

namespace qm {

namespace {

// Per rate, indexed by the code's magnitude (codes with the sign bit set
// mirror the positive side): log2 of the reconstruction level (DQLN), the
// scale-factor multiplier (W) and the speed-control weight (F).
struct RateTables {
    const int16_t* dqln;
    const int16_t* w;
    const uint8_t* f;
};

constexpr int16_t kDqln16[] = {116, 365};
constexpr int16_t kW16[] = {-22, 439};
constexpr uint8_t kF16[] = {0, 7};

constexpr int16_t kDqln24[] = {-2048, 135, 273, 373};
constexpr int16_t kW24[] = {-4, 30, 137, 582};
constexpr uint8_t kF24[] = {0, 1, 2, 7};

constexpr int16_t kDqln32[] = {-2048, 4, 135, 213, 273, 323, 373, 425};
constexpr int16_t kW32[] = {-12, 18, 41, 64, 112, 198, 355, 1122};
constexpr uint8_t kF32[] = {0, 0, 0, 1, 1, 1, 3, 7};

constexpr int16_t kDqln40[] = {-2048, -66, 28,  104, 169, 224, 274, 318,
                               358,   395, 429, 459, 488, 514, 539, 566};
constexpr int16_t kW40[] = {14,  14,  24,  39,  40,  41,  58,  100,
                            141, 179, 219, 280, 358, 440, 529, 696};
constexpr uint8_t kF40[] = {0, 0, 0, 0, 0, 1, 1, 1, 1, 1, 2, 3, 4, 5, 6, 6};

constexpr RateTables kTables[4] = {
    {kDqln16, kW16, kF16},
    {kDqln24, kW24, kF24},
    {kDqln32, kW32, kF32},
    {kDqln40, kW40, kF40},
};

// Number of significant bits of a non-negative value (0 for 0).
int BitLength(int v) {
    int n = 0;
    while (v > 0) {
        ++n;
        v >>= 1;
    }
    return n;
}

int Wrap16(int v) {
    return int16_t(uint16_t(unsigned(v)));
}

// FLOAT A / FLOAT B: sign, exponent and mantissa of a 16-bit magnitude.
uint16_t ToFloat(bool negative, int magnitude) {
    const int exp = BitLength(magnitude);
    const int mant = magnitude == 0 ? 32 : (magnitude << 6) >> exp;
    return uint16_t((negative ? 1 << 10 : 0) | (exp << 6) | mant);
}

uint16_t SrToFloat(int sr) {
    return sr >= 0 ? ToFloat(false, sr) : ToFloat(true, (-sr) & 32767);
}

// FMULT: a 16-bit coefficient times a floating-point value.
int Fmult(int an, uint16_t srn, bool libavcodec) {
    const bool anNegative = an < 0;
    const int anMag = anNegative ? (-(an >> 2)) & 8191 : an >> 2;
    const int anExp = BitLength(anMag);
    const int anMant = anMag == 0 ? 32 : (anMag << 6) >> anExp;
    const bool srNegative = (srn >> 10) & 1;
    const int srExp = (srn >> 6) & 15;
    const int srMant = srn & 63;
    const int wExp = srExp + anExp;
    const int wMant = (srMant * anMant + 48) >> 4;
    int wMag;
    if (wExp > 26)
        wMag = (wMant << 7) << (wExp - 26);
    else
        wMag = (wMant << 7) >> (26 - wExp);
    if (libavcodec) return Wrap16((srNegative != anNegative) ? -wMag : wMag);
    wMag &= 32767;
    return (srNegative != anNegative) ? -wMag : wMag;
}

} // namespace

void G726Reset(G726State& s, int bitsPerCode, G726Arithmetic arithmetic) {
    s = G726State{};
    s.nBits = int16_t(bitsPerCode >= 2 && bitsPerCode <= 5 ? bitsPerCode : 4);
    s.nArithmetic = uint8_t(arithmetic);
    s.nYl = 34816;
    s.nYu = 544;
    for (uint16_t& dq : s.nDq)
        dq = 32;
    for (uint16_t& sr : s.nSr)
        sr = 32;
}

int16_t G726Decode(G726State& s, unsigned code) {
    const bool libavcodec = s.nArithmetic == uint8_t(G726Arithmetic::kLibavcodec);
    const int bits = s.nBits;
    if (bits < 2 || bits > 5) return 0; // never reset
    const RateTables& tables = kTables[bits - 2];
    const unsigned mask = (1u << bits) - 1;
    code &= mask;
    const bool dqs = (code >> (bits - 1)) & 1;
    const unsigned mag = dqs ? (~code & mask) : code;

    // MIX (with LIMA): the quantizer scale factor for this sample.
    const int al = s.nAp >= 256 ? 64 : s.nAp >> 2;
    const int dif = s.nYu - (s.nYl >> 6);
    int y;
    if (libavcodec) {
        y = (s.nYl + dif * al) >> 6;
    } else {
        const int prod = (std::abs(dif) * al) >> 6;
        y = ((s.nYl >> 6) + (dif < 0 ? -prod : prod)) & 8191;
    }

    // FMULT and ACCUM: the signal estimate from the six zeros and two poles.
    int sezi = 0;
    for (int i = 0; i < 6; ++i)
        sezi += Fmult(s.nB[i], s.nDq[i], libavcodec);
    int sei = sezi + Fmult(s.nA[0], s.nSr[0], libavcodec) + Fmult(s.nA[1], s.nSr[1], libavcodec);
    if (!libavcodec) {
        sezi = Wrap16(sezi);
        sei = Wrap16(sei);
    }
    const int sez = sezi >> 1;
    const int se = sei >> 1;

    // RECONST, ADDA, ANTILOG: the quantized difference.
    const int dql = (tables.dqln[mag] + (y >> 2)) & 4095;
    int dqMag = 0;
    if (!(dql & 2048)) {
        const int dex = (dql >> 7) & 15;
        const int dqt = 128 + (dql & 127);
        dqMag = (dqt << 7) >> (14 - dex);
    }
    const int dqValue = dqs ? -dqMag : dqMag;

    // ADDB, ADDC: the reconstructed signal and the pole-update sign.
    const int sr = Wrap16(se + dqValue);
    const int dqsez = libavcodec ? sez + dqValue : Wrap16(sez + dqValue);
    const uint8_t pk0 = dqsez < 0;
    const bool sigpk = dqsez == 0;

    // TRANS: a transition out of a tone resets the predictor.
    const int ylint = s.nYl >> 15;
    const int ylfrac = (s.nYl >> 10) & 31;
    const int thr2 = ylint > 9 ? 31 << 10 : (32 + ylfrac) << ylint;
    const int dqthr = (thr2 + (thr2 >> 1)) >> 1;
    const bool tr = s.nTd && dqMag > dqthr;

    // FUNCTW, FILTD, LIMB, FILTE: quantizer scale factor adaptation.
    const int wi = tables.w[mag];
    s.nYu = std::clamp(y + ((wi * 32 - y) >> 5), 544, 5120);
    s.nYl = s.nYl + s.nYu + ((-s.nYl) >> 6);

    // UPA2, LIMC, UPA1, LIMD, UPB (or TRIGB on a transition).
    int a2p = 0;
    if (tr) {
        s.nA[0] = s.nA[1] = 0;
        for (int& b : s.nB)
            b = 0;
    } else {
        const bool pks1 = pk0 ^ s.nPk[0];
        const bool pks2 = pk0 ^ s.nPk[1];
        const int a1 = s.nA[0];
        const int a2 = s.nA[1];
        int uga2 = 0;
        if (!sigpk) {
            const int fa1 = 4 * std::clamp(a1, -8191, 8191);
            const int fa = pks1 ? fa1 : -fa1;
            uga2 = ((pks2 ? -16384 : 16384) + fa) >> 7;
        }
        a2p = std::clamp(Wrap16(a2 + uga2 - (a2 >> 7)), -12288, 12288);

        const int uga1 = sigpk ? 0 : (pks1 ? -192 : 192);
        const int a1t = Wrap16(a1 + uga1 - (a1 >> 8));
        s.nA[0] = std::clamp(a1t, a2p - 15360, 15360 - a2p);
        s.nA[1] = a2p;

        const int leak = (bits == 5 && !libavcodec) ? 9 : 8;
        for (int i = 0; i < 6; ++i) {
            int ugb = 0;
            if (dqMag != 0) ugb = (dqs != bool((s.nDq[i] >> 10) & 1)) ? -128 : 128;
            s.nB[i] = Wrap16(s.nB[i] + ugb - (s.nB[i] >> leak));
        }
    }

    // DELAY, FLOAT A, FLOAT B.
    for (int i = 5; i > 0; --i)
        s.nDq[i] = s.nDq[i - 1];
    s.nDq[0] = ToFloat(dqs, dqMag);
    s.nSr[1] = s.nSr[0];
    s.nSr[0] = SrToFloat(sr);
    s.nPk[1] = s.nPk[0];
    s.nPk[0] = pk0;

    // TONE, TRIGB.
    const bool tdp = a2p < -11776;
    s.nTd = tr ? 0 : tdp;

    // FUNCTF, FILTA, FILTB, SUBTC, FILTC, TRIGA: adaptation speed control.
    const int fi = tables.f[mag];
    s.nDms += ((fi << 9) - s.nDms) >> 5;
    s.nDml += ((fi << 11) - s.nDml) >> 7;
    if (tr) {
        s.nAp = 256;
    } else {
        const bool ax = !(y >= 1536 && std::abs((s.nDms << 2) - s.nDml) < (s.nDml >> 3) && !tdp);
        s.nAp += ((ax ? 512 : 0) - s.nAp) >> 4;
    }

    if (libavcodec) return int16_t(uint16_t(unsigned(std::clamp(sr * 4, -65535, 65535))));
    return int16_t(std::clamp(sr, -8192, 8191) * 4);
}

} // namespace qm
