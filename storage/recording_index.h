#pragma once
// Reading and checking the index of a recording, once for every reader of it:
// the storage reader, the export readers, qmtool and the main window.
//
// An archive keeps its header in the file's last 512 bytes and the mini header
// table where that header says; a DVR disk keeps its information sector
// (DiskInfo) in sector 1, or sector 0x12001 on a memory card, and the block
// table (MHS) where that sector says. Nothing here keeps state or starts a
// thread: each function reads what it is asked for through the descriptor or
// device it is given and returns a plain value, or says why not in an
// IndexError. Every length, count and offset is checked against the file or
// device before it is used to allocate or read.

#include "platform/byte_order.h"
#include "platform/raw_device.h"
#include "storage/disk_index.h"
#include "storage/formats.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qm {

// Recorders write blocks of a few megabytes; the reader keeps four buffers of
// a block, so anything much larger can only come from a damaged header.
constexpr uint64_t kMaxBlockSize = uint64_t(256) << 20;
// 16 million slots: far beyond any disk's ring, still a bounded read.
constexpr uint64_t kMaxMhsBytes = uint64_t(256) << 20;

// The player's message for a file that is not an archive.
constexpr const char* kArchiveFormatError = "Check file format error.";

enum class IndexFault {
    kNone,
    kCannotOpen,       // the path cannot be opened
    kHeaderUnreadable, // the archive header or the information sector cannot be read
    kNotRecording,     // no archive magic, no information sector marker
    kBlockSize,        // a block size no recorder writes
    kTablePlace,       // the mini header table or the MHS does not lie in the file or disk
    kTableUnreadable,  // reading the table failed
    kNoMemory,
    kNoBlock, // the disk's table names no recorded block
};

struct IndexError {
    IndexFault fault = IndexFault::kNone;
    int code = 0;        // the system's error code, for a failed open or read
    uint32_t marker = 0; // kNotRecording on a disk: the word found in sector 1
    std::string text;    // why, in a few words for a message
};

// --- Archives ---

// The header at the end of the open archive `fd` of `fileLength` bytes. Its
// magic is not looked at: the storage reader leaves that test to its callers.
// When the header or the mini header table is missing or damaged (no magic,
// an impossible layout, a table without one usable entry) and a scan finds
// blocks in the file, the header made from the scan (`recovered`) instead.
std::optional<ArchiveHeader> ReadArchiveHeader(int fd, uint64_t fileLength, IndexError& error);
// The header and table exactly as stored, never a scan.
std::optional<ArchiveHeader> ReadStoredArchiveHeader(int fd, uint64_t fileLength,
                                                     IndexError& error);
// Opens `path` read-only and reads its header; refuses a file without the
// archive magic (kNotRecording) and tells it apart from one that cannot be
// opened (kCannotOpen, the text being the system's reason).
std::optional<ArchiveHeader> ReadArchiveHeader(const std::string& path, IndexError& error);

// The block size is whole sectors, not 0, not above kMaxBlockSize and not
// longer than the file; the mini header table lies inside the file.
bool CheckArchiveLayout(const ArchiveHeader& header, uint64_t fileLength, IndexError& error);

struct ArchiveBlock {
    uint32_t number = 0; // its index in the mini header table: it starts at number * B
    MiniHeader mini;     // the group byte is 0 in a one-group archive
};

// Every group the reader keeps lists for.
constexpr int kEveryGroup = -1;

// Checks the layout, reads the mini header table in one read and lists, in
// table order, the blocks of `group` (or of kEveryGroup) that lie wholly
// inside the file. A recovered header's blocks are the scan's, in file order.
std::optional<std::vector<ArchiveBlock>> ReadArchiveBlocks(int fd, const ArchiveHeader& header,
                                                           uint64_t fileLength, int group,
                                                           IndexError& error);
std::optional<std::vector<ArchiveBlock>> ReadStoredArchiveBlocks(int fd,
                                                                 const ArchiveHeader& header,
                                                                 uint64_t fileLength, int group,
                                                                 IndexError& error);

// --- Disks ---

struct DiskInfoSector {
    DiskInfo info;
    std::array<uint8_t, kDiskInfoSize> bytes{};
    uint64_t position = 0; // kDiskInfoOffset on a hard disk, kCardDiskInfoOffset on a card
};

// Looks for the information sector in sector 1, then where a memory card keeps
// it. A read error of sector 1 is reported when neither holds the marker.
std::optional<DiskInfoSector> FindDiskInfo(IRawDevice& device, IndexError& error);

// The MHS as stored, after its place is checked against the device.
std::optional<std::vector<uint8_t>> ReadDiskTable(IRawDevice& device, const DiskInfo& info,
                                                  IndexError& error);

// Checks the block size and the MHS's place against the device, reads the MHS
// and builds the index. When the MHS cannot be read, names no block or is
// mostly damaged, the index comes from a scan of the ring (`recovered`). `index` is filled whenever the MHS was read, also when
// it names no block (kNoBlock), so that its slot counts can be reported.
bool ReadDiskIndex(IRawDevice& device, const DiskInfo& info, DiskIndex& index, IndexError& error);

// A disk's blocks of one group, in recording order: the recorders write one
// group's blocks only, so the second group has none.
std::span<const MiniHeader> DiskBlocksOfGroup(const DiskIndex& index, int group);

} // namespace qm
