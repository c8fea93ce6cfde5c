#pragma once
// The export's reader of an archive file: walks the blocks of the exported
// channel's group in table order, reading each block's header and frame
// tables itself through its own descriptor and its own offset lists, then
// only the channel's frames, which it returns one by one with their sound
// decoded.
// It shares nothing with the storage reader, whose threads may be playing the
// same archive meanwhile.

#include "export/export_channel_lists.h"
#include "export/export_frame_builder.h"
#include "storage/formats.h"
#include "storage/parse_index.h"

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qm {

class TArchiveFrameReader : public IExportFrameReader {
public:
    explicit TArchiveFrameReader(ExportReaderSettings settings = {});

    // Reads the archive header and the mini header table from `fd` (kept,
    // not owned) and lists the blocks of the channel's group. False, with
    // Error(), when the archive cannot be exported.
    bool bBuildBlockIndexList_AVI(int fd, int channel);
    // Also reads the frames of the other cameras of `channelMask` in the
    // channel's group, in the same pass (ExportFrame::channel tells whose).
    // Call after the list is built.
    void AddChannels(uint32_t channelMask);
    int readVideoFrameFile(ExportFrame& frame);
    int ReadFrame(ExportFrame& frame) override { return readVideoFrameFile(frame); }
    void ReleaseBlockIndexList_AVI();

    const std::string& Error() const override { return m_strError; }
    uint64_t DamagedFramesSkipped() const override { return m_nDamaged; }
    const ArchiveHeader& Header() const { return m_header; }
    uint32_t RangeStart() const { return m_nRangeStart; }
    uint32_t RangeEnd() const { return m_nRangeEnd; }
    // Entries carry their mini header, block number and list position; their
    // tables are read with the block.
    const std::vector<BlockEntry>& BlockList() const { return m_AVIBlockIndexList; }
    // Capacity of the frame buffer: it only grows while the list lives.
    size_t DataCapacity() const { return m_data.size(); }

private:
    int LoadBlock(const BlockEntry& entry);
    // Makes room for `length` bytes of the current frame; false after logging.
    bool GrowFrameBuffer(size_t length);
    // Reads bytes of the loaded block's data area; false after logging.
    bool ReadData(uint32_t offset, uint8_t* out, size_t length);
    bool Cancelled() const { return m_settings.cancel && m_settings.cancel->load() != 0; }
    void PublishProgress(uint32_t positionAfterHeader);
    bool Fail(const std::string& error);

    ExportReaderSettings m_settings;
    int m_fd = -1;
    int m_nChannel = 0;
    uint32_t m_nChannelMask = 0;
    uint64_t m_llFileLength = 0;
    ArchiveHeader m_header;
    ExportFrameContext m_context;
    uint32_t m_nRangeStart = 0;
    uint32_t m_nRangeEnd = 0;

    std::vector<BlockEntry> m_AVIBlockIndexList; // the group's blocks in table order
    size_t m_nCursor = 0;
    std::vector<uint8_t> m_data;   // the current frame's bytes; grows, never shrinks
    uint64_t m_llDataPosition = 0; // the loaded block's data area in the file
    uint32_t m_nDataLength = 0;
    uint32_t m_nBlockNumber = 0;
    bool m_bBlockLoaded = false;
    // With several cameras a block's data area is read whole into m_block.
    static constexpr uint32_t kLargestWholeBlock = 64u << 20;
    bool m_bWholeBlocks = false;
    bool m_bBlockInMemory = false;
    std::vector<uint8_t> m_block;
    ExportChannelLists m_lists;
    uint32_t m_nBlockOrdinal = 0;    // position of the loaded block in the list
    uint32_t m_nProgressDivisor = 0; // the block header's progress reference
    uint64_t m_nDamaged = 0;
    std::string m_strError;
};

} // namespace qm
