#pragma once
// Reads one camera's frames of a range from a source again, through the
// same readers an export uses, without writing anything: what checks an
// export against the recording it came from.

#include "export/export_frame.h"

#include <cstdint>
#include <functional>
#include <string>

namespace qm {

// Calls `each` for every frame of camera `channel` (0-31) of the archive,
// disk image or device at `path`, from the key frame at or before `first`
// to `last` (stored milliseconds, both included). Sound is not decoded.
// False with a message when the source cannot be read to the end of the range.
bool ReadSourceFrames(const std::string& path, int channel, int64_t first, int64_t last,
                      const std::function<void(const ExportFrame&)>& each, std::string& error);

} // namespace qm
