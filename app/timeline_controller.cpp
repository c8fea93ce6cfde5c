#include "app/timeline_controller.h"

#include "app/bit_slider.h"
#include "app/time_search_dlg.h"
#include "app/timeline_text.h"
#include "app/user_prompts.h"

#include <QGuiApplication>
#include <algorithm>
#include <climits>
#include <cstdint>
#include <vector>

namespace qm {

namespace {

// The wait cursor for the length of a jump, when there is a screen to show it on.
class WaitCursor {
public:
    WaitCursor() : m_bSet(qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
        if (m_bSet) QGuiApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~WaitCursor() {
        if (m_bSet) QGuiApplication::restoreOverrideCursor();
    }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;

private:
    bool m_bSet;
};

} // namespace

CTimelineController::CTimelineController(ITimelinePlayer& player, QObject* parent)
    : QObject(parent), m_player(player) {}

void CTimelineController::AttachSlider(CBitSlider* slider) {
    if (m_pSlider) disconnect(m_pSlider, nullptr, this, nullptr);
    m_pSlider = slider;
    if (!slider) return;
    connect(slider, &CBitSlider::pressed, this, &CTimelineController::OnSliderPress);
    connect(slider, &CBitSlider::tracked, this, &CTimelineController::OnSliderTrack);
    connect(slider, &CBitSlider::released, this, &CTimelineController::OnSliderRelease);
}

void CTimelineController::OnRecordingOpened(uint32_t start, uint32_t end, int64_t localStart,
                                            int64_t localEnd) {
    m_tStart = start;
    m_tEnd = end;
    m_tLocalStart = localStart;
    m_tLocalEnd = localEnd;
    m_nSkipTicks = 0;
    if (m_pSlider) m_pSlider->SetTimeOffset(m_player.TimeOffset());
    UpdateTimelineWindow(kInitial, 0);
}

void CTimelineController::Reset() {
    m_tStart = m_tEnd = 0;
    m_tLocalStart = m_tLocalEnd = 0;
    m_nZoom = m_nZoomFloor = 0;
    m_nSkipTicks = 0;
    m_strStartText.clear();
    m_strEndText.clear();
    SetWindow(0, 0);
}

void CTimelineController::SetWindow(int64_t viewStart, int64_t viewEnd) {
    m_tViewStart = viewStart;
    m_tViewEnd = viewEnd;
    if (m_pSlider) m_pSlider->SetRange(viewStart, viewEnd);
    emit windowChanged(viewStart, viewEnd);
}

void CTimelineController::Centre(int64_t w, int64_t t) {
    if (t - w / 2 > m_tStart) {
        if (t + w / 2 < m_tEnd)
            SetWindow(t - w / 2, t + w / 2);
        else
            SetWindow(m_tEnd - w, m_tEnd);
    } else {
        SetWindow(m_tStart, m_tStart + w);
    }
}

void CTimelineController::MoveForward(int64_t w, int64_t t) {
    if (t > m_tViewStart && m_tViewEnd == m_tEnd) return;
    const int64_t middle = (m_tViewStart + m_tViewEnd) / 2;
    if (middle + w < m_tEnd)
        SetWindow(middle, middle + w);
    else if (t > m_tViewStart)
        SetWindow(m_tEnd - w, m_tEnd);
    else if (t + w / 2 <= m_tStart + w)
        SetWindow(m_tStart, m_tStart + w);
    else
        SetWindow(t - w / 2, t + w / 2);
}

void CTimelineController::MoveReverse(int64_t w, int64_t t) {
    if (t < m_tViewEnd && m_tViewStart == m_tStart) return;
    const int64_t middle = (m_tViewStart + m_tViewEnd) / 2;
    if (middle - w > m_tStart)
        SetWindow(middle - w, middle);
    else if (t < m_tViewEnd)
        SetWindow(m_tStart, m_tStart + w);
    else if (t - w / 2 >= m_tEnd - w)
        SetWindow(m_tEnd - w, m_tEnd);
    else
        SetWindow(t - w / 2, t + w / 2);
}

void CTimelineController::UpdateTimelineWindow(int type, int level) {
    const int64_t t = m_player.CurrentTime();
    switch (type) {
    case kInitial: {
        const int64_t length = m_tEnd - m_tStart;
        int initial = kLevelWhole;
        for (int i = 0; i < kLevelWhole; ++i) {
            if (length >= kLevelLength[i]) {
                initial = i;
                break;
            }
        }
        if (initial == kLevelWhole)
            SetWindow(m_tStart, m_tEnd);
        else
            SetWindow(m_tStart, m_tStart + kLevelLength[initial]);
        m_nZoom = m_nZoomFloor = initial;
        break;
    }
    case kZoomIn:
        if (level == 0 || level == 1) {
            Centre(kLevelLength[level + 1], t);
            m_nZoom = level + 1;
        }
        break;
    case kZoomOut:
        if (level == 1 || level == 2) {
            // The floor is the level the recording opened at: its window is
            // the widest that the recording fills.
            if (level - 1 < m_nZoomFloor) return;
            const int64_t w = kLevelLength[level - 1];
            if (!(t - w / 2 > m_tStart) && !(m_tStart + w < m_tEnd))
                SetWindow(m_tStart, m_tEnd);
            else
                Centre(w, t);
            m_nZoom = level - 1;
        }
        break;
    case kFollow:
        if (level >= 0 && level < kLevelWhole) {
            if (m_player.IsReverse())
                MoveReverse(kLevelLength[level], t);
            else
                MoveForward(kLevelLength[level], t);
        }
        break;
    default:
        return;
    }
    RefreshEndTexts();
}

void CTimelineController::RefreshEndTexts() {
    const int64_t offset = m_player.TimeOffset();
    m_strStartText = LocalTimeOfDayText(m_tViewStart + offset);
    m_strEndText = LocalTimeOfDayText(m_tViewEnd + offset);
    emit endTextsChanged(m_strStartText, m_strEndText);
}

void CTimelineController::OnTimelineTick() {
    if (m_nSkipTicks != 0) {
        // Held at a negative count while the thumb is held: only the release
        // brings it back to a positive count.
        if (m_nSkipTicks > INT_MIN) --m_nSkipTicks;
        return;
    }
    const int64_t span = static_cast<int64_t>(m_player.RecordingEnd()) - m_player.RecordingStart();
    const int64_t t = m_player.CurrentTime();
    if (span == 0 || t == 0) return;
    // Forward play leaves the window at its end, reverse play at its start.
    const bool reverse = m_player.IsReverse();
    if (reverse ? t <= m_tViewStart : t >= m_tViewEnd) UpdateTimelineWindow(kFollow, m_nZoom);
    if (m_pSlider) m_pSlider->SetPos(t);
}

void CTimelineController::OnSliderPress(int64_t) {
    if (!m_player.IsOpen()) return;
    m_player.HoldForSeek();
    m_nSkipTicks = -1;
}

void CTimelineController::OnSliderTrack(int64_t) {
    if (m_pSlider) m_pSlider->RefreshTooltip();
}

void CTimelineController::OnSliderRelease(int64_t pos) {
    if (m_player.IsBusy()) return;
    m_player.SetBusy(true);
    if (m_player.IsOpen()) {
        WaitCursor wait;
        m_player.SeekAndPlay(static_cast<uint32_t>(std::clamp<int64_t>(pos, 0, UINT32_MAX)));
        m_nSkipTicks = kSkipAfterRelease;
        if (m_pSlider) m_pSlider->RefreshTooltip();
    }
    m_player.SetBusy(false);
}

void CTimelineController::OnTimeSearch(QWidget* parent, IUserPrompts& prompts) {
    if (m_player.IsBusy() || !m_player.IsOpen()) return;
    const uint32_t now = m_player.CurrentTime();
    const int64_t initial = now != 0 ? now + m_player.TimeOffset() : m_tLocalStart;
    CTimeSearchDlg dlg(m_tLocalStart, m_tLocalEnd, initial, prompts, parent);
    if (dlg.exec() != QDialog::Accepted) return;
    SearchTo(dlg.GetTime());
}

bool CTimelineController::SearchTo(int64_t pickedLocal) {
    if (m_player.IsBusy() || !m_player.IsOpen()) return false;
    // The picked time carries the recording's time offset; the reader's
    // times do not.
    const int64_t offset = m_player.TimeOffset();
    const auto asked =
        static_cast<uint32_t>(std::clamp<int64_t>(pickedLocal - offset, 0, UINT32_MAX));
    // The reader finds no block for a time between two blocks and would show
    // nothing; the user wants what was recorded next.
    const int64_t target = NextRecordedTime(m_player.RecordedSpans(), asked).value_or(asked);
    m_player.SetBusy(true);
    {
        WaitCursor wait;
        m_player.SeekAndPlay(static_cast<uint32_t>(target));
    }
    // Show the window the search landed in rather than letting the thumb wait
    // at an end of the old one until playback reaches it, and give the player
    // time to reach the new place before the thumb follows its time again.
    if ((target < m_tViewStart || target > m_tViewEnd) && m_nZoom < kLevelWhole) {
        Centre(kLevelLength[m_nZoom], target);
        RefreshEndTexts();
    }
    if (m_pSlider) m_pSlider->SetPos(target);
    m_nSkipTicks = kSkipAfterRelease;
    m_player.SetBusy(false);
    if (target != asked) emit searchSkippedGap(int64_t(asked) + offset, target + offset);
    return true;
}

} // namespace qm
