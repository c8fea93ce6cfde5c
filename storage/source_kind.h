#pragma once
// What a path given as a recording is: an archive file, an image of a DVR
// disk, or a block device (a DVR disk or card itself). The player, the main
// window and qmtool open each kind its own way.

#include <string>

namespace qm {

enum class SourceKind {
    kUnknown,     // missing, unreadable or neither
    kArchive,     // the last 512 bytes are an archive header (QmXf either way round)
    kDiskImage,   // a file with the QmVd marker in sector 1, or in sector 0x12001 (a card)
    kBlockDevice, // read as a DVR disk; OpenDisk tells whether it is one
};

// Classifies `path`. For kUnknown, `error` (when given) says why in a few words.
SourceKind ClassifySource(const std::string& path, std::string* error = nullptr);

const char* SourceKindName(SourceKind kind);

} // namespace qm
