#pragma once
// Halving a 4:2:0 picture by averaging each 2 x 2 block of samples. The
// player draws a small cell from a halved picture instead of converting
// every pixel of a large one and then shrinking it: a quarter (or a
// sixteenth) of the conversion, and the averaging shrinks more cleanly than
// the cell's bilinear filter would from four times the size.

#include "codec/color_convert.h"

#include <cstdint>
#include <vector>

namespace qm {

// Halves `src` (width x height luma samples) `times` times and returns the
// planes of the result, which live in `scratch`. `width` and `height` get
// the result's size: each halving rounds down, and stops before a side
// would reach 0. The full-range flag carries over.
YuvPlanes HalvePicture(const YuvPlanes& src, int& width, int& height, int times,
                       std::vector<uint8_t>& scratch);

} // namespace qm
