// Opening a DVR disk (a whole-disk block device or an image of one): its
// information sector, its block table (the MHS) and the first seek.

#include "platform/block_devices.h"
#include "platform/diagnostics.h"
#include "storage/disk_index.h"
#include "storage/parse_index.h"

#include <cstring>

namespace qm {

namespace {

// Blocks of a few megabytes are what recorders write; anything larger comes
// from a damaged sector and would cost four buffers of it.
constexpr uint64_t kMaxDiskBlockSize = uint64_t(256) << 20;
// 16 million slots: far beyond any disk's ring, still a bounded read.
constexpr uint64_t kMaxMhsBytes = uint64_t(256) << 20;

std::string ErrorText(int32_t result) {
    return std::strerror(ReadErrorCode(result));
}

} // namespace

int CQMParseIndex::OpenDisk(int drive) {
    const auto physical = PhysicalDriveAt(drive);
    if (!physical) {
        if (m_bOpen || m_pDisk) CloseFile();
        ResetPerOpenState();
        m_strOpenError = "there is no drive " + std::to_string(drive);
        return 0;
    }
    return OpenDiskPath(physical->path);
}

int CQMParseIndex::OpenDiskPath(const std::string& path) {
    int error = 0;
    auto device = OpenRawDevice(path, &error);
    if (!device) {
        if (m_bOpen || m_pDisk) CloseFile();
        ResetPerOpenState();
        m_strPath = path;
        m_strOpenError = std::strerror(error);
        return 0;
    }
    return OpenDiskDevice(std::move(device), path);
}

int CQMParseIndex::OpenDiskDevice(std::shared_ptr<IRawDevice> device, const std::string& name) {
    if (m_bOpen || m_pDisk) CloseFile();
    m_strPath = name;
    ResetPerOpenState();
    if (!device) {
        m_strOpenError = "no device";
        return 0;
    }
    m_pDisk = std::move(device);
    m_pBlockReader = std::make_unique<TimedBlockReader>(m_pDisk);
    if (!OpenDiskInternal()) {
        const std::string why = m_strOpenError;
        CloseFile();
        m_strOpenError = why;
        return 0;
    }
    return 1;
}

bool CQMParseIndex::ReadDiskInfo() {
    // A hard disk keeps its information sector in sector 1; a memory card
    // keeps it in sector 0x12001, after the area its file system uses.
    int32_t read = ReadAt(m_diskInfoBytes.data(), kDiskInfoOffset, kDiskInfoSize, *m_pDisk);
    if (read < 0) {
        qmLog("[6][ParseIndex] Read DiskInfo Error: %d", ReadErrorCode(read));
        m_strOpenError = "cannot read the disk's information sector: " + ErrorText(read);
        return false;
    }
    const uint32_t word = loadLE32(m_diskInfoBytes.data());
    m_llDiskInfoOffset = kDiskInfoOffset;
    if (!isDiskMagic(word)) {
        std::array<uint8_t, kDiskInfoSize> card{};
        read = ReadAt(card.data(), kCardDiskInfoOffset, kDiskInfoSize, *m_pDisk);
        if (read < 0 || !isDiskMagic(loadLE32(card.data()))) {
            qmLog("[6][ParseIndex] Wrong HDD marker:%d", int(word));
            m_strOpenError = "no DVR information sector (QmVd) in sector 1 or sector 0x12001";
            return false;
        }
        m_diskInfoBytes = card;
        m_llDiskInfoOffset = kCardDiskInfoOffset;
    }
    m_diskInfo = *parseDiskInfo(ByteView(m_diskInfoBytes.data(), m_diskInfoBytes.size()));
    return true;
}

bool CQMParseIndex::LoadDiskIndex() {
    const DiskInfo& info = m_diskInfo;
    const uint64_t B = info.blockSize;
    if (B <= kBlockHeaderSize || B % kSectorSize != 0 || B > kMaxDiskBlockSize) {
        qmLog("[6][ParseIndex] Bad block size:%u", info.blockSize);
        m_strOpenError = "the information sector gives an impossible block size of " +
                         std::to_string(info.blockSize) + " bytes";
        return false;
    }
    const uint64_t size = m_pDisk->Size(); // 0: unknown, reads will tell
    if (info.mhsLength < kMiniHeaderSize || info.mhsLength > kMaxMhsBytes ||
        (size && (info.mhsOffset > size || info.mhsLength > size - info.mhsOffset))) {
        qmLog("[6][ParseIndex] Bad MHS: %u bytes at %llu", info.mhsLength,
              (unsigned long long)info.mhsOffset);
        m_strOpenError = "the block table (MHS) of " + std::to_string(info.mhsLength) +
                         " bytes at " + std::to_string(info.mhsOffset) +
                         " does not lie on the disk";
        return false;
    }
    std::vector<uint8_t> mhs(info.mhsLength);
    const int32_t read = ReadAt(mhs.data(), info.mhsOffset, mhs.size(), *m_pDisk);
    if (read < 0) {
        qmLog("[6][ParseIndex] Read MHS Error: %d", ReadErrorCode(read));
        m_strOpenError = "cannot read the block table (MHS): " + ErrorText(read);
        return false;
    }
    uint64_t usableSlots = UINT64_MAX;
    if (size) usableSlots = size > info.dataBase ? (size - info.dataBase) / B : 0;

    DiskIndex index = BuildDiskIndex(ByteView(mhs.data(), mhs.size()), usableSlots);
    qmLog("[6][ParseIndex] MHS slots:%zu, blocks:%zu, empty:%zu, invalid:%zu, beyond the disk:%zu",
          index.slotCount, index.blocks.size(), index.emptySlots, index.invalidSlots,
          index.outsideSlots);
    if (index.blocks.empty()) {
        m_strOpenError = "the disk holds no recorded block";
        return false;
    }
    m_nStartTime = index.startTime;
    m_nEndTime = index.endTime;
    m_nChannelMask = index.channelMask;
    m_diskLists[0] = std::move(index.blocks);
    m_diskLists[1].clear();
    return true;
}

int CQMParseIndex::OpenDiskInternal() {
    if (!ReadDiskInfo() || !LoadDiskIndex()) return 0;
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
        qmLog("[6][ParseIndex] DiskInfo channels:%d, held to %d groups", int(info.channels),
              kMaxGroups);
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
    return 1;
}

} // namespace qm
