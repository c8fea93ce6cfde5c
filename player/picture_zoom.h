#pragma once
// A camera's zoom: how much of its picture its cell shows, 1x (the whole
// picture) to 8x, and where. The wheel zooms around the pointer (the picture
// point under it stays under it), a drag pans, and the part shown never leaves
// the picture.

#include "render/video_renderer.h"

namespace qm {

struct PictureZoom {
    static constexpr double kMost = 8.0;
    // Above this the pixels are drawn as pixels, without smoothing.
    static constexpr double kSharpFrom = 2.0;

    double factor = 1.0;
    double centreX = 0.5; // the centre of the part shown, as a fraction of the picture
    double centreY = 0.5;

    bool IsZoomed() const { return factor > 1.0; }
    bool Sharp() const { return factor > kSharpFrom; }

    // The part of a width x height picture the cell shows.
    CellRect Source(int width, int height) const;
    // Zooms by `steps` wheel notches (a notch is 1.25x; negative zooms out)
    // around the point at (fx, fy) of the cell, as fractions of its size.
    void ZoomAround(double steps, double fx, double fy);
    // Moves the part shown by (dx, dy) fractions of the cell's size, as a
    // drag of the picture: dragging right shows more of the left.
    void Pan(double dx, double dy);
    void Reset() { *this = PictureZoom{}; }

private:
    void Clamp();
};

} // namespace qm
