// Opening a DVR disk (a whole-disk block device or an image of one): its
// information sector, its block table (the MHS) and the first seek.

#include "platform/block_devices.h"
#include "platform/diagnostics.h"
#include "storage/parse_index.h"
#include "storage/recording_index.h"

#include <cstring>

namespace qm {

bool CQMParseIndex::OpenDisk(int drive) {
    const auto physical = PhysicalDriveAt(drive);
    if (!physical) {
        if (m_bOpen || m_pDisk) CloseFile();
        ResetPerOpenState();
        m_strOpenError = "there is no drive " + std::to_string(drive);
        return false;
    }
    return OpenDiskPath(physical->path);
}

bool CQMParseIndex::OpenDiskPath(const std::string& path) {
    int error = 0;
    auto device = OpenRawDevice(path, &error);
    if (!device) {
        if (m_bOpen || m_pDisk) CloseFile();
        ResetPerOpenState();
        m_strPath = path;
        m_strOpenError = std::strerror(error);
        return false;
    }
    return OpenDiskDevice(std::move(device), path);
}

bool CQMParseIndex::OpenDiskDevice(std::shared_ptr<IRawDevice> device, const std::string& name) {
    if (m_bOpen || m_pDisk) CloseFile();
    m_strPath = name;
    ResetPerOpenState();
    if (!device) {
        m_strOpenError = "no device";
        return false;
    }
    m_pDisk = std::move(device);
    m_pBlockReader = std::make_unique<TimedBlockReader>(m_pDisk);
    if (!OpenDiskInternal()) {
        const std::string why = m_strOpenError;
        CloseFile();
        m_strOpenError = why;
        return false;
    }
    return true;
}

bool CQMParseIndex::ReadDiskInfo() {
    IndexError error;
    const auto sector = FindDiskInfo(*m_pDisk, error);
    if (!sector) {
        if (error.fault == IndexFault::kHeaderUnreadable)
            qmLogAt(6, log_tag::kDiskOpen, "Read DiskInfo Error: %d", error.code);
        else
            qmLogAt(6, log_tag::kDiskOpen, "Wrong HDD marker:%d", int(error.marker));
        m_strOpenError = error.text;
        return false;
    }
    m_diskInfo = sector->info;
    m_diskInfoBytes = sector->bytes;
    m_llDiskInfoOffset = sector->position;
    return true;
}

bool CQMParseIndex::LoadDiskIndex() {
    const DiskInfo& info = m_diskInfo;
    DiskIndex index;
    IndexError error;
    const bool loaded = ReadDiskIndex(*m_pDisk, info, index, error);
    switch (error.fault) {
    case IndexFault::kBlockSize:
        qmLogAt(6, log_tag::kDiskOpen, "Bad block size:%u", info.blockSize);
        break;
    case IndexFault::kTablePlace:
        qmLogAt(6, log_tag::kDiskOpen, "Bad MHS: %u bytes at %llu", info.mhsLength,
                (unsigned long long)info.mhsOffset);
        break;
    case IndexFault::kTableUnreadable:
        qmLogAt(6, log_tag::kDiskOpen, "Read MHS Error: %d", error.code);
        break;
    case IndexFault::kNone:
    case IndexFault::kNoBlock:
        qmLogAt(6, log_tag::kDiskOpen,
                "MHS slots:%zu, blocks:%zu, empty:%zu, invalid:%zu, beyond the "
                "disk:%zu",
                index.slotCount, index.blocks.size(), index.emptySlots, index.invalidSlots,
                index.outsideSlots);
        break;
    default:
        break;
    }
    if (!loaded) {
        m_strOpenError = error.text;
        return false;
    }
    if (index.recovered)
        qmLogAt(6, log_tag::kDiskOpen, "MHS damaged: %zu blocks found by scanning, %zu unindexed",
                index.blocks.size(), index.unindexedBlocks);
    m_bRecovered = index.recovered;
    m_nRecoveredBlocks = index.recovered ? uint32_t(index.blocks.size()) : 0;
    m_nStartTime = index.startTime;
    m_nEndTime = index.endTime;
    m_nChannelMask = index.channelMask;
    for (int g = 0; g < kMaxGroups; ++g) {
        const auto blocks = DiskBlocksOfGroup(index, g);
        m_diskLists[g].assign(blocks.begin(), blocks.end());
    }
    return true;
}

bool CQMParseIndex::OpenDiskInternal() {
    if (!ReadDiskInfo() || !LoadDiskIndex()) return false;
    const DiskInfo& info = m_diskInfo;
    m_nBlockSize = info.blockSize;
    m_llTotalSize = uint64_t(m_diskLists[0].size() + m_diskLists[1].size()) * m_nBlockSize;
    m_nDirection = 0;
    m_nLoadMode = 0;
    for (auto& c : m_channels) {
        c.parity = 0;
        c.readOffset = 0;
        c.info.fill(0);
        c.header = FrameHeader{};
        c.frameState = kSlotEmpty;
        c.iCursor = c.pCursor = -1;
    }
    EmptyBuffers(false);
    // The reader has buffers for two groups; a larger count is a damaged sector.
    m_nGroups = info.groups();
    if (info.channels / kChannelsPerGroup > kMaxGroups)
        qmLogAt(6, log_tag::kDiskOpen, "DiskInfo channels:%d, held to %d groups",
                int(info.channels), kMaxGroups);
    for (int g = 0; g < m_nGroups; ++g)
        for (int k = 0; k < 2; ++k)
            m_buffers[g * 2 + k].data.resize(m_nBlockSize);
    m_nByteOrder = info.byteOrder;
    if (info.codec) m_nCodec = *info.codec;
    m_nTimeOffset = 0;
    for (auto& b : m_buffers)
        b.channelMask = 0xFFFFFFFFu;
    for (int g = 0; g < kMaxGroups; ++g) {
        m_blockCursor[g] = 0;
        m_nListState[g] = 0;
    }
    // The first frames come from a seek to the start; made before the threads
    // run so that no frame of a later block is handed out ahead of it.
    SeekHDDByTime(m_nStartTime, 0);
    StartThreads();
    m_bOpen = true;
    m_evOpened.Set();
    qmLog("CQMParseIndex::OpenDisk done\n");
    return true;
}

} // namespace qm
