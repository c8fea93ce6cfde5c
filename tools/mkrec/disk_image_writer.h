#pragma once
// Lays blocks into an image of a DVR's disk: the information sector (DiskInfo)
// at byte 512, or at sector 0x12001 on a memory card; the MHS, one 16-byte
// mini header per block slot, right after it; then the ring of block slots
// from the data base on. Blocks go into the ring in time order from a start
// slot, wrapping past the last slot and overwriting the oldest blocks when
// there are more blocks than slots, as a recorder does. Each written slot's
// mini header carries the block's sequence number; unused slots stay empty or
// get entries a reader must refuse. Stale blocks, left from before a recorder
// reset, go into the slots after the recording's own with no MHS entry. The
// image is sparse: empty slots are holes.

#include "tools/mkrec/block_builder.h"

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace qm::mkrec {

// What the command line chooses for a disk image.
struct DiskImageOptions {
    bool card = false;
    uint32_t ringSlots = 0; // 0: the blocks, the stale blocks and two empty slots
    std::optional<uint32_t> ringStart;
    bool wrap = false; // start the ring so that it wraps past its last slot
    uint32_t firstSequence = 1;
    uint32_t invalidSlots = 0;
};

struct DiskImageSettings {
    DiskImageOptions ring;
    uint8_t byteOrder = 1;
    uint8_t codecByte = 0x20;
    uint32_t blockSize = 0;
    uint16_t channels = 16; // the recorder's camera count (DiskInfo offset 20)
};

// Slot contents, as a test may want to check them.
constexpr int64_t kSlotEmpty = -1;
constexpr int64_t kSlotInvalid = -2;
constexpr int64_t kSlotStale = -3; // a whole block the MHS does not list

struct DiskImageLayout {
    uint64_t diskInfoOffset = 0;
    uint64_t mhsOffset = 0;
    uint32_t mhsLength = 0;
    uint64_t dataBase = 0;
    uint32_t blockSize = 0;
    uint32_t slotCount = 0;
    uint64_t imageSize = 0;
    size_t blocksGenerated = 0;
    size_t blocksKept = 0; // the others were overwritten by the ring
    // Per slot: the index (in time order) of the block it holds, or kSlotEmpty,
    // kSlotInvalid or kSlotStale.
    std::vector<int64_t> slotBlock;
};

class DiskImageWriter : public BlockSink {
public:
    // Throws std::runtime_error when the file cannot be created.
    DiskImageWriter(const std::string& path, const DiskImageSettings& settings);
    ~DiskImageWriter() override;

    void putBlock(Block&& block) override;
    // A block of an earlier recording: written into a slot after the
    // recording's own blocks, in the order given, and left out of the MHS.
    void putStaleBlock(Block&& block);
    size_t blocksReceived() const { return m_blocks.size(); }
    // Lays out the ring and writes the image. Throws std::runtime_error when
    // the ring settings do not fit the blocks or a write fails.
    DiskImageLayout finish();

private:
    struct Spilled {
        int group;
        uint16_t channelMask;
        uint32_t start, end;
        size_t index; // position in the spill file, in blocks
    };
    Spilled spill(const Block& block);
    void copySpilled(const Spilled& block, uint64_t offset, std::vector<uint8_t>& buffer);
    void writeAt(uint64_t offset, const uint8_t* data, size_t size);
    uint32_t startSlot(size_t count, uint32_t slotCount) const;

    std::string m_path;
    DiskImageSettings m_settings;
    std::FILE* m_file = nullptr;
    std::FILE* m_spill = nullptr; // blocks as they come, laid out at the end
    std::vector<Spilled> m_blocks;
    std::vector<Spilled> m_staleBlocks;
    size_t m_spilled = 0;
    bool m_finished = false;
};

} // namespace qm::mkrec
