#include "app/main_window_timeline.h"

#include "app/orbiscope_dlg.h"
#include "player/player_ex.h"

#include <chrono>
#include <thread>

namespace qm {

bool CMainWindowTimeline::IsOpen() const {
    return m_dlg.m_bFileOpen || m_dlg.m_bHddOpen;
}

bool CMainWindowTimeline::IsBusy() const {
    return m_dlg.m_bBusy;
}

void CMainWindowTimeline::SetBusy(bool busy) {
    m_dlg.m_bBusy = busy;
}

uint32_t CMainWindowTimeline::CurrentTime() const {
    return m_dlg.m_pPlayer->m_nCurTime;
}

bool CMainWindowTimeline::IsReverse() const {
    return m_dlg.m_pPlayer->m_bReverse != 0;
}

uint32_t CMainWindowTimeline::RecordingStart() const {
    return m_dlg.m_tStart;
}

uint32_t CMainWindowTimeline::RecordingEnd() const {
    return m_dlg.m_tEnd;
}

int64_t CMainWindowTimeline::TimeOffset() const {
    return m_dlg.m_bFileOpen ? m_dlg.m_pPlayer->Reader().m_nTimeOffset : 0;
}

void CMainWindowTimeline::Pause() {
    m_dlg.m_pPlayer->m_nPlayState = kPlayStatePaused;
}

void CMainWindowTimeline::SeekTo(uint32_t time) {
    CQMPlayerEx& p = *m_dlg.m_pPlayer;
    p.m_bReverse = 0;
    p.m_nPlayState = kPlayStatePaused;
    p.SetSpeed(1);
    m_dlg.SeekSource(time, 0);
    p.ClearStarted();
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

void CMainWindowTimeline::Play() {
    CQMPlayerEx& p = *m_dlg.m_pPlayer;
    p.m_llClockBase = 0;
    p.m_nPlayState = kPlayStatePlaying;
    m_dlg.SetStatus(QStringLiteral("Play"));
    p.RepaintChannel(-1);
}

void CMainWindowTimeline::SettleAfterSeek() {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    m_dlg.m_pPlayer->Reader().m_nPassHandshake = 0;
    m_dlg.SetSkinState(COrbiscopeDlg::kSkinPlaying);
}

} // namespace qm
