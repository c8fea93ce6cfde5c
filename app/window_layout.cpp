#include "app/window_layout.h"

#include <algorithm>

namespace qm {

namespace {
// The right panel starts here, the timeline and the transport row below this.
constexpr int kRightPanelX = 826;
constexpr int kBelowVideoY = 550;
} // namespace

Anchor AnchorByPlace(const QRect& base) {
    const bool right = base.x() >= kRightPanelX;
    const bool below = base.y() >= kBelowVideoY;
    if (right) return below ? Anchor::kBottomRight : Anchor::kTopRight;
    return below ? Anchor::kBottomLeft : Anchor::kTopLeft;
}

QRect Placed(const QRect& base, Anchor anchor, QSize extra) {
    const int dx = std::max(0, extra.width());
    const int dy = std::max(0, extra.height());
    switch (anchor) {
    case Anchor::kTopLeft:
        return base;
    case Anchor::kTopRight:
        return base.translated(dx, 0);
    case Anchor::kBottomLeft:
        return base.translated(0, dy);
    case Anchor::kBottomRight:
        return base.translated(dx, dy);
    case Anchor::kBottomCentre:
        return base.translated(dx / 2, dy);
    case Anchor::kBottomWiden:
        return base.translated(0, dy).adjusted(0, 0, dx, 0);
    case Anchor::kGrow:
        return base.adjusted(0, 0, dx, dy);
    }
    return base;
}

Qt::Edges ResizeEdgesAt(QPoint at, QSize size, int grip) {
    Qt::Edges edges;
    if (at.x() < grip) edges |= Qt::LeftEdge;
    if (at.x() >= size.width() - grip) edges |= Qt::RightEdge;
    if (at.y() < grip) edges |= Qt::TopEdge;
    if (at.y() >= size.height() - grip) edges |= Qt::BottomEdge;
    return edges;
}

} // namespace qm
