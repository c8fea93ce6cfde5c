// The main window's playback buttons: each command checks the window's
// guards, changes the player's state, re-seeks the reader when the direction
// changes, waits for it to settle and shows the new state.

#include "app/orbiscope_dlg.h"
#include "app/output_consent.h"
#include "app/recording_texts.h"
#include "app/skin.h"
#include "player/player_ex.h"

#include <QApplication>
#include <QElapsedTimer>

#include <chrono>
#include <thread>

namespace qm {

namespace {

void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

constexpr int kSettleStepMs = 50;
constexpr int kSettleDelayMs = 200;
constexpr int kSettleDelayAfterFastForwardMs = 500;
// Within this many bytes of the end, reverse play has not really begun.
constexpr uint64_t kNearEndBytes = 102400;

} // namespace

// Sets the busy flag and the wait cursor for a command and clears both on
// every way out; Release() clears them early (before a message box).
class COrbiscopeDlg::BusyScope {
public:
    explicit BusyScope(COrbiscopeDlg& dlg) : m_dlg(dlg) {
        m_dlg.m_bBusy = true;
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    ~BusyScope() { Release(); }
    void Release() {
        if (m_bReleased) return;
        m_bReleased = true;
        QApplication::restoreOverrideCursor();
        m_dlg.m_bBusy = false;
    }

private:
    COrbiscopeDlg& m_dlg;
    bool m_bReleased = false;
};

void COrbiscopeDlg::SetSkinState(int state) {
    m_nSkinState = state;
    CSkinButton* play = Button(cmd::kPlay);
    CSkinButton* reverse = Button(cmd::kReverse);
    CSkinButton* fastForward = Button(cmd::kFastForward);
    CSkinButton* fastReverse = Button(cmd::kFastReverse);
    play->SetFace(state == kSkinPlaying ? ButtonFace::Pause : ButtonFace::Play);
    play->setToolTip(state == kSkinPlaying ? QStringLiteral("Pause") : QStringLiteral("Play"));
    reverse->SetFace(state == kSkinReversing ? ButtonFace::Pause : ButtonFace::Reverse);
    const bool paused = state == kSkinPaused;
    fastReverse->SetFace(paused ? ButtonFace::StepReverse : ButtonFace::FastReverse);
    fastReverse->setToolTip(paused ? QStringLiteral("Step Reverse")
                                   : QStringLiteral("Fast Reverse"));
    fastForward->SetFace(paused ? ButtonFace::StepForward : ButtonFace::FastForward);
    fastForward->setToolTip(paused ? QStringLiteral("Step Forward")
                                   : QStringLiteral("Fast Forward"));
}

void COrbiscopeDlg::ReSeek(int direction) {
    SeekSource(m_pPlayer->m_nCurTime, direction);
}

template <typename StopWhen> bool COrbiscopeDlg::Settle(bool pump, int delayMs, StopWhen stop) {
    SleepMs(delayMs);
    CQMParseIndex& reader = m_pPlayer->Reader();
    reader.m_nPassHandshake = 0;
    // Bounded: a reader that never completes a pass must not hold the window.
    QElapsedTimer waited;
    waited.start();
    while (reader.m_bSeeking == 1 || reader.m_nPassHandshake != -1) {
        if (stop()) return false;
        if (waited.elapsed() >= m_nSettleLimitMs) break;
        SleepMs(kSettleStepMs);
        if (pump) QCoreApplication::processEvents();
    }
    return true;
}

bool COrbiscopeDlg::Settle(bool pump, int delayMs) {
    return Settle(pump, delayMs, [] { return false; });
}

void COrbiscopeDlg::Pause() {
    if (m_bBusy || m_bExporting) return;
    BusyScope busy(*this);
    m_pPlayer->m_nPlayState = kPlayStatePaused;
    m_pPlayer->SetSpeed(1);
    SetStatus(QStringLiteral("Pause"));
}

void COrbiscopeDlg::OnPlay() {
    if (m_bBusy || m_bExporting) return;
    CQMPlayerEx& p = *m_pPlayer;
    const int state = p.m_nPlayState;
    const bool open = m_bFileOpen || m_bHddOpen;
    // Play pauses what plays forward; with nothing open there is nothing to
    // pause (the player's state is left from the last recording) and Play opens.
    if (open && state != kPlayStateFast && state != kPlayStatePaused && p.m_bReverse == 0) {
        SetSkinState(kSkinPaused);
        Pause();
        return;
    }
    BusyScope busy(*this);
    if (!open) {
        if (m_strFilePath.isEmpty()) {
            busy.Release();
            m_pPrompts->Notice(this, QStringLiteral("Please open a AVR file first."));
            return;
        }
        if (OpenAvrFile() != 1) {
            CloseRecording();
            busy.Release();
            m_pPrompts->Notice(this, QStringLiteral("Open file error."));
            m_strFilePath.clear();
        }
        return;
    }

    SetSkinState(kSkinPlaying);
    CQMParseIndex& reader = p.Reader();
    if (p.m_nPlayState == kPlayStatePlaying) {
        // Playing in reverse.
        const uint64_t total = reader.m_llTotalSize;
        if (total == 0) return;
        if (reader.m_llReadPosition + kNearEndBytes >= total) {
            p.ClearStarted();
            p.ResetChannelRecords();
            p.RepaintChannel(-1);
            p.ResetClock();
            return;
        }
    }

    const bool wasReverse = p.m_bReverse != 0;
    p.m_llClockBase = 0;
    p.m_nPlayState = kPlayStatePlaying;
    p.SetSpeed(1);
    p.m_bReverse = 0;
    if (wasReverse) ReSeek(0);
    SetStatus(QStringLiteral("Play"));

    const uint64_t total = reader.m_llTotalSize;
    if (total == 0) return;
    if (reader.m_llReadPosition == total) {
        // Read to its end: start again from the beginning.
        p.m_nPlayState = kPlayStatePaused;
        reader.SeekByTime(0, 0);
        p.ClearStarted();
        SleepMs(10);
        p.m_llClockBase = 0;
        p.m_nPlayState = kPlayStatePlaying;
    }
    const bool settled = Settle(false, kSettleDelayMs, [&] { return p.m_nCurTime == m_tEnd; });
    if (!settled) {
        busy.Release();
        m_pPrompts->Notice(this, QStringLiteral("File End."));
    }
}

void COrbiscopeDlg::OnReverse() {
    if (m_bBusy || m_bExporting) return;
    CQMPlayerEx& p = *m_pPlayer;
    const int state = p.m_nPlayState;
    if (state != kPlayStateFast && state != kPlayStatePaused && p.m_bReverse == 1) {
        Pause();
        SetSkinState(kSkinPaused);
        return;
    }
    BusyScope busy(*this);
    const bool wasReverse = p.m_bReverse != 0;
    p.m_bReverse = 1;
    p.m_nPlayState = kPlayStatePlaying;
    p.SetSpeed(1);
    p.m_llRefNow = 0;
    p.ResetClock();
    if (!wasReverse) ReSeek(1);
    SetStatus(QStringLiteral("Reverse Play"));
    if (!wasReverse) Settle(true, kSettleDelayMs);
    SetSkinState(kSkinReversing);
}

void COrbiscopeDlg::OnFastForward() {
    if (m_bBusy || m_bExporting) return;
    CQMPlayerEx& p = *m_pPlayer;
    const int state = p.m_nPlayState;
    if (state == kPlayStateStepping || state == kPlayStatePaused) {
        OnStepForward();
        return;
    }
    BusyScope busy(*this);
    const bool leftReverse = p.m_bReverse == 1;
    p.m_bReverse = 0;
    // A disk plays at most four times faster.
    if (m_bHddOpen && !leftReverse && p.m_nSpeed >= 3) return;
    if (p.m_nSpeed != 64 || leftReverse) {
        p.SetSpeed(leftReverse ? 2 : p.m_nSpeed * 2);
        p.m_llRefNow = 0;
        p.ResetClock();
    }
    p.m_nPlayState = kPlayStateFast;
    if (leftReverse) ReSeek(0);
    SetStatus(QString::asprintf("Fast Forward %dX", p.m_nSpeed.load()));
    if (leftReverse) Settle(true, kSettleDelayAfterFastForwardMs);
    SetSkinState(kSkinFast);
}

void COrbiscopeDlg::OnFastReverse() {
    if (m_bBusy || m_bExporting) return;
    CQMPlayerEx& p = *m_pPlayer;
    const int state = p.m_nPlayState;
    if (state == kPlayStateStepping || state == kPlayStatePaused) {
        OnStepReverse();
        return;
    }
    BusyScope busy(*this);
    const bool wasReverse = p.m_bReverse != 0;
    p.m_bReverse = 1;
    if (m_bHddOpen && wasReverse && p.m_nSpeed > 2) return;
    if (p.m_nSpeed != 64) {
        p.SetSpeed(p.m_nSpeed * 2);
        p.m_llRefNow = 0;
        p.ResetClock();
    }
    p.m_nPlayState = kPlayStateFast;
    if (!wasReverse) {
        p.SetSpeed(2);
        ReSeek(1);
    }
    SetStatus(QString::asprintf("Fast Reverse %dX", p.m_nSpeed.load()));
    if (!wasReverse) Settle(true, kSettleDelayMs);
    SetSkinState(kSkinFast);
}

void COrbiscopeDlg::OnStepForward() {
    if (m_bBusy || m_bExporting) return;
    BusyScope busy(*this);
    CQMPlayerEx& p = *m_pPlayer;
    const bool turn = p.m_bReverse == 1;
    if (turn) {
        p.m_bReverse = 0;
        ReSeek(0);
    }
    // Speed and clock settle while the play thread idles; entering the step
    // state last lets exactly one frame through.
    p.SetSpeed(1);
    p.m_llRefNow = 0;
    p.ResetClock();
    p.m_nPlayState = kPlayStateStepping;
    SetStatus(QStringLiteral("Step Forword"));
    if (turn) Settle(false, kSettleDelayMs);
}

void COrbiscopeDlg::OnStepReverse() {
    if (m_bBusy || m_bExporting) return;
    BusyScope busy(*this);
    CQMPlayerEx& p = *m_pPlayer;
    const bool turn = p.m_bReverse == 0;
    if (turn) {
        p.m_bReverse = 1;
        ReSeek(1);
    }
    p.SetSpeed(1);
    p.m_llRefNow = 0;
    p.ResetClock();
    p.m_nPlayState = kPlayStateStepping;
    SetStatus(QStringLiteral("Step Reverse"));
    if (turn) Settle(false, kSettleDelayMs);
}

void COrbiscopeDlg::OnSaveJpg() {
    if (m_bExporting) return;
    if (!m_bFileOpen && !m_bHddOpen) {
        m_pPrompts->Notice(this, QStringLiteral("Please open a ARY file first."));
        return;
    }
    if (m_pPlayer->m_nPlayState != kPlayStatePaused) {
        m_pPrompts->Notice(this, QStringLiteral("Please pause video first."));
        return;
    }
    const QString name = ProposedSnapshotName(m_pPlayer->m_nDisplayMode, m_pPlayer->Lists().single);
    const QString path = m_pPrompts->SaveFileName(
        this, name,
        QStringLiteral("JPG(*.jpg)|*.jpg|BMP(*.bmp)|*.bmp|PNG(*.png)|*.png|All Files (*.*)|*.*||"),
        QStringLiteral("jpg"));
    if (path.isEmpty()) return;
    OutputFiles outputs;
    if (!AgreeOutputName(*m_pPrompts, this, OpenSourcePath(), path, outputs)) return;
    std::string error;
    if (m_pPlayer->Snapshot(outputs, path, &error)) outputs.Commit(error);
}

} // namespace qm
