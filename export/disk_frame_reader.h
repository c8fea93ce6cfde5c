#pragma once
// The export's reader of a DVR disk: walks the disk's blocks of the exported
// channel's group in recording order (the ring's write order), reads each
// block's header, data area and frame tables itself, with a time limit, from
// the export's own device handle, and returns the channel's video frames in
// the chosen range one by one with their sound decoded.
//
// The range starts at `rangeStart` and ends before `rangeEnd`: the end picker
// of the save dialog names the first second left out. Blocks follow one
// another in time on a disk, so the first frame at or after the end ends the
// data.

#include "export/disk_export_source.h"
#include "export/export_channel_lists.h"
#include "export/export_frame.h"
#include "export/export_frame_builder.h"
#include "platform/timed_read.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace qm {

class TDiskFrameReader : public IExportFrameReader {
public:
    explicit TDiskFrameReader(ExportReaderSettings settings = {},
                              int64_t readTimeoutMs = kExportDiskReadTimeoutMs);

    // Lists the disk's blocks of the channel's group that overlap the range.
    // False, with Error(), for an impossible channel or range.
    bool bBuildBlockIndexList_AVI(std::shared_ptr<const DiskExportSource> disk, int channel,
                                  uint32_t rangeStart, uint32_t rangeEnd);
    // Also reads the frames of the other cameras of `channelMask` in the
    // channel's group, in the same pass (ExportFrame::channel tells whose).
    // Call after the list is built.
    void AddChannels(uint32_t channelMask);
    int readVideoFrameHDD(ExportFrame& frame);
    int ReadFrame(ExportFrame& frame) override { return readVideoFrameHDD(frame); }
    void ReleaseBlockIndexList_AVI();

    const std::string& Error() const override { return m_strError; }
    uint64_t DamagedFramesSkipped() const override { return m_nDamaged; }
    // Entries are the MHS records, each sequence field the block's slot.
    const std::vector<MiniHeader>& BlockList() const { return m_AVIBlockIndexList; }
    size_t DataCapacity() const { return m_data.size(); }

private:
    int LoadBlock(const MiniHeader& entry);
    // One read of the block's parts; false with the system error code.
    bool ReadPart(uint8_t* out, uint64_t offset, size_t length, int& error);
    bool Cancelled() const { return m_settings.cancel && m_settings.cancel->load() != 0; }
    void PublishProgress(uint32_t positionAfterHeader);
    int Failed(int result, const std::string& error);

    ExportReaderSettings m_settings;
    int64_t m_llReadTimeoutMs;
    std::shared_ptr<const DiskExportSource> m_pDisk;
    std::unique_ptr<TimedBlockReader> m_pReader;
    int m_nChannel = 0;
    uint32_t m_nChannelMask = 0;
    uint32_t m_nRangeStart = 0;
    uint32_t m_nRangeEnd = 0;
    ExportFrameContext m_context;

    std::vector<MiniHeader> m_AVIBlockIndexList;
    size_t m_nCursor = 0;
    std::vector<uint8_t> m_data; // the current block's data area; grows, never shrinks
    uint32_t m_nDataLength = 0;
    bool m_bBlockLoaded = false;
    ExportChannelLists m_lists;
    uint32_t m_nBlockOrdinal = 0;    // position of the loaded block in the list
    uint32_t m_nProgressDivisor = 0; // the block header's progress reference
    uint64_t m_nDamaged = 0;
    std::string m_strError;
};

} // namespace qm
