#pragma once
// Read-only access to a DVR's raw disk: a whole-disk block device or an image
// file of one. Recordings are evidence, so a device is only ever opened
// O_RDONLY and read with pread, which is safe from several threads at once
// (the prefetch thread, a seek and an export may read one device together).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace qm {

constexpr uint32_t kRawSectorSize = 512;

// How the medium is attached; decides where a DVR keeps its information sector.
enum class MediumKind {
    kFixed,     // a hard disk
    kRemovable, // a memory card
    kImage,     // a regular file holding a copy of either
    kOther,     // anything else (a character device, a directory, a drive without medium)
};

class IRawDevice {
public:
    virtual ~IRawDevice() = default;
    // Reads exactly `length` bytes at `offset`. Returns 0 on success, else the
    // system error code (EIO for a read that ended early).
    virtual int Read(void* buffer, uint64_t offset, size_t length) = 0;
    // Size in bytes; 0 when unknown.
    virtual uint64_t Size() const = 0;
};

// Opens a block device or an image read-only. Null with `error` set to the
// system error code when it cannot be opened.
std::shared_ptr<IRawDevice> OpenRawDevice(const std::string& path, int* error = nullptr);

// Failed reads come back as a negative value whose low 16 bits are the error code.
constexpr int32_t kReadFailedFlag = int32_t(0x80000000u);
constexpr int32_t ReadFailure(int errorCode) {
    return int32_t(uint32_t(kReadFailedFlag) | (uint32_t(errorCode) & 0xFFFFu));
}
constexpr int ReadErrorCode(int32_t result) {
    return int(uint32_t(result) & 0xFFFFu);
}

// Reads `length` bytes at the 64-bit `offset`: the byte count on success
// (positive), ReadFailure(code) otherwise. A length of 0 or above INT32_MAX
// fails with EINVAL.
int32_t ReadAt(void* buffer, uint64_t offset, size_t length, IRawDevice& device);

// What a path is, and for a block device whether sysfs calls it removable.
// Memory cards on an MMC host report themselves as fixed there, so those
// count as removable by their name.
MediumKind MediumOfPath(const std::string& path, const std::string& sysDevBlock = "/sys/dev/block");

} // namespace qm
