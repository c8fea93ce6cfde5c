// DVR disks, their devices and their images in the main window: the Load
// menu's disk entries and its disk image item.

#include "app/orbiscope_dlg.h"
#include "platform/block_devices.h"
#include "platform/diagnostics.h"
#include "player/player_ex.h"

#include <QFile>

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
    if (!m_pPlayer->OpenDisk(drive)) {
        qmLog("OpenHdd drive %d: %s\n", drive, m_pPlayer->OpenError().c_str());
        ForgetRecording();
        m_pPrompts->Notice(this, QStringLiteral("NO video in Hard Drive"));
        return;
    }
    const auto physical = PhysicalDriveAt(drive);
    m_strDiskPath = physical ? QString::fromStdString(physical->path) : QString();
    NoteDiskIndex();
    AfterOpened(true);
}

void COrbiscopeDlg::OnOpenDiskImage() {
    if (!CanCommand()) return;
    const QString path = m_pPrompts->OpenFileName(
        this, QStringLiteral("DVR Disk Images (*.img *.dd *.raw *.bin)|*.img;*.dd;*.raw;*.bin|"
                             "All Files (*.*)|*.*|"));
    if (!path.isEmpty()) OpenDiskSource(path);
}

void COrbiscopeDlg::NoteDiskIndex() {
    m_strInfoNote.clear();
    const CQMParseIndex& reader = m_pPlayer->Reader();
    if (reader.m_bRecovered)
        NoteRecoveredIndex(reader.m_nRecoveredBlocks,
                           QStringLiteral("The disk's block table is damaged or empty.\n%1 "
                                          "blocks were found by scanning the disk; they are "
                                          "played in the order of their times."));
}

bool COrbiscopeDlg::OpenDiskSource(const QString& path) {
    m_pPlayer->Close();
    if (!m_pPlayer->OpenDiskPath(QFile::encodeName(path).toStdString())) {
        qmLog("Open disk %s: %s\n", qPrintable(path), m_pPlayer->OpenError().c_str());
        ForgetRecording();
        m_pPrompts->Notice(this, QStringLiteral("NO video in Hard Drive"));
        return false;
    }
    m_strDiskPath = path;
    NoteDiskIndex();
    AfterOpened(true);
    return true;
}

} // namespace qm
