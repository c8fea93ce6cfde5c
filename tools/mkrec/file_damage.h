#pragma once
// Damages a file that has been written: zeroes stretches of it, then cuts it.

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace qm::mkrec {

struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

// Zeroes each range, then, if asked, truncates the file to `cutAt` bytes.
// Throws std::runtime_error when a write fails, and before changing anything
// when the cut lies beyond the file's end.
void damageFile(const std::string& path, std::span<const ByteRange> zeroed,
                std::optional<uint64_t> cutAt);

} // namespace qm::mkrec
