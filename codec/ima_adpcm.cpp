#include "codec/ima_adpcm.h"

#include <algorithm>

namespace qm {

namespace {

constexpr int kIndexAdjust[8] = {-1, -1, -1, -1, 2, 4, 6, 8};

constexpr int kStepSize[kImaMaxIndex + 1] = {
    7,     8,     9,     10,    11,    12,    13,    14,    16,    17,    19,   21,    23,
    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,   73,    80,
    88,    97,    107,   118,   130,   143,   157,   173,   190,   209,   230,  253,   279,
    307,   337,   371,   408,   449,   494,   544,   598,   658,   724,   796,  876,   963,
    1060,  1166,  1282,  1411,  1552,  1707,  1878,  2066,  2272,  2499,  2749, 3024,  3327,
    3660,  4026,  4428,  4871,  5358,  5894,  6484,  7132,  7845,  8630,  9493, 10442, 11487,
    12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794, 32767};

} // namespace

int16_t ImaAdpcmExpand(ImaAdpcmState& state, unsigned code) {
    const int index = std::min<int>(state.nIndex, kImaMaxIndex);
    const int step = kStepSize[index];
    const int magnitude = int(code & 7);
    int diff;
    if (state.nArithmetic == uint8_t(ImaArithmetic::kLibavcodec)) {
        diff = ((2 * magnitude + 1) * step) >> 3;
    } else {
        diff = step >> 3;
        if (magnitude & 4) diff += step;
        if (magnitude & 2) diff += step >> 1;
        if (magnitude & 1) diff += step >> 2;
    }
    const int predictor = state.nPredictor + ((code & 8) ? -diff : diff);
    state.nPredictor = int16_t(std::clamp(predictor, -32768, 32767));
    state.nIndex = uint8_t(std::clamp(index + kIndexAdjust[magnitude], 0, kImaMaxIndex));
    return state.nPredictor;
}

} // namespace qm
