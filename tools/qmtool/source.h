#pragma once
// Opening a SOURCE for qmtool the way the player does: an archive after its
// header's magic has been checked, a disk image or a block device as a DVR
// disk, through the storage reader.

#include "storage/parse_index.h"

#include <string>

namespace qmtool {

// Opens `path` into `reader`. On failure returns false with a one-line message.
bool OpenSource(const std::string& path, qm::CQMParseIndex& reader, std::string& error);

} // namespace qmtool
