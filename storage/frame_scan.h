#pragma once
// Frames of a block whose own frame tables cannot be believed. A block's
// IFrameInfo and PFrameInfo tables are written after its frames, so a write
// cut short or an overwritten sector can leave the frames whole and the
// tables zeroed or garbage. Such a block is judged damaged from the tables
// themselves and a few of the frame headers they point at, and its frames are
// then found by walking the data area from header to header.
//
// Both the storage reader and the export build their lists through here, so
// that playback and export agree on every block.

#include "platform/byte_order.h"
#include "storage/formats.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace qm {

// A block's two tables and the record counts its header gives. Counts are
// trusted only as far as the table bytes reach.
struct FrameTables {
    ByteView iTable;
    uint32_t iCount = 0;
    ByteView pTable;
    uint32_t pCount = 0;
};

// The frame header at a byte offset of the data area; nullopt when it cannot be read.
using FrameHeaderAt = std::function<std::optional<FrameHeader>(uint32_t offset)>;

// At most this many records of each table have the header they point at read.
constexpr uint32_t kTableHeaderSamples = 16;

// True when the tables are empty although the block's mask names cameras, or
// when fewer than half of their records check out. A record checks out when
// it points inside the data area, past the previous record of its table (the
// DVR writes both in data order; a zeroed table repeats offset 0), and at a
// channel of the block's mask; for an evenly spread sample of records the
// header there must also carry the frame marker and the record's channel.
// `group` is the block's group, 0 or 1.
bool frameTablesDamaged(const FrameTables& tables, const BlockHeader& header, int group,
                        uint64_t dataLength, uint8_t byteOrder, const FrameHeaderAt& headerAt);
// The same with the data area in memory.
bool frameTablesDamaged(const FrameTables& tables, const BlockHeader& header, int group,
                        ByteView data, uint8_t byteOrder);

// Whether a frame header found at `offset` of a data area of `dataLength`
// bytes can be a frame of the block: the marker, a channel of the block's
// mask, a time within the block's (a second of slack either side), and a
// length of at least one unit that ends inside the data area.
bool frameFitsBlock(const FrameHeader& frame, uint64_t offset, uint64_t dataLength,
                    const BlockHeader& header, int group);

struct ScannedKeyFrame {
    uint32_t offset = 0;     // of the frame header in the data area
    uint16_t timeOffset = 0; // seconds after the block header's start
};
// Each channel's frames in data order: key frames and the others apart, as
// the tables would have listed them.
struct ScannedFrames {
    std::array<std::vector<ScannedKeyFrame>, kMaxChannels> key;
    std::array<std::vector<uint32_t>, kMaxChannels> other;

    size_t Count() const;
};
// Walks the data area at unit steps from its start: a header that fits the
// block is taken and the walk goes on after its frame, so that payload bytes
// are never taken for headers; anything else moves one unit on. The walk
// ends at the LaSt word or the end of the area.
ScannedFrames scanFrames(ByteView data, const BlockHeader& header, int group, uint8_t byteOrder);

} // namespace qm
