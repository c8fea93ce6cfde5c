#pragma once
// Damaged copies of a good recording, the way footage arrives from failing
// disks and half-finished copies: cut short at each of its structures, bytes
// flipped inside headers, tables and frames, wrong magic words, and sizes and
// counts set to zero or to huge values.

#include <cstdint>
#include <string>
#include <vector>

namespace qm::evidence {

struct Variant {
    std::string name;
    std::vector<uint8_t> bytes;
};

// An archive: its structures are found with the record parsers.
std::vector<Variant> ArchiveTruncations(const std::vector<uint8_t>& file);
std::vector<Variant> ArchiveFlips(const std::vector<uint8_t>& file, uint32_t seed);
std::vector<Variant> ArchiveWrongMagic(const std::vector<uint8_t>& file);
std::vector<Variant> ArchiveSizesAndCounts(const std::vector<uint8_t>& file);

// A DVR disk image: its information sector, MHS table and blocks.
std::vector<Variant> DiskImageVariants(const std::vector<uint8_t>& image, uint32_t seed);

} // namespace qm::evidence
