#include "app/recording_opening.h"

#include "player/player_ex.h"
#include "storage/recording_index.h"

#include <QFile>

namespace qm {

std::optional<ArchiveHeader> ReadArchiveHeaderOf(const QString& path) {
    IndexError error;
    return ReadArchiveHeader(QFile::encodeName(path).toStdString(), error);
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
    IndexError error;
    const auto header = ReadArchiveHeader(QFile::encodeName(path).toStdString(), error);
    if (!header)
        return error.fault == IndexFault::kCannotOpen ? ArchiveOpen::kUnreadable
                                                      : ArchiveOpen::kNotAnArchive;
    if (headerRead) headerRead(*header);
    return player.OpenArchive(QFile::encodeName(path).toStdString()) ? ArchiveOpen::kOpened
                                                                     : ArchiveOpen::kReaderRefused;
}

} // namespace qm
