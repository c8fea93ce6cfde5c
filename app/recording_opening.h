#pragma once
// Opening an archive the way the main window does: the file's last 512 bytes
// must be an archive header with its magic word before the player's reader
// is asked; each way of failing has the message the user sees.

#include "storage/formats.h"

#include <QString>

#include <functional>
#include <optional>

namespace qm {

class CQMPlayerEx;

enum class ArchiveOpen {
    kOpened,
    kUnreadable,    // the file cannot be opened: "Open file failed."
    kNotAnArchive,  // no archive header: "Check file format error."
    kReaderRefused, // the reader refused its index: "Unknow file format, ..."
};

// The header of the archive at `path` (its last 512 bytes, magic checked);
// nullopt when it cannot be read or is none.
std::optional<ArchiveHeader> ReadArchiveHeaderOf(const QString& path);

// The message for a failed open (empty for kOpened).
QString ArchiveOpenMessage(ArchiveOpen result);

// Closes what the player had open and opens `path`. `headerRead` runs once
// the header checked out and before the reader opens, with the header (the
// window prepares its camera buttons and timeline from it).
ArchiveOpen OpenArchiveInPlayer(CQMPlayerEx& player, const QString& path,
                                const std::function<void(const ArchiveHeader&)>& headerRead);

} // namespace qm
