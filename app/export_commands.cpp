// Save as AVI from the main window: the button's guards and the dialog, and
// the export run the dialog asks for, which runs the job on a worker thread
// while this window keeps dispatching events.

#include "app/orbiscope_dlg.h"
#include "app/output_consent.h"
#include "app/skin.h"
#include "codec/audio_decoder_ctrl.h"
#include "export/export_audio.h"
#include "export/save_avi_dlg.h"
#include "export/save_avi_job.h"
#include "player/player_ex.h"
#include "storage/formats.h"

#include <QApplication>
#include <QFile>

#include <chrono>
#include <ctime>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

bool CanOpenForReading(const QString& path) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    ::close(fd);
    return true;
}

} // namespace

CQMSaveAviDlg& COrbiscopeDlg::SaveAviDialog() {
    if (!m_pSaveAviDlg) {
        m_pSaveAviDlg = new CQMSaveAviDlg(
            [this](QWidget* parent, const QString& text) { m_pPrompts->Notice(parent, text); },
            this);
        connect(m_pSaveAviDlg, &CQMSaveAviDlg::saveAviRequested, this,
                [this](int channel) { OnSaveAviRun(channel); });
    }
    return *m_pSaveAviDlg;
}

void COrbiscopeDlg::OnSaveAvi() {
    if (m_bBusy || m_bExporting) return;
    if (!m_bFileOpen && !m_bHddOpen && m_strFilePath.isEmpty()) {
        m_pPrompts->Notice(this, QStringLiteral("Please open a AVR file first."));
        return;
    }
    Pause();
    SetSkinState(kSkinPaused);
    m_bBusy = true;

    CQMSaveAviDlg& dlg = SaveAviDialog();
    if (!m_bHddOpen) {
        std::vector<uint8_t> tail;
        std::optional<ArchiveHeader> header;
        if (ReadArchiveTail(m_strFilePath, tail))
            header = parseArchiveHeader(ByteView(tail.data(), tail.size()));
        if (!header) {
            m_pPrompts->Notice(this, QStringLiteral("Open file error."));
            m_bBusy = false;
            return;
        }
        // The dialog's range for an archive is shown in local time.
        const int64_t tz = -int64_t(timezone);
        dlg.channelMask = header->channelMask;
        dlg.rangeFirst = int64_t(m_tStart) + tz;
        dlg.rangeLast = int64_t(m_tEnd) + tz;
        dlg.wholeRecording = 1;
    } else {
        dlg.channelMask = m_pPlayer->Reader().m_nChannelMask;
        dlg.rangeFirst = m_tStart;
        dlg.rangeLast = m_tEnd;
        dlg.wholeRecording = 0;
    }
    m_bExporting = true;
    dlg.exec();

    SeekSource(m_pPlayer->m_nCurTime, 0);
    m_bExporting = false;
    m_bBusy = false;
    OnPlay();
}

void COrbiscopeDlg::OnSaveAviRun(int channel) {
    CQMSaveAviDlg& dlg = SaveAviDialog();
    const QString path = m_pPrompts->SaveFileName(
        &dlg, QString::asprintf("CH%02d.avi", channel + 1),
        QStringLiteral("Avi Files (*.avi)|*.avi|All Files (*.*)|*.*||"), QStringLiteral("avi"));
    if (path.isEmpty()) return;
    OutputFiles outputs;
    if (!AgreeOutputName(*m_pPrompts, &dlg, OpenSourcePath(), path, outputs)) return;
    if (!m_bHddOpen && !CanOpenForReading(m_strFilePath)) {
        m_bBusy = false;
        return;
    }

    TExportAudioDecoder<TAudioDecoderCtrl> audio;
    SaveAviRequest request;
    request.sourceKind = m_bHddOpen ? kExportSourceDisk : kExportSourceArchive;
    request.sourcePath =
        QFile::encodeName(m_bHddOpen ? m_strDiskPath : m_strFilePath).toStdString();
    request.channel = channel;
    request.withAudio = dlg.withAudio != 0;
    request.outputPath = QFile::encodeName(path).toStdString();
    request.audioDecoder = &audio;
    request.outputs = &outputs;
    if (m_bHddOpen) {
        // The end picker names the first second left out.
        request.first = int64_t(dlg.chosenStart) * 1000;
        request.last = int64_t(dlg.chosenEnd) * 1000 - 1;
    }

    // The job runs on its own thread; this window keeps dispatching events
    // (the dialog's Cancel among them) until it ends.
    TSaveAviJob job(std::move(request));
    std::atomic<bool> done{false};
    bool succeeded = false;
    std::thread worker([&] {
        succeeded = job.Run();
        done = true;
    });
    dlg.SetProgressSource([&job] { return job.ProgressPercent(); });
    while (!done) {
        if (dlg.cancelRequested) job.Cancel();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    worker.join();
    dlg.SetProgressSource({});
    std::string error;
    if (succeeded) succeeded = outputs.Commit(error);

    if (succeeded) {
        m_pPrompts->Notice(&dlg, QStringLiteral("Save as AVI success."));
        dlg.cancelRequested = 1;
        dlg.reject();
    } else {
        m_pPrompts->Notice(&dlg, QStringLiteral("Save as AVI fail."));
    }
}

} // namespace qm
