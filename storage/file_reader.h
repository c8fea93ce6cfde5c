#pragma once
// Read-only access to recordings. Recordings are evidence: they are opened
// O_RDONLY and only ever read with pread, which is safe from several threads.

#include <cstddef>
#include <cstdint>
#include <string>

namespace qm {

// -1 on failure.
int OpenReadOnly(const std::string& path);
// Length of a regular file or block device; 0 when unknown.
uint64_t FileLength(int fd);
// Reads exactly `length` bytes at `offset`; false on an error or a short read.
bool ReadExact(int fd, uint64_t offset, void* buffer, size_t length);

} // namespace qm
