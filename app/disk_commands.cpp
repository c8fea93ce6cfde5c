// DVR disks, their devices and their images in the main window: the Load
// menu's disk entries, the disk image item, and what opening a disk shows.

#include "app/bit_slider.h"
#include "app/orbiscope_dlg.h"
#include "app/recording_texts.h"
#include "app/skin.h"
#include "app/timeline_controller.h"
#include "platform/block_devices.h"
#include "platform/diagnostics.h"
#include "player/player_ex.h"

#include <QApplication>
#include <QFile>

#include <ctime>

namespace qm {

void COrbiscopeDlg::OnDiskCommand(uint32_t command) {
    // One menu choice opens the disk once, however often it is routed.
    if (command < cmd::kFirstDisk || command > cmd::kLastDisk || command == m_nLastDiskCmd) return;
    m_nLastDiskCmd = command;
    OpenHdd(int(command - cmd::kDiskBase));
}

void COrbiscopeDlg::OpenHdd(int entry) {
    if (entry < 1 || size_t(entry) > m_Disks.size()) return;
    const int drive = m_Disks[size_t(entry) - 1].drive;
    m_pPlayer->Close();
    if (m_pPlayer->LoadDisk(drive) != 1) {
        qmLog("OpenHdd drive %d: %s\n", drive, m_pPlayer->Reader().OpenError().c_str());
        CloseRecording();
        m_bHddOpen = false;
        m_pPrompts->Notice(this, QStringLiteral("NO video in Hard Drive"));
        return;
    }
    const auto physical = PhysicalDriveAt(drive);
    m_strDiskPath = physical ? QString::fromStdString(physical->path) : QString();
    AfterDiskOpened();
}

void COrbiscopeDlg::OnOpenDiskImage() {
    if (m_bBusy || m_bExporting) return;
    const QString path = m_pPrompts->OpenFileName(
        this, QStringLiteral("DVR Disk Images (*.img *.dd *.raw *.bin)|*.img;*.dd;*.raw;*.bin|"
                             "All Files (*.*)|*.*|"));
    if (!path.isEmpty()) OpenDiskSource(path);
}

bool COrbiscopeDlg::OpenDiskSource(const QString& path) {
    m_pPlayer->Close();
    if (m_pPlayer->LoadDiskPath(QFile::encodeName(path).toStdString()) != 1) {
        qmLog("Open disk %s: %s\n", qPrintable(path), m_pPlayer->Reader().OpenError().c_str());
        CloseRecording();
        m_bHddOpen = false;
        m_pPrompts->Notice(this, QStringLiteral("NO video in Hard Drive"));
        return false;
    }
    m_strDiskPath = path;
    AfterDiskOpened();
    return true;
}

void COrbiscopeDlg::AfterDiskOpened() {
    qmLog(" _timezone=%ld \n", long(timezone));
    const CQMParseIndex& reader = m_pPlayer->Reader();
    // A disk's times are shown without an offset.
    m_tLocalStart = reader.m_nStartTime;
    m_tLocalEnd = reader.m_nEndTime;
    SetInfoText(m_tLocalStart, m_tLocalEnd);
    m_tStart = reader.m_nStartTime;
    m_tEnd = reader.m_nEndTime;
    const uint32_t mask = reader.m_nChannelMask;
    m_pPlayer->SetChannelMask(mask);
    for (int c = 0; c < 32; ++c)
        m_cameraButtons[c]->setEnabled((mask >> c) & 1u);
    m_pTimeline->SetPos(0);
    m_pTimeline->update();
    m_pTimelineCtl->OnRecordingOpened(m_tStart, m_tEnd, m_tLocalStart, m_tLocalEnd);

    m_pPlayer->UpdateLayout();
    m_pPlayer->show();
    SetTimer(kTimerTimeline, kTimelinePeriodMs);
    SetTimer(kTimerClock, kClockPeriodMs);
    m_bHddOpen = true;
    m_bFileOpen = false;
    SyncCameraButtons();
    m_pPlayer->RepaintChannel(-1);

    for (int id : {cmd::kTimeSearch, cmd::kFastReverse, cmd::kFastForward, cmd::kReverse,
                   cmd::kPlay, cmd::kTimeline, cmd::kStop, cmd::kStepForward, cmd::kStepReverse})
        EnableControl(id, true);
    SetSkinState(kSkinPlaying);
    for (int id = cmd::kDisplayModeMenu; id <= cmd::kScaleOut; ++id)
        EnableControl(id, true);
}

} // namespace qm
