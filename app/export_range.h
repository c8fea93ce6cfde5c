#pragma once
// The moments a Save as AVI from a disk covers for the seconds its two
// pickers show.

#include <cstdint>

namespace qm {

// Stored times in milliseconds, both included.
struct ExportRangeMs {
    int64_t first = 0;
    int64_t last = 0;
};

// The end picker's second is exported whole, as `qmtool export --to` does
// with a time without milliseconds: the user picked the last second they
// want to see, and the frames of that second are in it.
constexpr ExportRangeMs PickedExportRange(int64_t startSeconds, int64_t endSeconds) {
    return {startSeconds * 1000, endSeconds * 1000 + 999};
}

} // namespace qm
