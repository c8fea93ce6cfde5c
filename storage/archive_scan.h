#pragma once
// Finding an archive's blocks without its index. Every block carries its own
// header (QmBh) in its last sector, so an archive whose header or mini header
// table is cut off, zeroed or wrong can still be read: one sequential pass
// looks at every sector for a block header, the block size follows from where
// they lie, and each block's cameras and times come from the block itself.
//
// The pass reads in large pieces and keeps only what it found (a few dozen
// bytes per block), whatever the file's size.

#include "storage/formats.h"
#include "storage/recording_index.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm {

struct ScannedBlock {
    uint32_t number = 0; // the block starts at number * blockSize
    BlockHeader header;
    int group = 0;            // from the camera of its first frame
    uint32_t channelMask = 0; // 32-bit, the block's cameras at its group's place
    bool indexed = false;     // the archive's own table lists it as it is
    // A disk's table entry for the block's slot, when it lists the block: the
    // ring's write order.
    std::optional<uint32_t> tableSequence;
    uint64_t firstFrameMs = 0; // a disk block's first frame's time, 0 when unreadable
};

struct ScannedDamage {
    uint64_t offset = 0;
    uint64_t length = 0;
    std::string what;
};

struct ArchiveScan {
    uint64_t fileLength = 0;
    uint32_t blockSize = 0; // 0 when no block header was found
    uint8_t byteOrder = kByteOrderLittle;
    // What the archive's own index said: its header (the last 512 bytes) and
    // its mini header table, each usable or not, and why not.
    bool headerUsable = false;
    bool tableUsable = false;
    std::string indexProblem;         // empty when both are usable
    std::vector<ScannedBlock> blocks; // in file order
    std::vector<ScannedDamage> damage;
    uint64_t Indexed() const;
};

// Scans the open archive `fd` of `fileLength` bytes. `percent` (optional)
// follows the pass. nullopt with `error` only when the file cannot be read;
// a file without a single block header gives an ArchiveScan with no blocks
// (and is read no further than 512 MiB to find that out).
std::optional<ArchiveScan> ScanArchive(int fd, uint64_t fileLength, IndexError& error,
                                       std::atomic<int>* percent = nullptr);

// The block size that puts the most header ends (a block's header ends where
// the block does) on block boundaries, judged among the steps between them.
// 0 when they admit no block size a recorder writes.
uint32_t BlockSizeFromHeaderEnds(const std::vector<uint64_t>& headerEnds);

} // namespace qm
