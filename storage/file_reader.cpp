#include "storage/file_reader.h"

#include <cerrno>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qm {

int OpenReadOnly(const std::string& path) {
    int fd;
    do {
        fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

uint64_t FileLength(int fd) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return 0;
    if (S_ISREG(st.st_mode)) return st.st_size > 0 ? uint64_t(st.st_size) : 0;
    if (S_ISBLK(st.st_mode)) {
        uint64_t size = 0;
        if (::ioctl(fd, BLKGETSIZE64, &size) == 0) return size;
    }
    return 0;
}

bool ReadExact(int fd, uint64_t offset, void* buffer, size_t length) {
    auto* out = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        if (offset > uint64_t(INT64_MAX)) return false;
        ssize_t n = ::pread(fd, out, length, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        out += n;
        offset += uint64_t(n);
        length -= size_t(n);
    }
    return true;
}

} // namespace qm
