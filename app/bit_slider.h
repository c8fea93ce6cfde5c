#pragma once
// The skinned slider of the main window: the timeline (a time in seconds) and
// the volume (a mixer value). It is drawn by us in the dark skin, jumps to
// the pressed point instead of paging, ignores the wheel, and reports a drag
// to its owner as press, track and release.
//
// The signals are emitted from the mouse handlers, in the order press, track
// ..., release, so an owner connected directly sees the pause of a press
// before the seek of its release. Positions are 64-bit so that recording times after 2038 still
// fit.

#include <QWidget>
#include <cstdint>

namespace qm {

class CBitSlider : public QWidget {
    Q_OBJECT
public:
    // The owner's message numbers for the three drag signals.
    static constexpr int kMsgPress = 0x0FCF;
    static constexpr int kMsgTrack = 0x0FCD;
    static constexpr int kMsgRelease = 0x0FD0;
    // Standard scroll notification codes carried by scrolled().
    static constexpr int kThumbPosition = 4;
    static constexpr int kThumbTrack = 5;

    enum class TooltipMode { Time, Percent };

    explicit CBitSlider(QWidget* parent = nullptr, Qt::Orientation orientation = Qt::Horizontal);

    void SetRange(int64_t min, int64_t max, bool redraw = true);
    int64_t GetRangeMin() const { return m_nMin; }
    int64_t GetRangeMax() const { return m_nMax; }
    // Clamped into the range.
    void SetPos(int64_t pos);
    int64_t GetPos() const { return m_nPos; }
    void SetPageSize(int64_t size) { m_nPageSize = size; }
    int64_t GetPageSize() const { return m_nPageSize; }

    // Margins that narrow the channel for hit-testing (and drawing), in pixels.
    void SetMargins(int left, int top, int right, int bottom);

    void SetTooltipMode(TooltipMode mode);
    TooltipMode GetTooltipMode() const { return m_tooltipMode; }
    // Added to the position before a time tooltip is broken down, so that the
    // tooltip agrees with the other times shown for a recording.
    void SetTimeOffset(int64_t seconds);
    // The tooltip's text for the current position.
    QString TooltipText() const;
    // Brings the tooltip up to date; while the thumb is held it is shown at
    // the thumb so the user sees where a release will go.
    void RefreshTooltip();

    // The channel the thumb runs along: the widget narrowed by the margins.
    QRect ChannelRect() const;
    // The position a point maps to, clamped into the range.
    int64_t PositionAt(const QPoint& point) const;

    bool IsPressed() const { return m_bPressed; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The left button went down on the slider (after the thumb jumped there).
    void pressed(int64_t pos);
    // The thumb moved while the button is held.
    void tracked(int64_t pos);
    // The button came up after the position changed during the press.
    void released(int64_t pos);
    // kThumbTrack while the thumb moves, kThumbPosition on the release.
    void scrolled(int code, int64_t pos);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    // Moves the thumb to the point; true when the position changed.
    bool HitTest(const QPoint& point);
    QRect ThumbRect() const;

    Qt::Orientation m_orientation;
    int64_t m_nMin = 0;
    int64_t m_nMax = 100;
    int64_t m_nPos = 0;
    int64_t m_nPageSize = 0;
    int64_t m_nTimeOffset = 0;
    int m_nMarginLeft = 6, m_nMarginTop = 0, m_nMarginRight = 6, m_nMarginBottom = 0;
    TooltipMode m_tooltipMode = TooltipMode::Percent;
    bool m_bPressed = false;
    bool m_bMoved = false;
};

} // namespace qm
