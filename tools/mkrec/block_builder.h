#pragma once
// Packs one group's frames into fixed-size blocks: data area, LaSt, the
// PFrameInfo and IFrameInfo tables and the block header. Finished blocks go to
// a BlockSink, which lays them into a container (an archive file here; a disk
// image lays the same blocks into a ring).

#include "tools/mkrec/frame_writer.h"

#include <cstdint>
#include <span>
#include <vector>

namespace qm::mkrec {

struct Block {
    int group = 0;
    uint32_t start = 0;         // time of the first frame
    uint32_t end = 0;           // time of the last frame
    uint16_t channelMask = 0;   // the group's 16 channels that have frames in it
    std::vector<uint8_t> bytes; // exactly the block size
};

class BlockSink {
public:
    virtual ~BlockSink() = default;
    virtual void putBlock(Block&& block) = 0;
};

class BlockBuilder {
public:
    BlockBuilder(uint32_t blockSize, bool bigEndian, int group, BlockSink& sink);

    // Adds frames that should stay in one block (a key frame and its followers).
    // If they do not fit in what is left, the current block is closed first; if
    // they do not fit in an empty block either, they are spread over several.
    // Throws std::length_error for a single frame larger than a block.
    void addRun(std::span<const SerializedFrame> frames);
    // Closes the current block, if it holds any frame.
    void flush();

private:
    struct Placed {
        uint32_t unitOffset;
        int channel;
        bool key;
        uint32_t time;
    };
    bool fits(std::span<const SerializedFrame> frames) const;
    void append(const SerializedFrame& frame);

    uint32_t m_blockSize;
    bool m_big;
    int m_group;
    BlockSink& m_sink;
    std::vector<uint8_t> m_data;
    std::vector<Placed> m_frames;
    size_t m_keyCount = 0;
};

// Size in sectors of a table of `count` records, at least one sector.
uint32_t tableSectors(size_t count, uint32_t recordSize);

} // namespace qm::mkrec
