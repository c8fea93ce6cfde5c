#pragma once
// The main window's own dark skin: its colours, and the buttons, which draw
// their faces themselves (the transport symbols included) instead of using
// bitmaps.

#include <QColor>
#include <QIcon>
#include <QPushButton>

namespace qm {

namespace skin {
inline const QColor kFrame{158, 158, 158};        // window edge
inline const QColor kPanel{30, 30, 30};           // background of the panels and texts
inline const QColor kTimelineText{188, 213, 213}; // behind the timeline's end texts
inline const QColor kInfoText{58, 181, 240};      // information and clock texts
inline const QColor kCameraOn{0, 255, 0};
inline const QColor kCameraOff{255, 255, 255};
inline const QColor kFastText{58, 181, 240}; // Fast Forward, Fast Reverse, Reverse
} // namespace skin

// The program's icon (the same picture as the installed qmplayer.svg).
QIcon AppIcon();

// Gives every window of the program (file dialogs, menus, message boxes, the
// save and time-search dialogs) the main window's dark look instead of the
// light default.
void ApplyDarkSkin();

// What a skinned button shows on its face.
enum class ButtonFace {
    Text,
    Play,
    Pause,
    Reverse,
    FastForward,
    FastReverse,
    StepForward,
    StepReverse,
    Close,
    Minimise,
    Maximise,
    Speaker,
    SpeakerMuted,
    PreviousGroup,
    NextGroup,
};

class CSkinButton : public QPushButton {
    Q_OBJECT
public:
    explicit CSkinButton(const QString& text, QWidget* parent = nullptr);

    void SetFace(ButtonFace face);
    ButtonFace Face() const { return m_face; }
    void SetTextColor(const QColor& color);
    QColor TextColor() const { return m_textColor; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    void DrawSymbol(QPainter& painter, const QRectF& box) const;

    ButtonFace m_face = ButtonFace::Text;
    QColor m_textColor = skin::kCameraOff;
    bool m_bHover = false;
};

} // namespace qm
