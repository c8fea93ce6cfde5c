#pragma once
// IMA ADPCM expansion of 4-bit codes (the IMA's recommended practice of 1992):
// an 89-step quantizer whose step index moves by the code's magnitude.

#include <cstdint>

namespace qm {

// libavcodec's IMA decoders compute the difference as
// ((2 * magnitude + 1) * step) >> 3 instead of the standard's sum of
// step >> 3, step, step >> 1 and step >> 2 taken for the code's bits; the
// sums part by up to 2 when the step is not a multiple of 8. kLibavcodec
// reproduces that so that the tests can compare with the ffmpeg command; the
// player always decodes by the standard.
enum class ImaArithmetic : uint8_t {
    kStandard,
    kLibavcodec,
};

struct ImaAdpcmState {
    int16_t nPredictor;
    uint8_t nIndex;      // 0..88
    uint8_t nArithmetic; // ImaArithmetic
};

constexpr int kImaMaxIndex = 88;

// Expands one code (low 4 bits) and returns the new predictor. An index
// outside 0..88 is taken as the nearest end of the table.
int16_t ImaAdpcmExpand(ImaAdpcmState& state, unsigned code);

} // namespace qm
