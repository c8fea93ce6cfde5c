#pragma once
// The export's reader of an archive file: walks the blocks of the exported
// channel's group in table order, reading each block's header and frame
// tables itself through its own descriptor and its own offset lists, then
// the parts of the data area that hold the channel's frames (in as few reads
// as pay), which it returns one by one with their sound decoded, their video
// lent from its buffer.
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
    // Capacity of the frame buffers: they only grow while the list lives.
    size_t DataCapacity() const { return m_data.size() + m_block.size(); }

private:
    struct Span {
        uint32_t begin;
        uint32_t end;
    };
    int LoadBlock(const BlockEntry& entry);
    // Reads, before any frame of the block is taken, the parts of the data
    // area that its frames and the headers sampled from its tables occupy.
    void ReadWanted(const std::vector<uint32_t>& sampled);
    bool Loaded(uint32_t offset, size_t length) const;
    // What the first read of the frame at `offset` takes: up to the next
    // frame's offset in the tables, whatever its camera, so that one read
    // usually brings header and payload together. `offset` leaves room for a
    // header in the data area.
    uint32_t FirstRead(uint32_t offset) const;
    // Bytes [offset, offset + length) of the loaded block's data area, read
    // when they are not in memory yet; null after logging. The pointer is
    // valid until the next call (frames lend their bytes from it).
    const uint8_t* DataBytes(uint32_t offset, size_t length);
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
    uint64_t m_llDataPosition = 0; // the loaded block's data area in the file
    uint32_t m_nDataLength = 0;
    uint32_t m_nBlockNumber = 0;
    bool m_bBlockLoaded = false;
    // A data area up to this size is read into m_block at its own offsets,
    // in as few reads as pay; a larger one frame by frame into m_data. With
    // several cameras it is read whole.
    static constexpr uint32_t kLargestWholeBlock = 64u << 20;
    bool m_bWholeBlocks = false;
    bool m_bMirrored = false;
    std::vector<uint8_t> m_block;
    std::vector<Span> m_loaded;    // the parts of m_block read, ascending and apart
    std::vector<uint8_t> m_data;   // a frame of a larger data area; grows, never shrinks
    uint32_t m_nDataAt = 0;        // its offset in the data area
    uint32_t m_nDataHeld = 0;      // and the bytes of it read
    std::vector<uint8_t> m_tables; // the loaded block's PFrameInfo and IFrameInfo
    std::vector<uint32_t> m_offsets;
    std::vector<Span> m_wanted;
    ExportChannelLists m_lists;
    uint32_t m_nBlockOrdinal = 0;    // position of the loaded block in the list
    uint32_t m_nProgressDivisor = 0; // the block header's progress reference
    uint64_t m_nDamaged = 0;
    std::string m_strError;
};

} // namespace qm
