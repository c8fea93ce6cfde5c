#include "platform/raw_device.h"

#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <fstream>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace qm {

namespace {

class FileRawDevice : public IRawDevice {
public:
    FileRawDevice(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
    ~FileRawDevice() override { ::close(m_fd); }

    int Read(void* buffer, uint64_t offset, size_t length) override {
        auto* out = static_cast<uint8_t*>(buffer);
        while (length > 0) {
            if (offset > uint64_t(INT64_MAX) - length) return EINVAL;
            const ssize_t n = ::pread(m_fd, out, length, off_t(offset));
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) return errno;
            if (n == 0) return EIO; // the device ended before the range did
            out += n;
            offset += uint64_t(n);
            length -= size_t(n);
        }
        return 0;
    }
    uint64_t Size() const override { return m_size; }

private:
    int m_fd;
    uint64_t m_size;
};

bool ReadFlag(const std::string& file, bool& value) {
    std::ifstream in(file);
    int v = 0;
    if (!(in >> v)) return false;
    value = v != 0;
    return true;
}

} // namespace

std::shared_ptr<IRawDevice> OpenRawDevice(const std::string& path, int* error) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (error) *error = errno;
        return nullptr;
    }
    struct stat st {};
    uint64_t size = 0;
    if (::fstat(fd, &st) == 0) {
        if (S_ISREG(st.st_mode) && st.st_size > 0) size = uint64_t(st.st_size);
        if (S_ISBLK(st.st_mode) && ::ioctl(fd, BLKGETSIZE64, &size) != 0) size = 0;
    }
    if (error) *error = 0;
    return std::make_shared<FileRawDevice>(fd, size);
}

int32_t ReadAt(void* buffer, uint64_t offset, size_t length, IRawDevice& device) {
    if (length == 0 || length > size_t(INT32_MAX)) return ReadFailure(EINVAL);
    const int code = device.Read(buffer, offset, length);
    return code == 0 ? int32_t(length) : ReadFailure(code);
}

MediumKind MediumOfPath(const std::string& path, const std::string& sysDevBlock) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return MediumKind::kOther;
    if (S_ISREG(st.st_mode)) return MediumKind::kImage;
    if (!S_ISBLK(st.st_mode)) return MediumKind::kOther;
    const std::string dir = sysDevBlock + "/" + std::to_string(major(st.st_rdev)) + ":" +
                            std::to_string(minor(st.st_rdev));
    // An MMC host's cards (mmcblkN) are the memory cards a DVR records on.
    char resolved[PATH_MAX];
    if (::realpath(dir.c_str(), resolved)) {
        const std::string real(resolved);
        const std::string leaf = real.substr(real.rfind('/') + 1);
        if (leaf.rfind("mmcblk", 0) == 0) return MediumKind::kRemovable;
    }
    bool removable = false;
    // A partition has no flag of its own; its disk's applies.
    if (ReadFlag(dir + "/removable", removable) || ReadFlag(dir + "/../removable", removable))
        return removable ? MediumKind::kRemovable : MediumKind::kFixed;
    return MediumKind::kFixed;
}

} // namespace qm
