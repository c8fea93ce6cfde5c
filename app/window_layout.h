#pragma once
// Where the main window's controls go when the window is larger than the
// 1030 x 710 it was drawn for: the video area and the timeline take the extra
// space, the right panel keeps its width and moves with the right edge, the
// transport row moves with the bottom edge.

#include <QRect>
#include <QSize>

namespace qm {

enum class Anchor {
    kTopLeft,      // stays where it was drawn
    kTopRight,     // follows the right edge (the right panel)
    kBottomLeft,   // follows the bottom edge (the transport row)
    kBottomRight,  // follows both (the volume, the timeline's end text)
    kBottomCentre, // follows the bottom edge and keeps to the middle
    kBottomWiden,  // follows the bottom edge and widens (the timeline)
    kGrow,         // takes all the extra space (the video area)
};

// The anchor a control drawn at `base` in the 1030 x 710 window takes by its
// place: right of the video area, or below it.
Anchor AnchorByPlace(const QRect& base);

// `base` in a window `extra` larger than 1030 x 710 (never smaller).
QRect Placed(const QRect& base, Anchor anchor, QSize extra);

// Which edges of a `size` window a press at `at` grabs for resizing: the
// grip is `grip` pixels wide along every edge.
Qt::Edges ResizeEdgesAt(QPoint at, QSize size, int grip = 6);

} // namespace qm
