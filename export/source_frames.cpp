#include "export/source_frames.h"

#include "export/archive_frame_reader.h"
#include "export/disk_export_source.h"
#include "export/disk_frame_reader.h"
#include "export/range_frame_reader.h"
#include "storage/file_reader.h"
#include "storage/formats.h"
#include "storage/source_kind.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unistd.h>

namespace qm {

namespace {

// A range checked after the export begins at one of its pictures, a key
// frame; the lead only covers a key frame stamped a little earlier.
constexpr uint32_t kLeadSeconds = 8;

bool Drain(IExportFrameReader& inner, int64_t first, int64_t last,
           const std::function<void(const ExportFrame&)>& each, std::string& error) {
    TRangeFrameReader range(inner, first, last);
    ExportFrame frame;
    for (;;) {
        const int r = range.ReadFrame(frame);
        if (r == kExportEnd) return true;
        if (r < 0) {
            error = range.Error().empty() ? "reading the recording failed" : range.Error();
            return false;
        }
        each(frame);
    }
}

} // namespace

bool ReadSourceFrames(const std::string& path, int channel, int64_t first, int64_t last,
                      const std::function<void(const ExportFrame&)>& each, std::string& error) {
    if (channel < 0 || channel > 31 || first > last || first < 0) {
        error = "no such camera or range";
        return false;
    }
    ExportReaderSettings settings;
    settings.from = uint32_t(std::clamp<int64_t>(first / 1000 - kLeadSeconds, 0, UINT32_MAX));
    settings.to = uint32_t(std::clamp<int64_t>(last / 1000, 0, UINT32_MAX));
    settings.decodeAudio = false;

    std::string why;
    switch (ClassifySource(path, &why)) {
    case SourceKind::kArchive: {
        const int fd = OpenReadOnly(path);
        if (fd < 0) {
            error = path + ": " + std::strerror(errno);
            return false;
        }
        TArchiveFrameReader reader(settings);
        bool ok = reader.bBuildBlockIndexList_AVI(fd, channel);
        if (!ok) error = path + ": " + reader.Error();
        if (ok && !(reader.Header().channelMask & (1u << channel))) {
            error = CameraNotRecordedText(channel + 1, reader.Header().channelMask);
            ok = false;
        }
        if (ok) ok = Drain(reader, first, last, each, error);
        reader.ReleaseBlockIndexList_AVI();
        ::close(fd);
        return ok;
    }
    case SourceKind::kDiskImage:
    case SourceKind::kBlockDevice: {
        const auto disk = OpenDiskForExport(path, why);
        if (!disk) {
            error = path + ": " + why;
            return false;
        }
        if (!disk->Records(channel)) {
            error = CameraNotRecordedText(channel + 1, disk->index.channelMask);
            return false;
        }
        TDiskFrameReader reader(settings);
        // The disk reader's range leaves its end second out.
        const uint32_t end = uint32_t(std::min<int64_t>(last / 1000 + 1, UINT32_MAX));
        if (!reader.bBuildBlockIndexList_AVI(disk, channel, *settings.from, end)) {
            error = path + ": " + reader.Error();
            return false;
        }
        const bool ok = Drain(reader, first, last, each, error);
        reader.ReleaseBlockIndexList_AVI();
        return ok;
    }
    case SourceKind::kUnknown:
        break;
    }
    error = path + ": " + (why.empty() ? std::string("not a recording") : why);
    return false;
}

} // namespace qm
