#include "app/skin.h"

#include <QApplication>
#include <QPalette>
#include <QStyleFactory>

#include <QIcon>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace qm {

namespace {

QPolygonF Triangle(const QRectF& box, bool pointingRight) {
    if (pointingRight)
        return QPolygonF({box.topLeft(), QPointF(box.right(), box.center().y()), box.bottomLeft()});
    return QPolygonF({box.topRight(), QPointF(box.left(), box.center().y()), box.bottomRight()});
}

} // namespace

QIcon AppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        p.scale(size / 128.0, size / 128.0);
        p.setPen(QPen(skin::kFrame, 4));
        p.setBrush(skin::kPanel);
        p.drawRoundedRect(QRectF(4, 4, 120, 120), 18, 18);
        p.setPen(Qt::NoPen);
        p.setBrush(skin::kInfoText);
        for (int row = 0; row < 2; ++row)
            for (int col = 0; col < 2; ++col)
                p.drawRoundedRect(QRectF(18 + col * 50, 18 + row * 40, 42, 32), 3, 3);
        p.setBrush(skin::kCameraOn);
        p.drawPolygon(QPolygonF({QPointF(50, 96), QPointF(50, 120), QPointF(72, 108)}));
        p.setBrush(skin::kTimelineText);
        p.drawRoundedRect(QRectF(78, 98, 30, 4), 2, 2);
        p.drawRoundedRect(QRectF(78, 108, 22, 4), 2, 2);
        p.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

CSkinButton::CSkinButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

void CSkinButton::SetFace(ButtonFace face) {
    if (m_face == face) return;
    m_face = face;
    update();
}

void CSkinButton::SetTextColor(const QColor& color) {
    if (m_textColor == color) return;
    m_textColor = color;
    update();
}

void CSkinButton::enterEvent(QEnterEvent* event) {
    m_bHover = true;
    update();
    QPushButton::enterEvent(event);
}

void CSkinButton::leaveEvent(QEvent* event) {
    m_bHover = false;
    update();
    QPushButton::leaveEvent(event);
}

void CSkinButton::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF face = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);

    QColor fill(58, 58, 62);
    if (!isEnabled())
        fill = QColor(44, 44, 46);
    else if (isDown())
        fill = QColor(24, 24, 26);
    else if (m_bHover)
        fill = QColor(78, 78, 84);
    QLinearGradient gradient(face.topLeft(), face.bottomLeft());
    gradient.setColorAt(0, fill.lighter(125));
    gradient.setColorAt(1, fill);
    painter.setBrush(gradient);
    painter.setPen(QPen(isChecked() ? skin::kCameraOn.darker(160) : QColor(90, 90, 96), 1));
    painter.drawRoundedRect(face, 4, 4);

    const QColor ink = isEnabled() ? m_textColor : QColor(110, 110, 110);
    if (m_face == ButtonFace::Text) {
        QFont font = painter.font();
        font.setBold(true);
        painter.setFont(font);
        painter.setPen(ink);
        painter.drawText(face, Qt::AlignCenter, text());
        return;
    }
    painter.setPen(Qt::NoPen);
    painter.setBrush(ink);
    const qreal side = std::min(face.width(), face.height()) * 0.5;
    DrawSymbol(painter,
               QRectF(face.center().x() - side / 2, face.center().y() - side / 2, side, side));
}

void CSkinButton::DrawSymbol(QPainter& painter, const QRectF& box) const {
    const qreal w = box.width(), h = box.height();
    const QRectF left(box.left(), box.top(), w / 2, h);
    const QRectF right(box.center().x(), box.top(), w / 2, h);
    switch (m_face) {
    case ButtonFace::Play:
        painter.drawPolygon(Triangle(box.adjusted(w * 0.1, 0, -w * 0.05, 0), true));
        break;
    case ButtonFace::Reverse:
        painter.drawPolygon(Triangle(box.adjusted(w * 0.05, 0, -w * 0.1, 0), false));
        break;
    case ButtonFace::Pause:
        painter.drawRect(QRectF(box.left() + w * 0.12, box.top(), w * 0.28, h));
        painter.drawRect(QRectF(box.left() + w * 0.6, box.top(), w * 0.28, h));
        break;
    case ButtonFace::FastForward:
        painter.drawPolygon(Triangle(left, true));
        painter.drawPolygon(Triangle(right, true));
        break;
    case ButtonFace::FastReverse:
        painter.drawPolygon(Triangle(left, false));
        painter.drawPolygon(Triangle(right, false));
        break;
    case ButtonFace::StepForward:
        painter.drawPolygon(Triangle(box.adjusted(0, 0, -w * 0.3, 0), true));
        painter.drawRect(QRectF(box.right() - w * 0.22, box.top(), w * 0.22, h));
        break;
    case ButtonFace::StepReverse:
        painter.drawRect(QRectF(box.left(), box.top(), w * 0.22, h));
        painter.drawPolygon(Triangle(box.adjusted(w * 0.3, 0, 0, 0), false));
        break;
    case ButtonFace::Close: {
        painter.setPen(QPen(painter.brush().color(), 2));
        painter.drawLine(box.topLeft(), box.bottomRight());
        painter.drawLine(box.topRight(), box.bottomLeft());
        break;
    }
    case ButtonFace::Minimise:
        painter.drawRect(QRectF(box.left(), box.bottom() - h * 0.18, w, h * 0.18));
        break;
    case ButtonFace::Maximise: {
        // An outlined window with a thicker top edge.
        const QColor colour = painter.brush().color();
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(colour, 1.5));
        painter.drawRect(box);
        painter.drawLine(box.topLeft() + QPointF(0, 1.5), box.topRight() + QPointF(0, 1.5));
        break;
    }
    case ButtonFace::Speaker:
    case ButtonFace::SpeakerMuted: {
        QPainterPath speaker;
        speaker.moveTo(box.left(), box.top() + h * 0.3);
        speaker.lineTo(box.left() + w * 0.25, box.top() + h * 0.3);
        speaker.lineTo(box.left() + w * 0.55, box.top());
        speaker.lineTo(box.left() + w * 0.55, box.bottom());
        speaker.lineTo(box.left() + w * 0.25, box.top() + h * 0.7);
        speaker.lineTo(box.left(), box.top() + h * 0.7);
        speaker.closeSubpath();
        painter.drawPath(speaker);
        painter.setBrush(Qt::NoBrush);
        if (m_face == ButtonFace::SpeakerMuted) {
            painter.setPen(QPen(QColor(230, 70, 60), 2));
            painter.drawLine(QPointF(box.left() + w * 0.7, box.top() + h * 0.3),
                             QPointF(box.right(), box.top() + h * 0.7));
            painter.drawLine(QPointF(box.left() + w * 0.7, box.top() + h * 0.7),
                             QPointF(box.right(), box.top() + h * 0.3));
        } else {
            painter.setPen(QPen(painter.brush().color().isValid() ? m_textColor : Qt::white, 1.5));
            painter.drawArc(QRectF(box.left() + w * 0.45, box.top() + h * 0.2, w * 0.4, h * 0.6),
                            -50 * 16, 100 * 16);
            painter.drawArc(QRectF(box.left() + w * 0.4, box.top(), w * 0.6, h), -50 * 16,
                            100 * 16);
        }
        break;
    }
    case ButtonFace::PreviousGroup:
        painter.drawPolygon(Triangle(box.adjusted(w * 0.2, h * 0.1, -w * 0.2, -h * 0.1), false));
        break;
    case ButtonFace::NextGroup:
        painter.drawPolygon(Triangle(box.adjusted(w * 0.2, h * 0.1, -w * 0.2, -h * 0.1), true));
        break;
    case ButtonFace::Text:
        break;
    }
}

void ApplyDarkSkin() {
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QPalette p;
    const QColor window(44, 44, 48), base(30, 30, 30), text(230, 230, 230);
    const QColor disabled(128, 128, 128);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, base);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::red);
    p.setColor(QPalette::Link, skin::kInfoText);
    p.setColor(QPalette::Highlight, skin::kInfoText);
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::PlaceholderText, disabled);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    QApplication::setPalette(p);
}

} // namespace qm
