#pragma once
// ITU-T G.711 expansion of A-law and mu-law codes to 16-bit linear samples.

#include <cstdint>

namespace qm {

// A-law: 0x55 -> -8, 0xD5 -> 8, the loudest codes -> +-32256.
int16_t G711AlawToLinear(uint8_t code);

// mu-law: 0xFF -> 0, 0x7F -> 0, 0x00 -> -32124, 0x80 -> 32124.
int16_t G711UlawToLinear(uint8_t code);

} // namespace qm
