// Save as AVI from the main window: the button's guards and the dialog, and
// the export run the dialog asks for, which runs the job on a worker thread
// while this window keeps dispatching events.

#include "app/export_range.h"
#include "app/orbiscope_dlg.h"
#include "app/output_consent.h"
#include "app/skin.h"
#include "codec/audio_decoder_ctrl.h"
#include "export/export_audio.h"
#include "export/export_manifest.h"
#include "export/multi_camera_export.h"
#include "export/save_avi_dlg.h"
#include "export/save_avi_job.h"
#include "player/player_ex.h"
#include "storage/formats.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProgressBar>
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

// The request every Save as AVI run starts from: the open source, the
// dialog's sound and range, and the recorder's clock for the subtitles.
SaveAviRequest COrbiscopeDlg::SaveAviBaseRequest(const CQMSaveAviDlg& dlg) const {
    SaveAviRequest request;
    request.sourceKind = m_bHddOpen ? kExportSourceDisk : kExportSourceArchive;
    request.sourcePath =
        QFile::encodeName(m_bHddOpen ? m_strDiskPath : m_strFilePath).toStdString();
    request.withAudio = dlg.withAudio != 0;
    if (m_bHddOpen) {
        const ExportRangeMs range = PickedExportRange(dlg.chosenStart, dlg.chosenEnd);
        request.first = range.first;
        request.last = range.last;
    } else if (const auto header = ReadArchiveHeaderOf(m_strFilePath)) {
        request.clock.offsetSeconds = header->timeOffsetSeconds();
    }
    return request;
}

namespace {

// What the manifest records of a run from the dialog: the qmtool command
// that would write the same files.
std::vector<std::string> EquivalentCommand(const SaveAviRequest& request,
                                           const std::string& cameras, const std::string& out) {
    std::vector<std::string> line{"qmtool", "export", "--channel", cameras, "--out", out};
    if (request.format != ExportFormat::kAvi && cameras == "all")
        line.insert(line.end(), {"--format", ExportFormatExtension(request.format)});
    if (request.first) line.insert(line.end(), {"--from", std::to_string(*request.first / 1000)});
    if (request.last) line.insert(line.end(), {"--to", std::to_string(*request.last / 1000)});
    if (!request.withAudio) line.push_back("--no-audio");
    line.push_back(request.sourcePath);
    return line;
}

ExportFormat FormatOfName(const QString& path) {
    return ExportFormatFromName(QFileInfo(path).suffix().toLower().toStdString())
        .value_or(ExportFormat::kAvi);
}

} // namespace

void COrbiscopeDlg::OnSaveAviRun(int channel) {
    if (channel == CQMSaveAviDlg::kAllCameras) {
        SaveAllCameras();
        return;
    }
    CQMSaveAviDlg& dlg = SaveAviDialog();
    const QString path = m_pPrompts->SaveFileName(
        &dlg, QString::asprintf("CH%02d.avi", channel + 1),
        QStringLiteral("Avi Files (*.avi)|*.avi|MP4 Files (*.mp4)|*.mp4|"
                       "Matroska Files (*.mkv)|*.mkv|All Files (*.*)|*.*||"),
        QStringLiteral("avi"));
    if (path.isEmpty()) return;
    const std::string out = QFile::encodeName(path).toStdString();
    const std::string manifestPath = DefaultManifestPath(out, false);
    OutputFiles outputs;
    if (!AgreeOutputName(*m_pPrompts, &dlg, OpenSourcePath(), path, outputs)) return;
    if (!AgreeOutputName(*m_pPrompts, &dlg, {}, QFile::decodeName(manifestPath.c_str()), outputs))
        return;
    if (!m_bHddOpen && !CanOpenForReading(m_strFilePath)) return;

    SaveAviRequest request = SaveAviBaseRequest(dlg);
    request.channel = channel;
    request.outputPath = out;
    request.format = FormatOfName(path);
    auto command = EquivalentCommand(request, std::to_string(channel + 1), out);
    RunSaveAvi(std::move(request), {{channel, out}}, manifestPath, std::move(command), outputs);
}

void COrbiscopeDlg::SaveAllCameras() {
    CQMSaveAviDlg& dlg = SaveAviDialog();
    static const ExportFormat kFormats[] = {ExportFormat::kAvi, ExportFormat::kMp4,
                                            ExportFormat::kMkv};
    const int picked = m_pPrompts->ChooseItem(
        &dlg, QStringLiteral("Save every camera, each in a file of its own, as:"),
        {QStringLiteral("AVI (CH01.avi, CH02.avi, ...)"),
         QStringLiteral("MP4 (CH01.mp4, CH02.mp4, ...)"),
         QStringLiteral("Matroska (CH01.mkv, CH02.mkv, ...)")});
    if (picked < 0 || picked > 2) return;
    const ExportFormat format = kFormats[picked];
    const QString folder =
        m_pPrompts->FolderName(&dlg, QStringLiteral("Choose a folder for the cameras' files"));
    if (folder.isEmpty()) return;

    // Every name is checked before anything is written; files of an earlier
    // export there are replaced only when the user agrees, once for all.
    OutputFiles outputs;
    outputs.AddSource(QFile::encodeName(OpenSourcePath()).toStdString());
    const QDir dir(folder);
    std::vector<TMultiCameraExport::Camera> cameras;
    QStringList names;
    for (int c = 0; c < 32; ++c)
        if (dlg.channelMask & (1u << c)) {
            const QString name = QString::asprintf("CH%02d.", c + 1) +
                                 QString::fromLatin1(ExportFormatExtension(format));
            cameras.push_back({c, QFile::encodeName(dir.filePath(name)).toStdString()});
            names << dir.filePath(name);
        }
    if (cameras.empty()) return;
    const std::string folderName = QFile::encodeName(folder).toStdString();
    const std::string manifestPath = DefaultManifestPath(folderName, true);
    names << QFile::decodeName(manifestPath.c_str());
    QStringList existing;
    for (const QString& name : names) {
        const OutputRefusal refusal = outputs.Check(QFile::encodeName(name).toStdString());
        if (refusal == OutputRefusal::kExists) {
            existing << QFileInfo(name).fileName();
        } else if (refusal != OutputRefusal::kNone) {
            QString text =
                QString::fromStdString(RefusalText(refusal, QFile::encodeName(name).toStdString()));
            if (!text.isEmpty()) text[0] = text[0].toUpper();
            m_pPrompts->Notice(&dlg, text);
            return;
        }
    }
    if (!existing.isEmpty()) {
        if (!m_pPrompts->Confirm(&dlg, folder + QStringLiteral(" already holds ") +
                                           existing.join(QStringLiteral(", ")) +
                                           QStringLiteral(".\nDo you want to replace them?")))
            return;
        outputs.SetReplaceExisting(true);
    }
    if (!QDir().mkpath(folder)) {
        m_pPrompts->Notice(&dlg, QStringLiteral("Cannot make the folder ") + folder);
        return;
    }
    if (!m_bHddOpen && !CanOpenForReading(m_strFilePath)) return;

    SaveAviRequest request = SaveAviBaseRequest(dlg);
    request.format = format;
    auto command = EquivalentCommand(request, "all", folderName);
    RunSaveAvi(std::move(request), std::move(cameras), manifestPath, std::move(command), outputs);
}

void COrbiscopeDlg::RunSaveAvi(SaveAviRequest request,
                               std::vector<TMultiCameraExport::Camera> cameras,
                               const std::string& manifestPath,
                               std::vector<std::string> commandLine, OutputFiles& outputs) {
    CQMSaveAviDlg& dlg = SaveAviDialog();
    TExportAudioDecoder<TAudioDecoderCtrl> audio;
    request.audioDecoder = &audio;
    request.outputs = &outputs;
    request.channel = cameras.front().channel;
    request.outputPath = cameras.front().outputPath;
    const ClockView clock{request.clock.offsetSeconds, false};
    ExportManifest manifest(manifestPath, clock);
    std::string error;
    bool succeeded =
        manifest.Attach(request, "qmplayer", "export", std::move(commandLine), false, error);

    // The job runs on its own thread; this window keeps dispatching events
    // (the dialog's Cancel among them) until the job's end quits the loop.
    const bool several = cameras.size() > 1;
    TSaveAviJob job(request);
    TMultiCameraExport multi(request, std::move(cameras));
    if (succeeded) {
        QEventLoop running;
        std::thread worker([&] {
            succeeded = several ? multi.Run() : job.Run();
            QMetaObject::invokeMethod(&running, &QEventLoop::quit, Qt::QueuedConnection);
        });
        dlg.SetProgressSource(
            [&] { return several ? multi.ProgressPercent() : job.ProgressPercent(); });
        QTimer cancelWatch;
        connect(&cancelWatch, &QTimer::timeout, this, [&] {
            if (!dlg.cancelRequested) return;
            job.Cancel();
            multi.Cancel();
        });
        cancelWatch.start(kCancelWatchMs);
        running.exec();
        worker.join();
        dlg.SetProgressSource({});
    }
    // The manifest vouches for the files as committed, so it is written
    // last and committed with them.
    if (succeeded) succeeded = manifest.Finish(outputs, error) && outputs.Commit(error);
    if (!succeeded) outputs.Abandon();

    if (succeeded) {
        dlg.Progress()->setValue(100);
        m_pPrompts->Notice(&dlg, QStringLiteral("Save as AVI success."));
        dlg.cancelRequested = 1;
        dlg.reject();
    } else {
        m_pPrompts->Notice(&dlg, QStringLiteral("Save as AVI fail."));
    }
}

} // namespace qm
