#pragma once
// An archive read through a scan for its blocks (archive_scan.h) when its own
// index cannot be used. The scan of a file is made once and shared by every
// reader of it in the process (the storage reader, the export readers, the
// main window), kept by the file's device, inode and size and used again
// while the bytes it rests on are unchanged.

#include "storage/archive_scan.h"
#include "storage/formats.h"
#include "storage/recording_index.h"

#include <memory>
#include <optional>
#include <vector>

namespace qm {

// Whether the stored header's layout holds and its table lists at least one
// block with plausible times (a zeroed table lists none).
bool StoredIndexUsable(int fd, const ArchiveHeader& stored, uint64_t fileLength);

// The scan of the open file `fd`, made on the first call for that file.
// Null when the file cannot be read.
std::shared_ptr<const ArchiveScan> ScanOf(int fd, uint64_t fileLength);

// The header made from the scan: cameras, times, block size and byte order
// from the blocks; the codec and time offset from the stored header when it
// still has its magic. nullopt when the scan found no block.
std::optional<ArchiveHeader> RecoveredArchiveHeader(int fd, uint64_t fileLength,
                                                    const std::optional<ArchiveHeader>& stored);

// The scan's blocks of `group` (or kEveryGroup), in file order.
std::optional<std::vector<ArchiveBlock>> RecoveredArchiveBlocks(int fd, uint64_t fileLength,
                                                                int group);

} // namespace qm
