#include "app/recording_opening.h"

#include "player/player_ex.h"
#include "storage/file_reader.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <vector>

namespace qm {

namespace {

enum class TailRead { kOk, kOpenFailed, kTooShort };

TailRead ReadTail(const QString& path, std::vector<uint8_t>& tail) {
    const int fd = OpenReadOnly(QFile::encodeName(path).toStdString());
    if (fd < 0) return TailRead::kOpenFailed;
    struct stat st {};
    TailRead result = TailRead::kTooShort;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) &&
        uint64_t(st.st_size) >= kArchiveHeaderSize) {
        tail.resize(kArchiveHeaderSize);
        if (ReadExact(fd, uint64_t(st.st_size) - kArchiveHeaderSize, tail.data(), tail.size()))
            result = TailRead::kOk;
    }
    ::close(fd);
    return result;
}

} // namespace

std::optional<ArchiveHeader> ReadArchiveHeaderOf(const QString& path) {
    std::vector<uint8_t> tail;
    if (ReadTail(path, tail) != TailRead::kOk) return std::nullopt;
    const ByteView view(tail.data(), tail.size());
    return checkArchiveMagic(view) ? parseArchiveHeader(view) : std::nullopt;
}

QString ArchiveOpenMessage(ArchiveOpen result) {
    switch (result) {
    case ArchiveOpen::kOpened:
        return {};
    case ArchiveOpen::kUnreadable:
        return QStringLiteral("Open file failed.");
    case ArchiveOpen::kNotAnArchive:
        return QStringLiteral("Check file format error.");
    case ArchiveOpen::kReaderRefused:
        return QStringLiteral("Unknow file format, please check file or download new Player.");
    }
    return {};
}

ArchiveOpen OpenArchiveInPlayer(CQMPlayerEx& player, const QString& path,
                                const std::function<void(const ArchiveHeader&)>& headerRead) {
    player.Close();
    std::vector<uint8_t> tail;
    const TailRead read = ReadTail(path, tail);
    if (read == TailRead::kOpenFailed) return ArchiveOpen::kUnreadable;
    const ByteView view(tail.data(), tail.size());
    const auto header =
        read == TailRead::kOk && checkArchiveMagic(view) ? parseArchiveHeader(view) : std::nullopt;
    if (!header) return ArchiveOpen::kNotAnArchive;
    if (headerRead) headerRead(*header);
    return player.OpenArchive(QFile::encodeName(path).toStdString()) ? ArchiveOpen::kOpened
                                                                     : ArchiveOpen::kReaderRefused;
}

} // namespace qm
