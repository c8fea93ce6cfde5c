#include "storage/source_kind.h"

#include "platform/raw_device.h"
#include "storage/file_reader.h"
#include "storage/formats.h"
#include "storage/recovered_archive.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

namespace {

bool DiskMarkerAt(IRawDevice& device, uint64_t offset) {
    const uint64_t size = device.Size();
    if (offset > size || size - offset < kDiskInfoSize) return false;
    std::array<uint8_t, 4> word{};
    return ReadAt(word.data(), offset, word.size(), device) > 0 &&
           isDiskMagicAnyOrder(loadLE32(word.data()));
}

} // namespace

SourceKind ClassifySource(const std::string& path, std::string* error) {
    auto fail = [&](const std::string& why) {
        if (error) *error = why;
        return SourceKind::kUnknown;
    };
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return fail(std::strerror(errno));
    if (S_ISBLK(st.st_mode)) return SourceKind::kBlockDevice;
    if (!S_ISREG(st.st_mode)) return fail("not a file or a disk");
    int code = 0;
    auto device = OpenRawDevice(path, &code);
    if (!device) return fail(std::strerror(code));
    const uint64_t size = device->Size();
    if (size >= kArchiveHeaderSize) {
        std::array<uint8_t, kArchiveHeaderSize> tail{};
        if (ReadAt(tail.data(), size - tail.size(), tail.size(), *device) > 0 &&
            checkArchiveMagic(ByteView(tail.data(), tail.size())))
            return SourceKind::kArchive;
    }
    if (DiskMarkerAt(*device, kDiskInfoOffset) || DiskMarkerAt(*device, kCardDiskInfoOffset))
        return SourceKind::kDiskImage;
    // An archive whose header is cut off or damaged is still one when its
    // blocks can be found.
    if (const int fd = OpenReadOnly(path); fd >= 0) {
        const auto scan = ScanOf(fd, size);
        ::close(fd);
        if (scan && !scan->blocks.empty()) return SourceKind::kArchive;
    }
    return fail("neither a DVR archive nor a DVR disk image");
}

const char* SourceKindName(SourceKind kind) {
    switch (kind) {
    case SourceKind::kArchive:
        return "archive";
    case SourceKind::kDiskImage:
        return "disk image";
    case SourceKind::kBlockDevice:
        return "block device";
    default:
        return "unknown";
    }
}

} // namespace qm
