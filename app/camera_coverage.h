#pragma once
// Where each camera has recording, from the index alone: the blocks' ranges
// and, where the reader holds them, the blocks' key frame tables. No frame is
// read, so it is ready as soon as the recording opens, whatever its length.

#include "storage/formats.h"

#include <array>
#include <cstdint>
#include <vector>

namespace qm {

class CQMParseIndex;

// Seconds a camera has recording, `first` included, `end` excluded.
struct CoverageSpan {
    uint32_t first = 0;
    uint32_t end = 0;
};
using CameraCoverage = std::array<std::vector<CoverageSpan>, kMaxChannels>;

// What one block tells: its range and, when its key frame table is known, the
// key frames of each camera in it (seconds); otherwise the cameras its mask
// names cover the whole block.
struct BlockKeys {
    uint32_t start = 0;
    uint32_t end = 0;
    uint32_t channelMask = 0; // 32-bit, used when `keys` is not known
    bool keysKnown = false;
    std::vector<std::pair<uint8_t, uint32_t>> keys; // (channel, time)
};

// Shorter gaps than this are not shown (the other commands report gaps over 2 s).
constexpr uint32_t kCoverageGapSeconds = 2;

// A camera covers from each key frame to its next one while they come at its
// usual pace (a key frame interval longer than that, or a block without the
// camera, is a gap). Spans closer than kCoverageGapSeconds are joined.
CameraCoverage CoverageOfBlocks(const std::vector<BlockKeys>& blocks);

// The open recording's blocks as the reader holds them (its block lists are
// built by the open and only read while it lasts).
std::vector<BlockKeys> BlockKeysOf(const CQMParseIndex& reader);

} // namespace qm
