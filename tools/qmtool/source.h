#pragma once
// Opening a SOURCE for qmtool the way the player's main window does: check the
// archive header's magic first, then open it through the storage reader.

#include "storage/parse_index.h"

#include <string>

namespace qmtool {

// Opens `path` into `reader`. On failure returns false with a one-line message.
bool OpenSource(const std::string& path, qm::CQMParseIndex& reader, std::string& error);

} // namespace qmtool
