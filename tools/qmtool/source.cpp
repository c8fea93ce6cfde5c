#include "tools/qmtool/source.h"

#include "storage/file_reader.h"
#include "storage/formats.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>
#include <vector>

namespace qmtool {

bool OpenSource(const std::string& path, qm::CQMParseIndex& reader, std::string& error) {
    const int fd = qm::OpenReadOnly(path);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    const uint64_t length = qm::FileLength(fd);
    std::vector<uint8_t> header(qm::kArchiveHeaderSize);
    const bool readable = length >= header.size() &&
                          qm::ReadExact(fd, length - header.size(), header.data(), header.size());
    ::close(fd);
    if (!readable || !qm::checkArchiveMagic(qm::ByteView(header.data(), header.size()))) {
        error = path + ": Check file format error.";
        return false;
    }
    if (!reader.OpenFile(path)) {
        error = path + ": Unknow file format, please check file or download new Player.";
        return false;
    }
    return true;
}

} // namespace qmtool
