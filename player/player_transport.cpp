// The transport verbs: the one place where play, pause, direction, speed and
// steps change. The main window calls them and renders the state they
// announce; the play thread reads the words they set.

#include "platform/wall_clock.h"
#include "player/play_thread.h"
#include "player/player_ex.h"
#include "player/step_source.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <array>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace qm {

namespace {

// Within this many bytes of the end, reverse play has not really begun.
constexpr uint64_t kNearEndBytes = 102400;
constexpr int kTopSpeed = 64;
// A disk is read too slowly for more than this.
constexpr int kTopDiskSpeed = 4;
// A pass is awaited in slices, so that events can be pumped between them.
constexpr int64_t kPassSliceMs = 20;
// The play thread acknowledges a pause within one of its idle loops.
constexpr auto kPauseAckLimit = std::chrono::milliseconds(2010);
// A step's frame is normally shown within a few milliseconds; at the end of
// the recording there is none to show.
constexpr auto kStepLimit = std::chrono::milliseconds(1000);

} // namespace

namespace {

std::string ReachedSuffix(const PlaybackState& state) {
    if (state.reachedSpeed <= 0) return {};
    char text[48];
    std::snprintf(text, sizeof text,
                  state.reachedSpeed < 10 ? " (reached %.1fX)" : " (reached %.0fX)",
                  state.reachedSpeed);
    return text;
}

} // namespace

std::string StatusTextOf(const PlaybackState& state) {
    switch (state.activity) {
    case Activity::kStopped:
        return "Stop";
    case Activity::kPlaying:
        return "Play";
    case Activity::kPaused:
        return "Pause";
    case Activity::kReversing:
        return "Reverse Play";
    case Activity::kFastForward:
        return "Fast Forward " + std::to_string(state.speed) + "X" + ReachedSuffix(state);
    case Activity::kFastReverse:
        return "Fast Reverse " + std::to_string(state.speed) + "X" + ReachedSuffix(state);
    case Activity::kStepForward:
        return "Step Forword";
    case Activity::kStepReverse:
        return "Step Reverse";
    case Activity::kEnded:
        return "File End.";
    }
    return {};
}

void CQMPlayerEx::Publish(Activity activity) {
    if (activity != m_state.activity || m_nSpeed != m_state.speed) {
        // A new pace: what the old one reached says nothing about it.
        m_speedSamples.clear();
        m_state.reachedSpeed = 0;
    }
    m_state.activity = activity;
    m_state.reverse = m_bReverse;
    m_state.speed = m_nSpeed;
    m_state.currentTime = m_nCurTime;
    m_state.split = m_nDisplayMode;
    m_state.shownMask = m_lists.ModeSet(m_nDisplayMode);
    m_state.selected = m_nSelCh;
    emit stateChanged(m_state);
}

void CQMPlayerEx::OnIntervalTick() {
    // Forward play that has shown the recording's last frame pauses there,
    // so that the end is seen (and a step back works from it).
    const bool forward = !m_bReverse && (m_state.activity == Activity::kPlaying ||
                                         m_state.activity == Activity::kFastForward);
    // Seen on two ticks in a row: the last frames handed to the display
    // threads have been drawn by then.
    m_nEndTicks = forward && m_bAtEnd && m_reader.IsOpen() ? m_nEndTicks + 1 : 0;
    if (m_nEndTicks >= 2) {
        m_nEndTicks = 0;
        HoldPlayThread();
        SetSpeed(1);
        Publish(Activity::kEnded);
        return;
    }
    MeasureReachedSpeed();
}

void CQMPlayerEx::MeasureReachedSpeed() {
    const bool fast =
        m_state.activity == Activity::kFastForward || m_state.activity == Activity::kFastReverse;
    if (!fast) return;
    m_speedSamples.push_back({WallClockMs(), m_llShownMs.load()});
    // Two seconds of samples at the interval timer's 500 ms.
    constexpr size_t kSamples = 5;
    if (m_speedSamples.size() > kSamples) m_speedSamples.pop_front();
    if (m_speedSamples.size() < kSamples) return;
    const auto& [wall0, media0] = m_speedSamples.front();
    const auto& [wall1, media1] = m_speedSamples.back();
    if (wall1 <= wall0 || media0 == 0 || media1 == 0) return;
    const double reached = double(std::llabs(media1 - media0)) / double(wall1 - wall0);
    const double shown = reached < 0.9 * m_state.speed ? std::max(0.1, reached) : 0.0;
    // Steadier text: only a change of a tenth (or of 1 from 10x on) is told.
    const double step = shown >= 10 ? 1.0 : 0.1;
    if (std::abs(shown - m_state.reachedSpeed) < step) return;
    m_state.reachedSpeed = shown;
    emit stateChanged(m_state);
}

void CQMPlayerEx::PublishLayout() {
    Publish(m_state.activity);
}

template <typename Change> void CQMPlayerEx::WithPlayThreadPaused(Change change) {
    const int saved = m_nPlayState.exchange(kPlayStatePaused);
    // Without a running play thread nobody would acknowledge.
    TPlayThread* play = m_pPlayThread.load();
    if (play && play->HasThread()) {
        std::unique_lock lock(m_csPauseAck);
        m_cvPauseAck.wait_for(lock, kPauseAckLimit, [&] { return m_bPauseAck; });
    }
    change();
    m_nPlayState = saved;
}

void CQMPlayerEx::SetSpeed(int speed) {
    WithPlayThreadPaused([&] { m_nSpeed = speed; });
}

void CQMPlayerEx::ResetClock() {
    WithPlayThreadPaused([&] { m_llClockBase = 0; });
}

void CQMPlayerEx::Reseek(bool reverse) {
    m_bAtEnd = false;
    if (m_reader.IsOpen()) m_reader.SeekByTime(m_nCurTime, reverse ? 1 : 0);
}

bool CQMPlayerEx::AwaitPass(bool pump, const std::function<bool()>& stop) {
    m_reader.BeginPassWait();
    // Bounded: a reader that never completes a pass must not hold the window.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        // The window stays responsive meanwhile (its commands are refused
        // while this one runs).
        if (pump) QCoreApplication::processEvents();
        if (stop && stop()) return false;
        if (m_reader.WaitForPass(kPassSliceMs)) return true;
        if (waited.elapsed() >= m_nSettleLimitMs) return true;
    }
}

void CQMPlayerEx::Close() {
    m_bActive = false;
    StopThreads();
    m_nSpeed = 1;
    m_reader.CloseFile();
    m_state.open = false;
    Publish(Activity::kStopped);
}

void CQMPlayerEx::Pause() {
    m_nPlayState = kPlayStatePaused;
    SetSpeed(1);
    Publish(Activity::kPaused);
}

CQMPlayerEx::Outcome CQMPlayerEx::PlayOrPause() {
    const int state = m_nPlayState;
    if (state != kPlayStateFast && state != kPlayStatePaused && !m_bReverse) {
        Pause();
        return Outcome::kDone;
    }
    if (state == kPlayStatePlaying && m_reader.IsOpen()) {
        // Playing in reverse.
        const uint64_t total = m_reader.m_llTotalSize;
        if (total == 0) return Outcome::kDone;
        if (m_reader.m_llReadPosition + kNearEndBytes >= total) {
            ClearStarted();
            ResetChannelRecords();
            RepaintChannel(-1);
            ResetClock();
            return Outcome::kDone;
        }
    }

    const bool wasReverse = m_bReverse;
    const bool stepped = m_bStepped;
    if (stepped) ResumeAfterSteps(false);
    m_llClockBase = 0;
    m_nPlayState = kPlayStatePlaying;
    SetSpeed(1);
    m_bReverse = false;
    if (wasReverse && !stepped) Reseek(false);
    Publish(Activity::kPlaying);

    const uint64_t total = m_reader.m_llTotalSize;
    if (total == 0) return Outcome::kDone;
    const RecordingFacts facts = Recording();
    if (m_reader.m_llReadPosition == total) {
        // Read to its end: start again from the beginning.
        m_nPlayState = kPlayStatePaused;
        m_reader.SeekByTime(0, 0);
        m_bAtEnd = false;
        ClearStarted();
        m_nCurTime = facts.rangeStart;
        m_llClockBase = 0;
        m_nPlayState = kPlayStatePlaying;
    }
    const bool settled = AwaitPass(false, [&] { return m_nCurTime == facts.rangeEnd; });
    return settled ? Outcome::kDone : Outcome::kFileEnd;
}

CQMPlayerEx::Outcome CQMPlayerEx::ReverseOrPause() {
    const int state = m_nPlayState;
    if (state != kPlayStateFast && state != kPlayStatePaused && m_bReverse) {
        Pause();
        return Outcome::kDone;
    }
    const bool stepped = m_bStepped;
    const bool wasReverse = m_bReverse && !stepped;
    if (stepped) ResumeAfterSteps(true);
    m_bReverse = true;
    m_nPlayState = kPlayStatePlaying;
    SetSpeed(1);
    m_llRefNow = 0;
    ResetClock();
    if (!wasReverse && !stepped) Reseek(true);
    Publish(Activity::kReversing);
    if (!wasReverse) AwaitPass(true);
    return Outcome::kDone;
}

CQMPlayerEx::Outcome CQMPlayerEx::Faster() {
    const int state = m_nPlayState;
    if (state == kPlayStateStepping || state == kPlayStatePaused) {
        StepForward();
        return Outcome::kDone;
    }
    const bool leftReverse = m_bReverse;
    m_bReverse = false;
    if (m_nSourceKind == kSourceDisk && !leftReverse && m_nSpeed * 2 > kTopDiskSpeed)
        return Outcome::kIgnored;
    if (m_nSpeed != kTopSpeed || leftReverse) {
        SetSpeed(leftReverse ? 2 : m_nSpeed * 2);
        m_llRefNow = 0;
        ResetClock();
    }
    m_nPlayState = kPlayStateFast;
    if (leftReverse) Reseek(false);
    Publish(Activity::kFastForward);
    if (leftReverse) AwaitPass(true);
    return Outcome::kDone;
}

CQMPlayerEx::Outcome CQMPlayerEx::Slower() {
    const int state = m_nPlayState;
    if (state == kPlayStateStepping || state == kPlayStatePaused) {
        StepReverse();
        return Outcome::kDone;
    }
    const bool wasReverse = m_bReverse;
    m_bReverse = true;
    if (m_nSourceKind == kSourceDisk && wasReverse && m_nSpeed * 2 > kTopDiskSpeed)
        return Outcome::kIgnored;
    if (m_nSpeed != kTopSpeed) {
        SetSpeed(m_nSpeed * 2);
        m_llRefNow = 0;
        ResetClock();
    }
    m_nPlayState = kPlayStateFast;
    if (!wasReverse) {
        SetSpeed(2);
        Reseek(true);
    }
    Publish(Activity::kFastReverse);
    if (!wasReverse) AwaitPass(true);
    return Outcome::kDone;
}

void CQMPlayerEx::StartStep(Activity activity) {
    SetSpeed(1);
    m_llRefNow = 0;
    ResetClock();
    m_nPlayState = kPlayStateStepping;
    Publish(activity);
}

void CQMPlayerEx::AwaitStep() {
    // The next command finds the step done: the play thread has shown its
    // frame and holds again (or there was no frame to show).
    TPlayThread* play = m_pPlayThread.load();
    if (!play || !play->HasThread()) return;
    std::unique_lock lock(m_csPauseAck);
    m_cvPauseAck.wait_for(lock, kStepLimit,
                          [&] { return m_nPlayState != kPlayStateStepping && m_bPauseAck; });
}

void CQMPlayerEx::HoldPlayThread() {
    m_nPlayState = kPlayStatePaused;
    TPlayThread* play = m_pPlayThread.load();
    if (!play || !play->HasThread()) return;
    std::unique_lock lock(m_csPauseAck);
    m_cvPauseAck.wait_for(lock, kPauseAckLimit, [&] { return m_bPauseAck; });
}

void CQMPlayerEx::ResumeAfterSteps(bool reverse) {
    // The reader still stands where playback was held: it goes to the
    // moment the steps reached, and every camera starts again at a key frame.
    m_bStepped = false;
    m_bAtEnd = false;
    HoldPlayThread();
    m_bStepHold = false;
    ClearStarted();
    if (m_reader.IsOpen()) m_reader.SeekByTime(m_nCurTime, reverse ? 1 : 0);
}

bool CQMPlayerEx::StepExact(int direction) {
    if (!m_pSteps || !m_reader.IsOpen()) return false;
    HoldPlayThread();
    m_bStepHold = true;
    SetSpeed(1);

    const RecordingFacts facts = Recording();
    const int64_t moment = m_llShownMs ? m_llShownMs.load() : int64_t(facts.rangeStart) * 1000 - 1;
    const uint32_t shown = m_nDisplayedMask & facts.channelMask;
    // Where each displayed camera stands: its picture's time, or the moment
    // for a camera that has shown nothing yet.
    std::array<int64_t, kMaxChannels> at{};
    std::array<bool, kMaxChannels> showing{};
    for (int c = 0; c < kMaxChannels; ++c) {
        if (!(shown >> c & 1u)) continue;
        std::lock_guard picture(m_csPicture[c]);
        const uint32_t seconds = m_shown[c].time, micro = m_shown[c].microseconds;
        showing[c] = seconds != 0;
        at[c] = showing[c] ? int64_t(seconds) * 1000 + micro / 1000 : moment;
    }

    // The next moment: the earliest next frame (the latest previous one
    // going back) among the displayed cameras.
    std::optional<int64_t> target;
    if (direction == 0) target = moment;
    for (int c = 0; c < kMaxChannels && direction != 0; ++c) {
        if (!(shown >> c & 1u)) continue;
        const auto t = direction > 0 ? m_pSteps->NextTime(c, at[c]) : m_pSteps->PrevTime(c, at[c]);
        if (t && (!target || (direction > 0 ? *t < *target : *t > *target))) target = t;
    }
    if (direction != 0) m_bReverse = direction < 0;
    m_nPlayState = kPlayStatePaused;
    if (!target) {
        // At the end (or the start) of the recording: nothing moves.
        Publish(direction > 0 ? Activity::kStepForward : Activity::kStepReverse);
        return true;
    }

    // Every camera shows its last frame at or before that moment; cameras
    // recorded a few milliseconds apart count as the same moment.
    constexpr int64_t kSameMomentMs = 20;
    for (int c = 0; c < kMaxChannels; ++c) {
        if (!(shown >> c & 1u)) continue;
        const auto t = m_pSteps->AtOrBefore(c, *target + kSameMomentMs);
        if (!t || (showing[c] && *t == at[c])) continue;
        std::lock_guard picture(m_csPicture[c]);
        PictureBuffer& buffer = m_picture[c];
        if (!buffer.IsAllocated() && !buffer.Allocate()) continue;
        FrameRecord record{};
        if (!m_pSteps->Picture(c, *t, record, buffer.Data())) continue;
        m_nPictureHalvings[size_t(c)] = 0;
        std::memcpy(record.info, m_shown[c].info, sizeof record.info); // the camera's title
        m_shown[c] = record;
        DrawLocked(c, record, buffer.Data(), FrameFileTime(record));
    }

    m_llShownMs = *target;
    // The clock follows the selected camera's picture.
    const int selected = m_nSelCh;
    uint32_t clock = uint32_t(*target / 1000);
    if (selected >= 0 && selected < kMaxChannels && (shown >> selected & 1u)) {
        std::lock_guard picture(m_csPicture[selected]);
        if (m_shown[selected].time) clock = m_shown[selected].time;
    }
    m_nCurTime = clock;
    m_bStepped = true;
    if (direction != 0) Publish(direction > 0 ? Activity::kStepForward : Activity::kStepReverse);
    return true;
}

void CQMPlayerEx::StepForward() {
    if (StepExact(1)) return;
    const bool turn = m_bReverse;
    if (turn) {
        m_bReverse = false;
        Reseek(false);
    }
    StartStep(Activity::kStepForward);
    if (turn) AwaitPass(false);
    AwaitStep();
}

void CQMPlayerEx::StepReverse() {
    if (StepExact(-1)) return;
    const bool turn = !m_bReverse;
    if (turn) {
        m_bReverse = true;
        Reseek(true);
    }
    StartStep(Activity::kStepReverse);
    if (turn) AwaitPass(false);
    AwaitStep();
}

void CQMPlayerEx::HoldForSeek() {
    m_nPlayState = kPlayStatePaused;
}

void CQMPlayerEx::SeekTo(uint32_t time, const std::function<void()>& whileHeld) {
    m_bAtEnd = false;
    m_bStepped = false;
    m_bStepHold = false;
    m_bReverse = false;
    m_nPlayState = kPlayStatePaused;
    SetSpeed(1);
    if (m_reader.IsOpen()) m_reader.SeekByTime(time, 0);
    ClearStarted();
    if (whileHeld) {
        // No moment is shown yet, so a camera coming into view is not drawn
        // at the old place first.
        m_llShownMs = 0;
        whileHeld();
    }
    // The new place's blocks are in before the clock starts again.
    AwaitPass(false);
    m_llClockBase = 0;
    m_nPlayState = kPlayStatePlaying;
    Publish(Activity::kPlaying);
    RepaintChannel(-1);
}

} // namespace qm
