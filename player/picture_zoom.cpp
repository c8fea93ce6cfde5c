#include "player/picture_zoom.h"

#include <algorithm>
#include <cmath>

namespace qm {

void PictureZoom::Clamp() {
    factor = std::clamp(factor, 1.0, kMost);
    const double half = 0.5 / factor;
    centreX = std::clamp(centreX, half, 1.0 - half);
    centreY = std::clamp(centreY, half, 1.0 - half);
}

CellRect PictureZoom::Source(int width, int height) const {
    if (width <= 0 || height <= 0 || !IsZoomed()) return CellRect{0, 0, width, height};
    const int w = std::max(1, int(std::lround(width / factor)));
    const int h = std::max(1, int(std::lround(height / factor)));
    const int left = std::clamp(int(std::lround(centreX * width - w / 2.0)), 0, width - w);
    const int top = std::clamp(int(std::lround(centreY * height - h / 2.0)), 0, height - h);
    return CellRect{left, top, left + w, top + h};
}

void PictureZoom::ZoomAround(double steps, double fx, double fy) {
    fx = std::clamp(fx, 0.0, 1.0);
    fy = std::clamp(fy, 0.0, 1.0);
    // The picture point under the pointer, before and after.
    const double px = centreX + (fx - 0.5) / factor;
    const double py = centreY + (fy - 0.5) / factor;
    factor = std::clamp(factor * std::pow(1.25, steps), 1.0, kMost);
    centreX = px - (fx - 0.5) / factor;
    centreY = py - (fy - 0.5) / factor;
    Clamp();
}

void PictureZoom::Pan(double dx, double dy) {
    centreX -= dx / factor;
    centreY -= dy / factor;
    Clamp();
}

} // namespace qm
