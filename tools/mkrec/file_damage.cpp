#include "tools/mkrec/file_damage.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qm::mkrec {
namespace {

class OpenFile {
public:
    explicit OpenFile(const std::string& path) : m_path(path) {
        m_fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        if (m_fd < 0) fail("cannot open");
    }
    ~OpenFile() {
        if (m_fd >= 0) ::close(m_fd);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    uint64_t size() {
        struct stat st {};
        if (::fstat(m_fd, &st) != 0) fail("cannot read the size of");
        return uint64_t(st.st_size);
    }
    void zero(const ByteRange& range) {
        static const std::vector<uint8_t> zeros(1 << 16, 0);
        for (uint64_t done = 0; done < range.length;) {
            const size_t n = size_t(std::min<uint64_t>(zeros.size(), range.length - done));
            const ssize_t w = ::pwrite(m_fd, zeros.data(), n, off_t(range.offset + done));
            if (w <= 0) fail("cannot write");
            done += uint64_t(w);
        }
    }
    void truncate(uint64_t size) {
        if (::ftruncate(m_fd, off_t(size)) != 0) fail("cannot cut");
    }
    void close() {
        const int fd = m_fd;
        m_fd = -1;
        if (::close(fd) != 0) fail("cannot write");
    }

private:
    [[noreturn]] void fail(const char* what) const {
        throw std::runtime_error(std::string(what) + " " + m_path + ": " + std::strerror(errno));
    }
    std::string m_path;
    int m_fd = -1;
};

} // namespace

void damageFile(const std::string& path, std::span<const ByteRange> zeroed,
                std::optional<uint64_t> cutAt) {
    OpenFile file(path);
    const uint64_t size = file.size();
    if (cutAt && *cutAt > size)
        throw std::runtime_error("--cut-at " + std::to_string(*cutAt) +
                                 " lies beyond the end of the file, which has " +
                                 std::to_string(size) + " bytes");
    for (const ByteRange& range : zeroed) {
        // Zeroing past the end would grow the file instead of damaging it.
        if (range.offset > size || range.length > size - range.offset)
            throw std::logic_error("a zeroed range lies beyond the end of " + path);
        file.zero(range);
    }
    if (cutAt) file.truncate(*cutAt);
    file.close();
}

} // namespace qm::mkrec
