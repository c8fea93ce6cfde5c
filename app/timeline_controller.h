#pragma once
// The timeline of the main window: which part of the recording the timeline
// slider shows (four zoom levels), following the playing time every 500 ms,
// and the jumps in time from a drag of the slider or from the time search.
//
// The controller owns no widgets; it is given the slider to drive and talks
// to the player through ITimelinePlayer, so all of it runs without a window.

#include "app/timeline_player.h"

#include "app/bit_slider.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <array>
#include <cstdint>

class QWidget;

namespace qm {

class IUserPrompts;

class CTimelineController : public QObject {
    Q_OBJECT
public:
    // UpdateTimelineWindow types.
    static constexpr int kInitial = -1;
    static constexpr int kZoomIn = 0;
    static constexpr int kZoomOut = 1;
    static constexpr int kFollow = 2;

    // The main window's timer that calls OnTimelineTick().
    static constexpr int kTimerId = 4350;
    static constexpr int kTimerPeriodMs = 500;

    // Window length per zoom level; level 3 shows the whole (short) recording.
    static constexpr std::array<int64_t, 4> kLevelLength{43200, 3600, 300, 0};
    static constexpr int kLevelWhole = 3;

    // Refresh ticks skipped after a release before following again.
    static constexpr int kSkipAfterRelease = 2;

    explicit CTimelineController(ITimelinePlayer& player, QObject* parent = nullptr);

    // The slider to drive (may be null). Its press, track and release are
    // connected to the handlers below.
    void AttachSlider(CBitSlider* slider);
    CBitSlider* Slider() const { return m_pSlider; }

    // After every open: the recording's range as the main window uses it
    // (reader times) and the range offered by the time search (with the
    // recording's time offset for an archive). Sets the initial window.
    void OnRecordingOpened(uint32_t start, uint32_t end, int64_t localStart, int64_t localEnd);

    // Nothing is open any more: no range, no window, no end texts.
    void Reset();

    // type: kInitial, kZoomIn, kZoomOut or kFollow; level: the zoom level to
    // act from (the current one).
    void UpdateTimelineWindow(int type, int level);

    // Buttons "SCALE IN" and "SCALE OUT".
    void OnScaleIn() { UpdateTimelineWindow(kZoomIn, m_nZoom); }
    void OnScaleOut() { UpdateTimelineWindow(kZoomOut, m_nZoom); }

    // Timer 4350.
    void OnTimelineTick();

    // The slider's press, track and release.
    void OnSliderPress(int64_t pos);
    void OnSliderTrack(int64_t pos);
    void OnSliderRelease(int64_t pos);

    // Button "Time Search": asks for a time, starting from the playing one,
    // and jumps there. Does nothing while busy or with nothing open.
    void OnTimeSearch(QWidget* parent, IUserPrompts& prompts);
    // The jump of a time search to a picked time (which includes the
    // recording's time offset). A time no block holds lands on the next
    // recorded moment, and searchSkippedGap says so. False when nothing was
    // done.
    bool SearchTo(int64_t pickedLocal);

    // State, for the main window and tests.
    int64_t Start() const { return m_tStart; }
    int64_t End() const { return m_tEnd; }
    int64_t ViewStart() const { return m_tViewStart; }
    int64_t ViewEnd() const { return m_tViewEnd; }
    int Zoom() const { return m_nZoom; }
    int ZoomFloor() const { return m_nZoomFloor; }
    int SkipTicks() const { return m_nSkipTicks; }
    int64_t LocalStart() const { return m_tLocalStart; }
    int64_t LocalEnd() const { return m_tLocalEnd; }
    const QString& StartText() const { return m_strStartText; }
    const QString& EndText() const { return m_strEndText; }

signals:
    // The texts under the timeline's ends changed.
    void endTextsChanged(const QString& startText, const QString& endText);
    // The visible window changed.
    void windowChanged(int64_t viewStart, int64_t viewEnd);
    // A time search asked for a moment in a gap of the recording and plays
    // from the next recorded one instead (both with the time offset).
    void searchSkippedGap(int64_t askedLocal, int64_t shownLocal);

private:
    void SetWindow(int64_t viewStart, int64_t viewEnd);
    // A window of length w around t, kept inside the recording.
    void Centre(int64_t w, int64_t t);
    void MoveForward(int64_t w, int64_t t);
    void MoveReverse(int64_t w, int64_t t);
    void RefreshEndTexts();

    ITimelinePlayer& m_player;
    QPointer<CBitSlider> m_pSlider;

    int64_t m_tStart = 0;
    int64_t m_tEnd = 0;
    int64_t m_tViewStart = 0;
    int64_t m_tViewEnd = 0;
    int m_nZoom = 0;
    int m_nZoomFloor = 0;
    int m_nSkipTicks = 0;
    int64_t m_tLocalStart = 0;
    int64_t m_tLocalEnd = 0;
    QString m_strStartText;
    QString m_strEndText;
};

} // namespace qm
