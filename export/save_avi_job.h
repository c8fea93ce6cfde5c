#pragma once
// Saving one channel of a recording as AVI files: the work behind the save
// dialog, runnable on a worker thread. It builds the channel's block list,
// runs segment after segment into numbered files (NAME.avi, NAME-002.avi, ...)
// whenever the picture size changes, and reports the outcome. The dialog (or
// qmtool) watches ProgressPercent() and may Cancel() from another thread; a
// cancelled export completes its open file and counts as a success. Archives
// and DVR disks (devices or images) are read by readers of their own.

#include "export/avi_segment.h"
#include "export/disk_export_source.h"
#include "export/export_frame.h"
#include "export/export_hooks.h"
#include "export/media_writer.h"
#include "platform/output_files.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace qm {

enum ExportSourceKind : int { kExportSourceArchive = 0, kExportSourceDisk = 1 };

constexpr char kSaveAviSuccessText[] = "Save as AVI success.";
constexpr char kSaveAviFailText[] = "Save as AVI fail.";

struct SaveAviRequest {
    int sourceKind = kExportSourceArchive;
    // An archive file, or a DVR disk's block device or image.
    std::string sourcePath;
    // A disk already opened for the export (its own device and index); when
    // null the job opens sourcePath itself.
    std::shared_ptr<const DiskExportSource> disk;
    int channel = 0; // 0-31
    bool withAudio = true;
    // The moments to export, as stored times in milliseconds since 1970,
    // both included. The files begin at the camera's key frame at or before
    // `first`, so that every picture from `first` on is there and can be
    // decoded. Unset: the recording's own first or last frame.
    std::optional<int64_t> first;
    std::optional<int64_t> last;
    std::string outputPath; // the first file; later ones are numbered after it
    // AVI is split at every change of picture size; MP4 and Matroska are one
    // file whatever the sizes.
    ExportFormat format = ExportFormat::kAvi;
    // The clock the subtitles of an MP4 or Matroska file show.
    ClockView clock;
    // The run's outputs, when the caller writes more files than the job's
    // (a WAV beside them) and commits them itself once everything is done.
    // When null the job checks and commits its own files, replacing
    // existing ones only with `replaceExisting`.
    OutputFiles* outputs = nullptr;
    bool replaceExisting = false;
    IExportAudioDecoder* audioDecoder = nullptr; // none: the sound is left out
    // Called on the job's thread at the start of every segment.
    std::function<void()> segmentStarted;
    // Called on the job's thread for every frame written, with its decoded sound.
    std::function<void(const ExportFrame&)> frameWritten;
    // Told of every picture and every finished file, whatever the format.
    ExportHooks hooks;
    // Called on the job's thread for every piece a disk reader read.
    SourceReadCallback sourceRead;
    uint64_t segmentByteLimit = kAviSegmentByteLimit;
    // How long one read from a disk may take before the export gives up.
    int64_t diskReadTimeoutMs = kExportDiskReadTimeoutMs;
};

// The name of segment file n (from 1): the first is the name as given, the
// others replace a final ".avi" by "-%03d.avi" (a name without it gets the
// suffix appended).
std::string SegmentFileName(const std::string& name, int n);

// How far before the range the readers first look for its key frame; each
// further try looks eight times as far.
constexpr uint32_t kExportFirstLeadSeconds = 8;

// What a reader of the request's range is told when it begins `lead`
// seconds early to find the range's first key frame.
ExportReaderSettings ExportReaderSettingsFor(const SaveAviRequest& request, uint32_t lead,
                                             const std::atomic<int>* cancel,
                                             std::atomic<int>* percent);

class TSaveAviJob {
public:
    explicit TSaveAviJob(SaveAviRequest request);
    ~TSaveAviJob();
    TSaveAviJob(const TSaveAviJob&) = delete;
    TSaveAviJob& operator=(const TSaveAviJob&) = delete;

    // Runs the export once; true on success. Call from one thread.
    bool Run();
    // Runs the export from a reader built elsewhere, which begins at
    // `readerStart` of a recording beginning at `recordingStart`. False with
    // `widen` set, and nothing written, when the reader began too late for
    // the range's first key frame: Run then finds it.
    bool RunFrom(IExportFrameReader& reader, uint32_t readerStart, uint32_t recordingStart,
                 bool& widen);

    // Safe from any thread while Run is in progress.
    void Cancel() { m_bCancelRequested.store(1); }
    bool CancelRequested() const { return m_bCancelRequested.load() != 0; }
    int ProgressPercent() const { return m_nProgressPercent.load(); }

    // After Run has returned:
    const std::vector<std::string>& Files() const { return m_files; }
    // Frames of the camera skipped because they were damaged.
    uint64_t DamagedFramesSkipped() const { return m_nDamaged; }
    const std::string& Error() const { return m_strError; }
    const char* ResultText() const { return m_bSucceeded ? kSaveAviSuccessText : kSaveAviFailText; }

private:
    bool Fail(const std::string& error);
    // The checks and set-up of every run, and its end (committing the job's
    // own outputs).
    bool Begin();
    bool End(bool ok);
    // The readers begin `lead` seconds before the range, to find the key
    // frame the range's first pictures need.
    ExportReaderSettings ReaderSettings(uint32_t lead);
    bool RunArchive();
    bool RunDisk();
    // Writes the range from `reader`, whose list is built and which begins
    // at `readerStart` of a recording beginning at `recordingStart`. Sets
    // `widen` (and returns false) when the reader must begin earlier.
    bool RunRange(IExportFrameReader& reader, uint32_t readerStart, uint32_t recordingStart,
                  bool& widen);
    // Writes the numbered files from `reader`.
    bool RunSegments(IExportFrameReader& reader);
    // Writes the one MP4 or Matroska file from `reader`.
    bool RunMedia(IExportFrameReader& reader);

    SaveAviRequest m_request;
    std::unique_ptr<OutputFiles> m_ownOutputs; // one per run, when the caller gave none
    OutputFiles* m_pOutputs = nullptr;
    std::atomic<int> m_nProgressPercent{0};
    std::atomic<int> m_bCancelRequested{0};
    std::vector<std::string> m_files;
    uint64_t m_nDamaged = 0;
    std::string m_strError;
    bool m_bSucceeded = false;
};

} // namespace qm
