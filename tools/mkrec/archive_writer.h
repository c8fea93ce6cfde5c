#pragma once
// Lays blocks into an .avr archive: the blocks from the start of the file in
// time order (the two groups' blocks interleaved), then the mini header table,
// then the 512-byte archive header.

#include "tools/mkrec/block_builder.h"

#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>
#include <vector>

namespace qm::mkrec {

struct ArchiveSettings {
    uint32_t channelMask = 0;
    uint8_t byteOrder = 1;
    uint8_t codecByte = 0x20;
    uint32_t blockSize = 0;
    uint8_t timeOffset = 0;
};

// Where the parts of a finished archive lie, in bytes from the file's start.
struct ArchiveLayout {
    size_t blocks = 0;
    uint64_t miniTableOffset = 0;
    uint64_t miniTableLength = 0;
    uint64_t headerOffset = 0; // the header is the file's last kArchiveHeaderSize bytes
    uint64_t fileSize = 0;
    // Each block's two frame tables, which lie together before its header:
    // the first byte of its PFrameInfo table and the bytes up to the header.
    struct Tables {
        uint64_t offset = 0;
        uint64_t length = 0;
    };
    std::vector<Tables> blockTables; // in file order
};

class ArchiveWriter : public BlockSink {
public:
    // Throws std::runtime_error when the file cannot be created.
    ArchiveWriter(const std::string& path, const ArchiveSettings& settings);
    ~ArchiveWriter() override;

    // Blocks of each group must arrive in time order; across groups they may
    // arrive in any order and are merged by start time (group 0 first on a tie).
    void putBlock(Block&& block) override;
    // Writes the remaining blocks, the mini header table and the header.
    ArchiveLayout finish();

    size_t blocksWritten() const { return m_miniHeaders.size(); }

private:
    struct MiniHeader {
        int group;
        uint16_t channelMask;
        uint32_t start, end;
    };
    void writeReady(bool all);
    void writeBlock(const Block& block);
    void writeBytes(const uint8_t* data, size_t size);

    std::string m_path;
    ArchiveSettings m_settings;
    std::FILE* m_file = nullptr;
    std::deque<Block> m_pending[2];
    std::vector<MiniHeader> m_miniHeaders;
    uint32_t m_start = 0xFFFFFFFF, m_end = 0;
    bool m_finished = false;
    ArchiveLayout m_layout;
};

} // namespace qm::mkrec
