#pragma once
// Bilinear scaling of a 32-bit B, G, R, X picture into a rectangle of a 32-bit
// surface, written opaque. Pixel centres map onto pixel centres, samples past
// the source edge repeat the edge pixel, and a 1:1 copy is exact. Plain
// integer code: no painter set-up and no helper threads per call, which matter
// when sixteen display threads each draw 25 small cells a second.

#include <cstddef>
#include <cstdint>

namespace qm {

struct ScaleSource {
    const uint8_t* pixels = nullptr; // first pixel of the region to scale
    size_t stride = 0;               // bytes per row
    int width = 0;
    int height = 0;
};

struct ScaleTarget {
    uint8_t* pixels = nullptr; // the surface's first pixel
    size_t stride = 0;         // bytes per row
    int width = 0;             // surface size, for clipping
    int height = 0;
};

// Scales `source` onto the rectangle [x0, x1) x [y0, y1) of `target`; the parts
// of the rectangle outside the surface are skipped.
void ScaleBilinear(const ScaleSource& source, const ScaleTarget& target, int x0, int y0, int x1,
                   int y1);
// The same, each target pixel taking the source pixel it falls in: enlarged
// pictures show their pixels as squares, as an examiner looking closer expects.
void ScaleNearest(const ScaleSource& source, const ScaleTarget& target, int x0, int y0, int x1,
                  int y1);

} // namespace qm
