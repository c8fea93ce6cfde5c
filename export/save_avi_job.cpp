#include "export/save_avi_job.h"

#include "export/archive_frame_reader.h"
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
    // The frame reader by kind of source. A DVR disk's reader (its blocks
    // located through the storage reader's disk block list) belongs here.
    if (m_request.sourceKind != kExportSourceArchive)
        return Fail("exporting from a DVR disk is not available");

    const int fd = OpenReadOnly(m_request.sourcePath);
    if (fd < 0) return Fail(m_request.sourcePath + ": " + std::strerror(errno));
    struct CloseOnExit {
        int fd;
        ~CloseOnExit() { ::close(fd); }
    } closer{fd};

    ExportReaderSettings readerSettings;
    readerSettings.from = m_request.from;
    readerSettings.to = m_request.to;
    readerSettings.audioDecoder = m_request.audioDecoder;
    readerSettings.decodeAudio =
        m_request.audioDecoder && (m_request.withAudio || m_request.frameWritten);
    readerSettings.cancel = &m_bCancelRequested;
    readerSettings.percent = &m_nProgressPercent;
    TArchiveFrameReader reader(readerSettings);
    if (!reader.bBuildBlockIndexList_AVI(fd, m_request.channel))
        return Fail(m_request.sourcePath + ": " + reader.Error());

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
    reader.ReleaseBlockIndexList_AVI();

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
    return Fail(driver.Error().empty() ? "the export failed" : driver.Error());
}

} // namespace qm
