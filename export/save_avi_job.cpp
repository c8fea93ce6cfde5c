#include "export/save_avi_job.h"

#include "export/archive_frame_reader.h"
#include "export/disk_frame_reader.h"
#include "platform/diagnostics.h"
#include "storage/file_reader.h"

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
    qmLogAt(5, "SaveAviJob", "(Run) %s\n", error.c_str());
    return false;
}

bool TSaveAviJob::Run() {
    m_files.clear();
    m_strError.clear();
    m_bSucceeded = false;
    m_nProgressPercent = 0;
    if (m_request.channel < 0 || m_request.channel > 31) return Fail("no such channel");
    if (m_request.sourceKind == kExportSourceDisk) return RunDisk();
    return RunArchive();
}

ExportReaderSettings TSaveAviJob::ReaderSettings() {
    ExportReaderSettings settings;
    settings.from = m_request.from;
    settings.to = m_request.to;
    settings.audioDecoder = m_request.audioDecoder;
    settings.decodeAudio =
        m_request.audioDecoder && (m_request.withAudio || m_request.frameWritten);
    settings.cancel = &m_bCancelRequested;
    settings.percent = &m_nProgressPercent;
    return settings;
}

bool TSaveAviJob::RunArchive() {
    const int fd = OpenReadOnly(m_request.sourcePath);
    if (fd < 0) return Fail(m_request.sourcePath + ": " + std::strerror(errno));
    struct CloseOnExit {
        int fd;
        ~CloseOnExit() { ::close(fd); }
    } closer{fd};

    TArchiveFrameReader reader(ReaderSettings());
    if (!reader.bBuildBlockIndexList_AVI(fd, m_request.channel))
        return Fail(m_request.sourcePath + ": " + reader.Error());
    const bool ok = RunSegments(reader);
    reader.ReleaseBlockIndexList_AVI();
    return ok;
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
    if (!disk->Records(m_request.channel)) return Fail(camera + " is not recorded on " + name);

    // Unset ends stand for the recording's own first and last second, the
    // last one included.
    const DiskIndex& index = disk->index;
    const uint32_t start = m_request.from.value_or(0);
    const uint32_t end = m_request.to
                             ? *m_request.to
                             : (index.endTime == UINT32_MAX ? UINT32_MAX : index.endTime + 1);
    if (start >= end) return Fail("the range holds no second");

    TDiskFrameReader reader(ReaderSettings(), m_request.diskReadTimeoutMs);
    if (!reader.bBuildBlockIndexList_AVI(disk, m_request.channel, start, end))
        return Fail(name + ": " + reader.Error());
    if (reader.BlockList().empty())
        return Fail("no block of the disk holds " + camera + " in the range");
    const bool ok = RunSegments(reader);
    reader.ReleaseBlockIndexList_AVI();
    return ok;
}

bool TSaveAviJob::RunSegments(IExportFrameReader& reader) {
    SegmentSettings segmentSettings;
    segmentSettings.withAudio = m_request.withAudio;
    segmentSettings.percent = &m_nProgressPercent;
    segmentSettings.segmentStarted = m_request.segmentStarted;
    segmentSettings.frameWritten = m_request.frameWritten;
    segmentSettings.byteLimit = m_request.segmentByteLimit;

    CQMAvi avi;
    ExportFrame frame;
    TAviSegmentDriver driver(avi, reader, frame, segmentSettings);
    int n = 1;
    std::string name = SegmentFileName(m_request.outputPath, n);
    int result = driver.SaveAviSegment(name);
    if (driver.OpenedFile()) m_files.push_back(name);
    while (result == kSegmentSizeChanged) {
        name = SegmentFileName(m_request.outputPath, ++n);
        result = driver.SaveAviSegment(name);
        if (driver.OpenedFile()) m_files.push_back(name);
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
