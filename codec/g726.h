#pragma once
// ITU-T G.726 ADPCM decoder for 16-bit linear output, at 16, 24, 32 and
// 40 kbit/s (2 to 5 bits per code). Written after the standard's block
// description (RECONST, ADDA, ANTILOG, FMULT, ACCUM, the adaptation and the
// tone/transition detector), in its own fixed-point widths, so that the output
// is bit-exact with the standard. G.723 at 24 kbit/s is the 3-bit rate.

#include <cstdint>

namespace qm {

// libavcodec's adpcm_g726 decoders take a few liberties with the standard's
// arithmetic (see g726.cpp). The decoder can reproduce them, which lets the
// tests compare everything else bit for bit with the ffmpeg command; the
// player always decodes by the standard.
enum class G726Arithmetic : uint8_t {
    kItuT,
    kLibavcodec,
};

// The decoder's memory between codes. Floating-point values hold the
// standard's 11-bit form: sign << 10 | exponent << 6 | mantissa.
struct G726State {
    int16_t nBits;       // bits per code, 2..5
    uint8_t nArithmetic; // G726Arithmetic
    uint8_t nTd;         // tone detected (delayed)
    int32_t nYl;         // slow quantizer scale factor (19 bits)
    int32_t nYu;         // fast quantizer scale factor (13 bits)
    int32_t nDms;        // short-term average of F[I] (12 bits)
    int32_t nDml;        // long-term average of F[I] (14 bits)
    int32_t nAp;         // speed-control parameter (10 bits)
    int32_t nA[2];       // pole predictor coefficients A1, A2
    int32_t nB[6];       // zero predictor coefficients B1..B6
    uint8_t nPk[2];      // signs of DQ + SEZ, one and two samples back
    uint16_t nDq[6];     // quantized differences, floating-point form
    uint16_t nSr[2];     // reconstructed signal, floating-point form
};

// The standard's reset values: YL 34816, YU 544, the speed-control values,
// the coefficients and the flags 0, DQ and SR 32 (the floating-point 0).
// A bit count outside 2..5 is taken as 4.
void G726Reset(G726State& state, int bitsPerCode, G726Arithmetic = G726Arithmetic::kItuT);

// Decodes one code (its low nBits bits) into a 16-bit linear sample: the
// reconstructed signal limited to 14 bits, times 4. A state that was never
// reset gives 0.
int16_t G726Decode(G726State& state, unsigned code);

} // namespace qm
