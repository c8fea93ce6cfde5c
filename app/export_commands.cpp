// Save as AVI from the main window: the button's guards and the dialog, and
// the export run the dialog asks for, which runs the job on a worker thread
// while this window keeps dispatching events.

#include "app/export_range.h"
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
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <ctime>
#include <thread>

#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {

// How often a running export looks at the dialog's Cancel.
constexpr int kCancelWatchMs = 20;

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
    if (!CanCommand()) return;
    if (!IsRecordingOpen() && m_strFilePath.isEmpty()) {
        m_pPrompts->Notice(this, QStringLiteral("Please open a AVR file first."));
        return;
    }
    m_pPlayer->Pause();
    BusyScope busy(*this, BusyScope::Cursor::kNone);

    CQMSaveAviDlg& dlg = SaveAviDialog();
    if (!m_bHddOpen) {
        // The archive is read again: it may have gone since it was opened.
        const auto header = ReadArchiveHeaderOf(m_strFilePath);
        if (!header) {
            busy.Release();
            m_pPrompts->Notice(this, QStringLiteral("Open file error."));
            return;
        }
        // The dialog's range for an archive is shown in local time.
        const int64_t tz = -int64_t(timezone);
        dlg.channelMask = header->channelMask;
        dlg.rangeFirst = int64_t(m_tStart) + tz;
        dlg.rangeLast = int64_t(m_tEnd) + tz;
        dlg.wholeRecording = 1;
    } else {
        dlg.channelMask = m_pPlayer->Recording().channelMask;
        dlg.rangeFirst = m_tStart;
        dlg.rangeLast = m_tEnd;
        dlg.wholeRecording = 0;
    }
    m_bExporting = true;
    dlg.exec();
    m_bExporting = false;
    // Playing again from where the export found it.
    if (IsRecordingOpen()) m_pPlayer->SeekTo(m_pPlayer->CurrentTime());
}

void COrbiscopeDlg::OnSaveAviRun(int channel) {
    CQMSaveAviDlg& dlg = SaveAviDialog();
    const QString path = m_pPrompts->SaveFileName(
        &dlg, QString::asprintf("CH%02d.avi", channel + 1),
        QStringLiteral("Avi Files (*.avi)|*.avi|All Files (*.*)|*.*||"), QStringLiteral("avi"));
    if (path.isEmpty()) return;
    OutputFiles outputs;
    if (!AgreeOutputName(*m_pPrompts, &dlg, OpenSourcePath(), path, outputs)) return;
    if (!m_bHddOpen && !CanOpenForReading(m_strFilePath)) return;

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
        const ExportRangeMs range = PickedExportRange(dlg.chosenStart, dlg.chosenEnd);
        request.first = range.first;
        request.last = range.last;
    }

    // The job runs on its own thread; this window keeps dispatching events
    // (the dialog's Cancel among them) until the job's end quits the loop.
    TSaveAviJob job(std::move(request));
    QEventLoop running;
    bool succeeded = false;
    std::thread worker([&] {
        succeeded = job.Run();
        QMetaObject::invokeMethod(&running, &QEventLoop::quit, Qt::QueuedConnection);
    });
    dlg.SetProgressSource([&job] { return job.ProgressPercent(); });
    QTimer cancelWatch;
    connect(&cancelWatch, &QTimer::timeout, this, [&] {
        if (dlg.cancelRequested) job.Cancel();
    });
    cancelWatch.start(kCancelWatchMs);
    running.exec();
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
