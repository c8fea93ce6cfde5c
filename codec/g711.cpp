// G.711 expansion by the standard's segment arithmetic: a segment number
// (exponent) and four quantization bits, with the even bits of A-law and all
// bits of mu-law inverted on the line.

#include "codec/g711.h"

namespace qm {

int16_t G711AlawToLinear(uint8_t code) {
    const int a = code ^ 0x55;
    const int segment = (a >> 4) & 7;
    int magnitude = (a & 0x0F) << 4;
    if (segment == 0)
        magnitude += 8;
    else
        magnitude = (magnitude + 0x108) << (segment - 1);
    return int16_t((a & 0x80) ? magnitude : -magnitude);
}

int16_t G711UlawToLinear(uint8_t code) {
    const int u = ~code & 0xFF;
    const int segment = (u >> 4) & 7;
    // 0x84 is the bias mu-law adds before companding (33 << 2).
    const int magnitude = ((((u & 0x0F) << 3) + 0x84) << segment) - 0x84;
    return int16_t((u & 0x80) ? -magnitude : magnitude);
}

} // namespace qm
