#include "export/save_avi_job.h"

#include "export/archive_frame_reader.h"
#include "export/disk_frame_reader.h"
#include "export/range_frame_reader.h"
#include "platform/diagnostics.h"
#include "storage/file_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>
#include <utility>

namespace qm {

std::string SegmentFileName(const std::string& name, int n) {
    if (n <= 1) return name;
    // Only a final ".avi" is the extension; one inside a folder name is not.
    const std::string ext = ".avi";
    std::string base = name;
    if (base.size() >= ext.size() && base.compare(base.size() - ext.size(), ext.size(), ext) == 0)
        base.resize(base.size() - ext.size());
    char suffix[16];
    std::snprintf(suffix, sizeof suffix, "-%03d.avi", n);
    return base + suffix;
}

TSaveAviJob::TSaveAviJob(SaveAviRequest request) : m_request(std::move(request)) {}

TSaveAviJob::~TSaveAviJob() = default;

bool TSaveAviJob::Fail(const std::string& error) {
    m_strError = error;
    m_bSucceeded = false;
    qmLogAt(5, log_tag::kSaveAviJob, "(Run) %s\n", error.c_str());
    return false;
}

bool TSaveAviJob::Begin() {
    m_files.clear();
    m_strError.clear();
    m_bSucceeded = false;
    m_nProgressPercent = 0;
    if (m_request.channel < 0 || m_request.channel > 31) return Fail("no such channel");
    m_ownOutputs.reset();
    if (!m_request.outputs) m_ownOutputs = std::make_unique<OutputFiles>(m_request.replaceExisting);
    m_pOutputs = m_request.outputs ? m_request.outputs : m_ownOutputs.get();
    m_pOutputs->AddSource(m_request.sourcePath);
    // A name that may not be written is refused before anything is read.
    if (const OutputRefusal refusal = m_pOutputs->Reserve(m_request.outputPath);
        refusal != OutputRefusal::kNone)
        return Fail(RefusalText(refusal, m_request.outputPath));
    return true;
}

bool TSaveAviJob::End(bool ok) {
    if (!m_ownOutputs) return ok;
    std::string error;
    if (ok && !m_ownOutputs->Commit(error)) return Fail(error);
    if (!ok) m_ownOutputs->Abandon();
    return ok;
}

bool TSaveAviJob::Run() {
    if (!Begin()) return false;
    return End(m_request.sourceKind == kExportSourceDisk ? RunDisk() : RunArchive());
}

bool TSaveAviJob::RunFrom(IExportFrameReader& reader, uint32_t readerStart, uint32_t recordingStart,
                          bool& widen) {
    widen = false;
    if (!Begin()) return false;
    const bool ok = RunRange(reader, readerStart, recordingStart, widen);
    return End(ok && !widen);
}

ExportReaderSettings ExportReaderSettingsFor(const SaveAviRequest& request, uint32_t lead,
                                             const std::atomic<int>* cancel,
                                             std::atomic<int>* percent) {
    ExportReaderSettings settings;
    if (request.first) {
        const int64_t second = *request.first / 1000;
        settings.from = uint32_t(std::clamp<int64_t>(second - lead, 0, UINT32_MAX));
    }
    if (request.last)
        settings.to = uint32_t(std::clamp<int64_t>(*request.last / 1000, 0, UINT32_MAX));
    settings.audioDecoder = request.audioDecoder;
    settings.decodeAudio = request.audioDecoder &&
                           (request.withAudio || request.frameWritten || request.hooks.onPicture);
    settings.cancel = cancel;
    settings.percent = percent;
    settings.sourceRead = request.sourceRead;
    return settings;
}

ExportReaderSettings TSaveAviJob::ReaderSettings(uint32_t lead) {
    return ExportReaderSettingsFor(m_request, lead, &m_bCancelRequested, &m_nProgressPercent);
}

bool TSaveAviJob::RunArchive() {
    const int fd = OpenReadOnly(m_request.sourcePath);
    if (fd < 0) return Fail(m_request.sourcePath + ": " + std::strerror(errno));
    struct CloseOnExit {
        int fd;
        ~CloseOnExit() { ::close(fd); }
    } closer{fd};

    for (uint32_t lead = kExportFirstLeadSeconds;; lead *= 8) {
        const ExportReaderSettings settings = ReaderSettings(lead);
        TArchiveFrameReader reader(settings);
        if (!reader.bBuildBlockIndexList_AVI(fd, m_request.channel))
            return Fail(m_request.sourcePath + ": " + reader.Error());
        const uint32_t recorded = reader.Header().channelMask;
        if (!(recorded & (1u << m_request.channel)))
            return Fail(CameraNotRecordedText(m_request.channel + 1, recorded));
        bool widen = false;
        const bool ok =
            RunRange(reader, settings.from.value_or(0), reader.Header().startTime, widen);
        reader.ReleaseBlockIndexList_AVI();
        if (!widen) return ok;
    }
}

bool TSaveAviJob::RunDisk() {
    const std::string& name = m_request.sourcePath;
    auto disk = m_request.disk;
    if (!disk) {
        std::string error;
        disk = OpenDiskForExport(name, error);
        if (!disk) return Fail(name + ": " + error);
    }
    const std::string camera = "camera " + std::to_string(m_request.channel + 1);
    if (!disk->Records(m_request.channel))
        return Fail(CameraNotRecordedText(m_request.channel + 1, disk->index.channelMask));

    // The disk reader's range leaves its end second out.
    const DiskIndex& index = disk->index;
    const uint64_t lastSecond = m_request.last
                                    ? uint64_t(std::max<int64_t>(*m_request.last, 0) / 1000)
                                    : uint64_t(index.endTime);
    const uint32_t end = uint32_t(std::min<uint64_t>(lastSecond + 1, UINT32_MAX));
    {
        // Blocks before the range only lead into it: the range itself must have some.
        const uint32_t start = ReaderSettings(0).from.value_or(0);
        TDiskFrameReader probe(ReaderSettings(0), m_request.diskReadTimeoutMs);
        if (start < end && probe.bBuildBlockIndexList_AVI(disk, m_request.channel, start, end) &&
            probe.BlockList().empty())
            return Fail("no block of the disk holds " + camera + " in the range");
    }
    for (uint32_t lead = kExportFirstLeadSeconds;; lead *= 8) {
        const ExportReaderSettings settings = ReaderSettings(lead);
        const uint32_t start = settings.from.value_or(0);
        if (start >= end) return Fail("the range holds no second");
        TDiskFrameReader reader(settings, m_request.diskReadTimeoutMs);
        if (!reader.bBuildBlockIndexList_AVI(disk, m_request.channel, start, end))
            return Fail(name + ": " + reader.Error());
        if (reader.BlockList().empty())
            return Fail("no block of the disk holds " + camera + " in the range");
        bool widen = false;
        const bool ok = RunRange(reader, start, index.startTime, widen);
        reader.ReleaseBlockIndexList_AVI();
        if (!widen) return ok;
    }
}

bool TSaveAviJob::RunRange(IExportFrameReader& reader, uint32_t readerStart,
                           uint32_t recordingStart, bool& widen) {
    widen = false;
    if (!m_request.first && !m_request.last) {
        const bool ok = RunSegments(reader);
        m_nDamaged = reader.DamagedFramesSkipped();
        return ok;
    }
    TRangeFrameReader range(reader, m_request.first.value_or(0), m_request.last);
    range.Prime();
    // No key frame at or before the range yet: begin earlier, unless the
    // reader already began with the recording.
    if (m_request.first && range.RangeFound() && !range.KeyFound() &&
        readerStart > recordingStart && !CancelRequested()) {
        widen = true;
        return false;
    }
    const bool ok = RunSegments(range);
    m_nDamaged = range.DamagedFramesSkipped();
    return ok;
}

bool TSaveAviJob::RunSegments(IExportFrameReader& reader) {
    if (m_request.format != ExportFormat::kAvi) return RunMedia(reader);
    SegmentSettings segmentSettings;
    segmentSettings.withAudio = m_request.withAudio;
    segmentSettings.percent = &m_nProgressPercent;
    segmentSettings.segmentStarted = m_request.segmentStarted;
    segmentSettings.byteLimit = m_request.segmentByteLimit;
    // What each numbered file holds, for the hooks.
    const int channel = m_request.channel;
    ExportOutputDone done;
    done.channel = channel;
    segmentSettings.frameWritten = [&](const ExportFrame& frame) {
        const int64_t t = ToStoredMs(frame.seconds, frame.subsecond / 1000);
        if (done.pictures++ == 0) done.first = t;
        done.last = t;
        if (m_request.frameWritten) m_request.frameWritten(frame);
        if (m_request.hooks.onPicture) m_request.hooks.onPicture(channel, frame);
    };
    auto segmentDone = [&](const std::string& name, bool complete) {
        if (complete && m_request.hooks.onOutputDone) {
            done.path = name;
            done.damagedSkipped = reader.DamagedFramesSkipped();
            m_request.hooks.onOutputDone(done);
        }
        done = ExportOutputDone{};
        done.channel = channel;
    };

    CQMAvi avi(*m_pOutputs);
    ExportFrame frame;
    TAviSegmentDriver driver(avi, reader, frame, segmentSettings);
    // A file is complete once the next segment began or the data ended;
    // a failed one is no output.
    int n = 1;
    std::string name = SegmentFileName(m_request.outputPath, n);
    int result = driver.SaveAviSegment(name);
    if (driver.OpenedFile()) m_files.push_back(name);
    segmentDone(name, driver.OpenedFile() && result > 0);
    while (result == kSegmentSizeChanged) {
        name = SegmentFileName(m_request.outputPath, ++n);
        result = driver.SaveAviSegment(name);
        if (driver.OpenedFile()) m_files.push_back(name);
        segmentDone(name, driver.OpenedFile() && result > 0);
    }

    // After a size change the data may end before another key frame comes:
    // everything there was to write has been written.
    if (result == kSegmentNoFrame && n > 1 && driver.LastReadResult() == kExportEnd)
        result = kSegmentDataEnded;
    if (result == kSegmentDataEnded) {
        m_nProgressPercent = 100;
        m_bSucceeded = true;
        return true;
    }
    if (result == kSegmentNoFrame && CancelRequested()) return Fail("cancelled");
    if (result == kSegmentNoFrame && driver.LastReadResult() == kExportEnd)
        return Fail("camera " + std::to_string(m_request.channel + 1) +
                    " has no key frame in the range");
    // The reader knows best why it could not go on.
    if (driver.LastReadResult() < 0 && driver.LastReadResult() != kExportEnd &&
        !reader.Error().empty())
        return Fail(m_request.sourcePath + ": " + reader.Error());
    return Fail(driver.Error().empty() ? "the export failed" : driver.Error());
}

} // namespace qm

namespace qm {

bool TSaveAviJob::RunMedia(IExportFrameReader& reader) {
    MediaWriterSettings settings;
    settings.format = m_request.format;
    settings.channel = m_request.channel;
    settings.withAudio = m_request.withAudio;
    settings.clock = m_request.clock;
    // The file's record also tells the damaged frames passed over for it.
    ExportHooks hooks = m_request.hooks;
    if (hooks.onOutputDone)
        hooks.onOutputDone = [&](const ExportOutputDone& done) {
            ExportOutputDone told = done;
            told.damagedSkipped = reader.DamagedFramesSkipped();
            m_request.hooks.onOutputDone(told);
        };
    settings.hooks = &hooks;
    TMediaWriter writer(*m_pOutputs, settings);
    ExportFrame frame;
    int result = 0;
    while ((result = reader.ReadFrame(frame)) >= 0) {
        const bool opened = writer.Opened();
        if (!writer.Write(frame, m_request.outputPath)) {
            if (writer.Opened()) m_files.push_back(m_request.outputPath);
            return Fail(writer.Error());
        }
        if (!opened && writer.Opened()) {
            m_files.push_back(m_request.outputPath);
            if (m_request.segmentStarted) m_request.segmentStarted();
        }
        if (writer.Opened() && m_request.frameWritten) m_request.frameWritten(frame);
    }
    if (!writer.Close()) return Fail(writer.Error());
    if (result == kExportEnd && writer.Pictures() == 0) {
        if (CancelRequested()) return Fail("cancelled");
        return Fail("camera " + std::to_string(m_request.channel + 1) +
                    " has no key frame in the range");
    }
    if (result == kExportEnd) {
        m_nProgressPercent = 100;
        m_bSucceeded = true;
        return true;
    }
    if (!reader.Error().empty()) return Fail(m_request.sourcePath + ": " + reader.Error());
    return Fail("the export failed");
}

} // namespace qm
