// Opening and closing a recording, its block index and block loading.

#include "storage/parse_index.h"

#include "platform/diagnostics.h"
#include "storage/file_reader.h"
#include "storage/recording_index.h"

#include <algorithm>
#include <fcntl.h>
#include <unistd.h>

namespace qm {

namespace {
// Table copies are bounded so that a corrupt index cannot exhaust memory:
// a real archive's tables are a small fraction of this.
constexpr uint64_t kMaxTableBytes = uint64_t(1) << 30;
} // namespace

class CQMParseIndex::ReaderThread : public TQMThreadBase {
public:
    explicit ReaderThread(std::function<void()> body) : m_body(std::move(body)) {}
    ~ReaderThread() override { Stop(); }

protected:
    void Run() override { m_body(); }

private:
    std::function<void()> m_body;
};

CQMParseIndex::CQMParseIndex() {
    for (auto& b : m_buffers)
        for (auto& k : b.lastKeyIndex)
            k.store(-1);
}

CQMParseIndex::~CQMParseIndex() {
    qmLog("CQMParseIndex::~CQMParseIndex Start\n");
    StopThreads();
    if (m_fdArchive >= 0) ::close(m_fdArchive);
    m_fdArchive = -1;
    m_pBlockReader.reset();
    m_pDisk.reset();
    EmptyBuffers(true);
    FreeBlockLists();
    qmLog("CQMParseIndex::~CQMParseIndex End\n");
}

void CQMParseIndex::ResetPerOpenState() {
    m_nByteOrder = kByteOrderLittle;
    m_nCodec = kCodecH264;
    m_nTimeOffset = 0;
    m_bRecovered = false;
    m_nRecoveredBlocks = 0;
    m_strOpenError.clear();
    for (auto& s : m_nListState)
        s = 0;
    m_nDirection = 0;
    m_nLoadMode = 0;
    for (auto& damaged : m_nDamagedFrames)
        damaged = 0;
    m_nChannelMask = 0;
    for (auto& b : m_buffers)
        b.channelMask = 0;
    for (auto& c : m_channels) {
        c.info.fill(0);
        c.readOffset = 0;
        c.header = FrameHeader{};
        c.rememberedWidth = c.rememberedHeight = 0;
    }
}

bool CQMParseIndex::OpenFile(const std::string& path) {
    if (m_bOpen) CloseFile();
    m_strPath = path;
    ResetPerOpenState();
    if (!bReadInit()) {
        CloseFile();
        return false;
    }
    if (m_fdArchive >= 0) ::close(m_fdArchive);
    m_fdArchive = OpenReadOnly(m_strPath);
    if (m_fdArchive < 0 || FileLength(m_fdArchive) == 0) {
        CloseFile();
        return false;
    }
    m_llTotalSize = m_llArchiveLength;
    m_bOpen = true;
    return true;
}

size_t CQMParseIndex::BlockCount(int group) const {
    if (group < 0 || group >= kMaxGroups) return 0;
    if (IsDisk()) return m_diskLists[group].size();
    const auto& list = m_blockLists[group];
    return list.size() >= 2 ? list.size() - 2 : 0;
}

bool CQMParseIndex::LoadIndex(int fd) {
    IndexError error;
    auto header = ReadArchiveHeader(fd, m_llArchiveLength, error);
    if (!header) return false;
    m_nByteOrder = header->byteOrder;
    m_nCodec = header->codec;
    m_nChannelMask = header->channelMask;
    m_nGroups = header->groups();
    m_nEndTime = header->endTime;
    m_nStartTime = header->startTime;
    m_nTimeOffset = header->timeOffsetSeconds();
    m_nBlockSize = header->blockSize;
    m_bRecovered = header->recovered;
    m_nRecoveredBlocks = header->recoveredBlocks;

    if (!CheckArchiveLayout(*header, m_llArchiveLength, error)) {
        if (error.fault == IndexFault::kBlockSize)
            qmLogAt(6, log_tag::kParseIndex, "(bReadInit) Bad block size:%u\n", m_nBlockSize);
        else
            qmLogAt(6, log_tag::kParseIndex,
                    "(bReadInit) Mini header table outside the file: %llu x 16 at "
                    "%llu\n",
                    (unsigned long long)header->miniHeaderCount,
                    (unsigned long long)header->miniTableOffset);
        return false;
    }

    for (int g = 0; g < kMaxGroups; ++g) {
        m_blockLists[g].clear();
        BlockEntry head;
        head.listPosition = 0;
        m_blockLists[g].push_back(std::move(head));
    }
    for (auto& s : m_nListState)
        s = 0;

    qmLog("CQMParseIndex::bReadInit LOAD_MINI_HEADER_AT_ONCE Start\n");
    const auto blocks = ReadArchiveBlocks(fd, *header, m_llArchiveLength, kEveryGroup, error);
    if (!blocks) return false;

    m_nFirstMiniStart = 0xFFFFFFFF;
    m_nLastMiniEnd = 0;
    const uint64_t B = m_nBlockSize;
    uint64_t tableCopyBytes = 0;
    std::vector<uint8_t> blockHeaderBytes(kBlockHeaderSize);
    for (const ArchiveBlock& block : *blocks) {
        const uint64_t i = block.number;
        m_nFirstMiniStart = std::min(m_nFirstMiniStart, block.mini.startTime);
        m_nLastMiniEnd = std::max(m_nLastMiniEnd, block.mini.endTime);

        BlockEntry entry;
        entry.mini = block.mini;
        entry.blockNumber = block.number;
        if (ReadExact(fd, (i + 1) * B - kBlockHeaderSize, blockHeaderBytes.data(),
                      kBlockHeaderSize)) {
            auto bh = parseBlockHeader(ByteView(blockHeaderBytes.data(), kBlockHeaderSize),
                                       uint8_t(m_nByteOrder));
            auto geo =
                bh ? blockGeometry(i, m_nBlockSize, bh->iSectors, bh->pSectors) : std::nullopt;
            if (bh && bh->hasMarker() && geo) {
                entry.iSectors = bh->iSectors;
                entry.pSectors = bh->pSectors;
                entry.iCount =
                    std::min<uint64_t>(bh->iFrameCount, geo->iTableBytes / kIFrameInfoSize);
                entry.pCount =
                    std::min<uint64_t>(bh->pFrameCount, geo->pTableBytes / kPFrameInfoSize);
                const uint64_t iBytes = uint64_t(entry.iCount) * kIFrameInfoSize;
                const uint64_t pBytes = uint64_t(entry.pCount) * kPFrameInfoSize;
                if (tableCopyBytes + iBytes + pBytes <= kMaxTableBytes) {
                    entry.pTable.resize(pBytes);
                    entry.iTable.resize(iBytes);
                    bool ok = (!pBytes ||
                               ReadExact(fd, geo->pTablePosition(), entry.pTable.data(), pBytes)) &&
                              (!iBytes ||
                               ReadExact(fd, geo->iTablePosition(), entry.iTable.data(), iBytes));
                    if (ok) {
                        tableCopyBytes += iBytes + pBytes;
                    } else {
                        entry.pTable.clear();
                        entry.iTable.clear();
                        entry.iCount = entry.pCount = 0;
                    }
                } else {
                    entry.iCount = entry.pCount = 0;
                }
            }
        }
        auto& list = m_blockLists[entry.mini.group];
        entry.listPosition = uint32_t(list.size());
        list.push_back(std::move(entry));
    }
    m_nStartTime = std::max(m_nStartTime, m_nFirstMiniStart);
    m_nEndTime = std::min(m_nEndTime, m_nLastMiniEnd);
    qmLog("CQMParseIndex::bReadInit LOAD_MINI_HEADER_AT_ONCE finish\n");

    for (int g = 0; g < kMaxGroups; ++g) {
        BlockEntry tail;
        tail.listPosition = kListPositionEnd;
        m_blockLists[g].push_back(std::move(tail));
    }
    return true;
}

bool CQMParseIndex::bReadInit() {
    for (auto& c : m_channels) {
        c.parity = 0;
        c.readOffset = 0;
        c.info.fill(0);
        c.header = FrameHeader{};
        c.frameState = kSlotEmpty;
        c.iCursor = c.pCursor = -1;
    }
    m_nDirection = 0;
    m_nLoadMode = 0;
    m_llArchiveLength = 0;

    int fd = OpenReadOnly(m_strPath);
    if (fd < 0) return false;
    m_llArchiveLength = FileLength(fd);
    if (m_llArchiveLength == 0 || !LoadIndex(fd)) {
        ::close(fd);
        return false;
    }

    EmptyBuffers(false);
    for (int g = 0; g < kMaxGroups; ++g)
        m_blockCursor[g] = m_blockLists[g].size() > 2 ? 1 : -1;

    // Initial load: both buffers of every group, skipping blocks without a marker.
    for (int g = 0; g < m_nGroups; ++g) {
        for (int k = 0; k < 2; ++k) {
            const int b = g * 2 + k;
            while (m_blockCursor[g] >= 0) {
                const BlockEntry& entry = m_blockLists[g][m_blockCursor[g]];
                if (entry.listPosition == kListPositionEnd) {
                    m_nListState[g] = 2;
                    m_blockCursor[g] = -1;
                    break;
                }
                ++m_blockCursor[g];
                m_nListState[g] = 1;
                if (LoadArchiveBlock(fd, entry, b, false, true)) {
                    LogBlockLoad(entry, "INIT");
                    break;
                }
            }
        }
    }
    for (int g = 0; g < m_nGroups; ++g)
        if (m_blockLists[g].size() <= 2)
            for (int c = g * kChannelsPerGroup; c < (g + 1) * kChannelsPerGroup; ++c)
                m_channels[c].frameState = kSlotWaitBlock;
    ::close(fd);

    for (auto& c : m_channels) {
        c.readOffset = 0;
        c.parity = 0;
    }
    for (int g = 0; g < m_nGroups; ++g) {
        m_buffers[g * 2].state = kBufferLoaded;
        if (!bPrepareFirstFrame(g)) return false;
    }
    StartThreads();
    m_evOpened.Set();
    qmLog("CQMParseIndex::bReadInit done\n");
    return true;
}

void CQMParseIndex::LogBlockLoad(const BlockEntry& entry, const char* how) const {
    qmLog("[QMParseIndex] (WatchThreadProc) Load BID:%d, Time:%d-%d, Group:%d %s",
          int(entry.blockNumber), int(entry.mini.startTime), int(entry.mini.endTime),
          int(entry.mini.group), how);
}

bool CQMParseIndex::LoadArchiveBlock(int fd, const BlockEntry& entry, int bufferIndex,
                                     bool keyFramesOnly, bool initialAllocation) {
    std::vector<uint8_t> hb(kBlockHeaderSize);
    const uint64_t B = m_nBlockSize;
    const uint64_t n = entry.blockNumber;
    if (!ReadExact(fd, (n + 1) * B - kBlockHeaderSize, hb.data(), hb.size())) return false;
    auto bh = parseBlockHeader(ByteView(hb.data(), hb.size()), uint8_t(m_nByteOrder));
    if (!bh || !bh->hasMarker()) return false;
    auto geo = blockGeometry(n, m_nBlockSize, bh->iSectors, bh->pSectors);
    if (!geo) {
        qmLogAt(6, log_tag::kParseIndex, "(LoadBlock) BID:%u leaves no data area\n", unsigned(n));
        return false;
    }

    BlockBuffer& buffer = m_buffers[bufferIndex];
    const uint32_t L = uint32_t(geo->dataLength);
    buffer.filePosition = n * B;
    // The first load allocates a whole block so that later loads rarely grow it.
    const size_t wanted = initialAllocation ? std::max<size_t>(B, L) : L;
    if (buffer.data.size() < L) buffer.data.resize(wanted);
    buffer.listPosition = entry.listPosition;
    buffer.dataLength = 0;
    if (!ReadExact(fd, n * B, buffer.data.data(), L)) return false;
    buffer.dataLength = L;
    m_llReadPosition = n * B;

    BuildFrameLists({ByteView(entry.iTable.data(), entry.iTable.size()), entry.iCount,
                     ByteView(entry.pTable.data(), entry.pTable.size()), entry.pCount},
                    *bh, bufferIndex / 2, buffer, keyFramesOnly);
    // A block need not hold every channel (a camera without signal, a long run
    // spread over two blocks): the buffer is released on the channels that
    // really are in it, so its mask follows the block loaded.
    buffer.channelMask = channelMaskOfGroup(bh->channelMask, bufferIndex / 2) & m_nChannelMask;
    buffer.startTime = entry.mini.startTime;
    buffer.endTime = entry.mini.endTime;
    for (auto& k : buffer.lastKeyIndex)
        k = -1;
    buffer.state.store(kBufferLoaded, std::memory_order_release);
    NoteProgress();
    return true;
}

void CQMParseIndex::BuildFrameLists(const FrameTables& tables, const BlockHeader& header, int group,
                                    BlockBuffer& buffer, bool keyFramesOnly) {
    const uint8_t order = uint8_t(m_nByteOrder);
    for (int c = 0; c < kMaxChannels; ++c) {
        buffer.iList[c].clear();
        buffer.pList[c].clear();
    }
    const ByteView data(buffer.data.data(), buffer.dataLength);
    if (frameTablesDamaged(tables, header, group, data, order)) {
        const ScannedFrames found = scanFrames(data, header, group, order);
        for (int c = 0; c < kMaxChannels; ++c) {
            // Every key frame found is whole, so each serves key-frame-only loads too.
            for (const ScannedKeyFrame& f : found.key[c])
                buffer.iList[c].push_back(
                    {f.offset, f.timeOffset, uint32_t(buffer.iList[c].size())});
            for (uint32_t offset : found.other[c])
                buffer.pList[c].push_back({offset, uint32_t(buffer.pList[c].size())});
        }
        qmLogAt(6, log_tag::kParseIndex,
                "(BuildFrameLists) Frame tables damaged at %llu: %zu frames found in the data\n",
                (unsigned long long)buffer.filePosition, found.Count());
        return;
    }
    for (uint32_t i = 0; i < tables.iCount; ++i) {
        auto rec = iFrameInfoAt(tables.iTable, i, order);
        if (!rec) break;
        auto offset = frameOffsetInData(rec->offsetUnits, buffer.dataLength);
        if (!offset || rec->channel >= kMaxChannels) continue;
        if (keyFramesOnly && rec->keyUsable == 0) continue;
        auto& list = buffer.iList[rec->channel];
        list.push_back({uint32_t(*offset), rec->timeOffset, uint32_t(list.size())});
    }
    for (uint32_t i = 0; i < tables.pCount; ++i) {
        auto rec = pFrameInfoAt(tables.pTable, i, order);
        if (!rec) break;
        auto offset = frameOffsetInData(rec->offsetUnits, buffer.dataLength);
        if (!offset || rec->channel >= kMaxChannels) continue;
        auto& list = buffer.pList[rec->channel];
        list.push_back({uint32_t(*offset), uint32_t(list.size())});
    }
}

void CQMParseIndex::ClearChannelLists(int channel, int k) {
    if (channel < 0 || channel >= kMaxChannels || k < 0 || k > 1) return;
    BlockBuffer& buffer = m_buffers[(channel / kChannelsPerGroup) * 2 + k];
    buffer.iList[channel].clear();
    buffer.pList[channel].clear();
}

void CQMParseIndex::EmptyBuffers(bool freeData) {
    for (auto& b : m_buffers) {
        if (freeData) {
            b.data.clear();
            b.data.shrink_to_fit();
        }
        b.dataLength = 0;
        b.filePosition = 0;
        b.state = kBufferEmpty;
        b.listPosition = kListPositionNone;
        for (int c = 0; c < kMaxChannels; ++c) {
            b.iList[c].clear();
            b.pList[c].clear();
        }
    }
}

void CQMParseIndex::FreeBlockLists() {
    for (auto& list : m_blockLists)
        list.clear();
    for (auto& list : m_diskLists)
        list.clear();
    for (auto& cursor : m_blockCursor)
        cursor = -1;
}

void CQMParseIndex::StartThreads() {
    m_bPrepareRunning = true;
    m_pPrepareThread = std::make_unique<ReaderThread>([this] { PrepareThreadProc(); });
    m_pPrepareThread->Start(kPriorityHighest);
    if (!m_pWatchThread) {
        m_bWatchRunning = true;
        m_pWatchThread = std::make_unique<ReaderThread>([this] {
            if (IsDisk())
                WatchHDDThread();
            else
                WatchThreadProc();
        });
        m_pWatchThread->Start(kPriorityAboveNormal);
    }
}

void CQMParseIndex::StopThreads() {
    m_bPrepareRunning = false;
    m_evPrepare.Set();
    if (m_pPrepareThread) m_pPrepareThread->Stop();
    m_pPrepareThread.reset();
    m_bWatchRunning = false;
    m_evWatch.Set();
    if (m_pWatchThread) m_pWatchThread->Stop();
    m_pWatchThread.reset();
}

void CQMParseIndex::CloseFile() {
    qmLog("CQMParseIndex::CloseFile Start\n");
    StopThreads();
    if (m_fdArchive >= 0) ::close(m_fdArchive);
    m_fdArchive = -1;
    // Waits for a read that was given up, before the device goes.
    m_pBlockReader.reset();
    m_pDisk.reset();
    m_bOpen = false;
    m_llTotalSize = 0;
    m_llReadPosition = 0;
    EmptyBuffers(true);
    FreeBlockLists();
    for (auto& c : m_channels) {
        c.frameState = kSlotEmpty;
        c.iCursor = c.pCursor = -1;
    }
    qmLog("CQMParseIndex::CloseFile End\n");
    return;
}

} // namespace qm
