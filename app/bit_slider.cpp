#include "app/bit_slider.h"

#include "app/timeline_text.h"

#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

namespace qm {

namespace {

// The dark skin of the main window.
const QColor kGroove(30, 30, 30);
const QColor kGrooveEdge(158, 158, 158);
const QColor kFill(58, 181, 240);
const QColor kThumb(213, 213, 188);
const QColor kThumbEdge(30, 30, 30);

constexpr int kThumbLength = 12; // along the axis
constexpr int kGrooveThickness = 6;

} // namespace

CBitSlider::CBitSlider(QWidget* parent, Qt::Orientation orientation)
    : QWidget(parent), m_orientation(orientation) {
    setFocusPolicy(Qt::ClickFocus);
    if (orientation == Qt::Vertical) {
        m_nMarginLeft = m_nMarginRight = 0;
        m_nMarginTop = m_nMarginBottom = kThumbLength / 2;
    }
    setToolTip(TooltipText());
}

QSize CBitSlider::sizeHint() const {
    return m_orientation == Qt::Horizontal ? QSize(160, 20) : QSize(20, 160);
}

QSize CBitSlider::minimumSizeHint() const {
    return m_orientation == Qt::Horizontal ? QSize(2 * kThumbLength, 14)
                                           : QSize(14, 2 * kThumbLength);
}

void CBitSlider::SetRange(int64_t min, int64_t max, bool redraw) {
    if (max < min) std::swap(min, max);
    m_nMin = min;
    m_nMax = max;
    m_nPos = std::clamp(m_nPos, m_nMin, m_nMax);
    setToolTip(TooltipText());
    if (redraw) update();
}

void CBitSlider::SetPos(int64_t pos) {
    pos = std::clamp(pos, m_nMin, m_nMax);
    if (pos == m_nPos) return;
    m_nPos = pos;
    setToolTip(TooltipText());
    update();
}

void CBitSlider::SetMargins(int left, int top, int right, int bottom) {
    m_nMarginLeft = std::max(0, left);
    m_nMarginTop = std::max(0, top);
    m_nMarginRight = std::max(0, right);
    m_nMarginBottom = std::max(0, bottom);
    update();
}

void CBitSlider::SetTooltipMode(TooltipMode mode) {
    m_tooltipMode = mode;
    setToolTip(TooltipText());
}

void CBitSlider::SetTimeOffset(int64_t seconds) {
    m_nTimeOffset = seconds;
    setToolTip(TooltipText());
}

QString CBitSlider::TooltipText() const {
    if (m_tooltipMode == TooltipMode::Time) return LocalDateTimeText(m_nPos + m_nTimeOffset);
    return PercentText(m_nPos, m_nMin, m_nMax);
}

void CBitSlider::RefreshTooltip() {
    const QString text = TooltipText();
    setToolTip(text);
    if (m_bPressed && isVisible()) {
        const QRect thumb = ThumbRect();
        QToolTip::showText(mapToGlobal(QPoint(thumb.center().x(), thumb.top())), text, this);
    }
}

QRect CBitSlider::ChannelRect() const {
    return rect().adjusted(m_nMarginLeft, m_nMarginTop, -m_nMarginRight, -m_nMarginBottom);
}

int64_t CBitSlider::PositionAt(const QPoint& point) const {
    const QRect channel = ChannelRect();
    // Right and bottom exclusive, as a trackbar's channel rectangle is.
    const int from = m_orientation == Qt::Horizontal ? channel.left() : channel.top();
    const int length = m_orientation == Qt::Horizontal ? channel.width() : channel.height();
    const int at = m_orientation == Qt::Horizontal ? point.x() : point.y();
    const double x = length > 0 ? static_cast<double>(at - from) / length : 0.0;
    // Spread the range over the channel so both ends are reached and each
    // value gets an equal share of it.
    const double span = static_cast<double>(m_nMax) - static_cast<double>(m_nMin) + 1.0;
    const double value = static_cast<double>(m_nMin) + x * span + 0.5 - x;
    // Clamp before converting: a point far outside the channel must not
    // overflow the conversion.
    if (!(value > static_cast<double>(m_nMin))) return m_nMin;
    if (!(value < static_cast<double>(m_nMax))) return m_nMax;
    return std::clamp(static_cast<int64_t>(std::trunc(value)), m_nMin, m_nMax);
}

bool CBitSlider::HitTest(const QPoint& point) {
    const int64_t pos = PositionAt(point);
    if (pos == m_nPos) return false;
    m_nPos = pos;
    m_bMoved = true;
    setToolTip(TooltipText());
    repaint();
    return true;
}

void CBitSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    // Qt grabs the mouse for the widget that took the press until the release.
    setFocus(Qt::MouseFocusReason);
    m_bPressed = true;
    m_bMoved = false;
    HitTest(event->position().toPoint());
    emit pressed(m_nPos);
    event->accept();
}

void CBitSlider::mouseMoveEvent(QMouseEvent* event) {
    if (!m_bPressed) {
        event->ignore();
        return;
    }
    if (HitTest(event->position().toPoint())) {
        emit scrolled(kThumbTrack, m_nPos);
        emit tracked(m_nPos);
    }
    update();
    event->accept();
}

void CBitSlider::mouseReleaseEvent(QMouseEvent* event) {
    if (!m_bPressed || event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    m_bPressed = false;
    if (HitTest(event->position().toPoint())) emit scrolled(kThumbTrack, m_nPos);
    if (m_bMoved) {
        m_bMoved = false;
        emit scrolled(kThumbPosition, m_nPos);
        emit released(m_nPos);
    }
    QToolTip::hideText();
    update();
    event->accept();
}

void CBitSlider::wheelEvent(QWheelEvent* event) {
    // Taken and dropped: neither this slider nor its parent reacts to the wheel.
    event->accept();
}

QRect CBitSlider::ThumbRect() const {
    const QRect channel = ChannelRect();
    const double share = m_nMax > m_nMin ? static_cast<double>(m_nPos - m_nMin) /
                                               static_cast<double>(m_nMax - m_nMin)
                                         : 0.0;
    if (m_orientation == Qt::Horizontal) {
        const int centre = channel.left() + static_cast<int>(share * channel.width());
        return QRect(centre - kThumbLength / 2, 1, kThumbLength, std::max(1, height() - 2));
    }
    const int centre = channel.top() + static_cast<int>(share * channel.height());
    return QRect(1, centre - kThumbLength / 2, std::max(1, width() - 2), kThumbLength);
}

void CBitSlider::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, true);
    const QRect channel = ChannelRect();
    const QRect thumb = ThumbRect();
    QRect groove, fill;
    if (m_orientation == Qt::Horizontal) {
        groove = QRect(channel.left(), (height() - kGrooveThickness) / 2, channel.width(),
                       kGrooveThickness);
        fill =
            QRect(groove.left(), groove.top(), thumb.center().x() - groove.left(), groove.height());
    } else {
        groove = QRect((width() - kGrooveThickness) / 2, channel.top(), kGrooveThickness,
                       channel.height());
        fill =
            QRect(groove.left(), groove.top(), groove.width(), thumb.center().y() - groove.top());
    }
    const bool enabled = isEnabled();
    painter.setPen(kGrooveEdge);
    painter.setBrush(kGroove);
    painter.drawRoundedRect(groove, 2, 2);
    if (fill.width() > 0 && fill.height() > 0) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(enabled ? kFill : kGrooveEdge);
        painter.drawRoundedRect(fill, 2, 2);
    }
    painter.setPen(kThumbEdge);
    painter.setBrush(enabled ? (m_bPressed ? kFill : kThumb) : kGrooveEdge);
    painter.drawRoundedRect(thumb, 3, 3);
}

} // namespace qm
