// Reading a disk's blocks for the prefetch thread and seeking a disk by time. A
// disk block is read whole (data area, frame tables and header in one read)
// with a time limit; a block whose read fails or times out is reported and
// skipped.

#include "platform/diagnostics.h"
#include "storage/parse_index.h"

namespace qm {

bool CQMParseIndex::ReadDiskBlock(int v, int b, int64_t timeoutMs, BlockHeader& header,
                                  BlockGeometry& geometry) {
    const MiniHeader& entry = m_diskLists[b / 2][size_t(v - 1)];
    const uint32_t n = entry.sequence; // the block's slot
    const uint32_t B = m_nBlockSize;
    BlockBuffer& buffer = m_buffers[b];
    buffer.dataLength = 0;
    const auto start = blockHeaderPosition(n, B, m_diskInfo.dataBase);
    if (!start) return false;
    const uint64_t position = *start + kBlockHeaderSize - B;
    if (buffer.data.size() < B) buffer.data.resize(B);
    const TimedReadResult read = m_pBlockReader->Read(buffer.data.data(), position, B, timeoutMs);
    if (!read.ok()) {
        qmLogAt(6, log_tag::kParseIndex, "(WatchHDDThread) Read block:%u failed - err:%d%s", n,
                read.error, read.status == TimedReadStatus::kTimedOut ? " (timed out)" : "");
        return false;
    }
    const ByteView bytes(buffer.data.data() + B - kBlockHeaderSize, kBlockHeaderSize);
    const auto parsed = parseBlockHeader(bytes, uint8_t(m_nByteOrder));
    if (!parsed || !parsed->hasMarker()) {
        qmLogAt(6, log_tag::kParseIndex, "(WatchHDDThread) Block:%u has no block marker:%d", n,
                parsed ? int(parsed->marker) : 0);
        return false;
    }
    const auto geo = blockGeometry(n, B, parsed->iSectors, parsed->pSectors, m_diskInfo.dataBase);
    if (!geo) {
        qmLogAt(6, log_tag::kParseIndex, "(WatchHDDThread) Block:%u leaves no data area", n);
        return false;
    }
    header = *parsed;
    geometry = *geo;
    return true;
}

void CQMParseIndex::PublishDiskBlock(int v, int b, const BlockHeader& header,
                                     const BlockGeometry& geo, bool keyFramesOnly,
                                     const char* how) {
    BlockBuffer& buffer = m_buffers[b];
    const ByteView block(buffer.data.data(), m_nBlockSize);
    const uint32_t iCount =
        uint32_t(std::min<uint64_t>(header.iFrameCount, geo.iTableBytes / kIFrameInfoSize));
    const uint32_t pCount =
        uint32_t(std::min<uint64_t>(header.pFrameCount, geo.pTableBytes / kPFrameInfoSize));
    const ByteView iTable = *block.sub(size_t(geo.iTableOffset), iCount * kIFrameInfoSize);
    const ByteView pTable = *block.sub(size_t(geo.pTableOffset), pCount * kPFrameInfoSize);
    // Frames lie in the data area only; a record pointing into the tables is
    // as damaged as one pointing past the block.
    buffer.dataLength = uint32_t(geo.dataLength);
    buffer.filePosition = geo.blockStart;
    BuildFrameLists({iTable, iCount, pTable, pCount}, header, b / 2, buffer, keyFramesOnly);
    buffer.listPosition = uint32_t(v);
    buffer.startTime = header.startTime;
    buffer.endTime = header.endTime;
    buffer.channelMask = channelMaskOfGroup(header.channelMask, b / 2) & m_nChannelMask;
    for (auto& k : buffer.lastKeyIndex)
        k = -1;
    m_llReadPosition = uint64_t(v - 1) * m_nBlockSize;
    buffer.state.store(kBufferLoaded, std::memory_order_release);
    NoteProgress();
    qmLogAt(8, log_tag::kParseIndex,
            "(WatchHDDThread) Load block:%d into Buffer:%d, Time:%d-%d, Type:%d %s",
            int(m_diskLists[b / 2][size_t(v - 1)].sequence), b % 2, int(header.startTime),
            int(header.endTime), int(header.type), how);
}

// The disk's blocks, read whole with the prefetch's time limit.
class CQMParseIndex::DiskBlockSource : public CQMParseIndex::BlockSource {
public:
    explicit DiskBlockSource(CQMParseIndex& reader) : m_reader(reader) {}
    void Load(int, int b, int v, bool forward) override {
        // Read without the buffer lock: the buffer is empty, so nothing else
        // looks at it, and the preparation goes on meanwhile.
        BlockHeader header;
        BlockGeometry geo;
        if (!m_reader.ReadDiskBlock(v, b, m_reader.m_llPrefetchTimeoutMs, header, geo)) return;
        // A block starting after the recording's end holds nothing to play.
        if (forward && header.startTime > m_reader.m_nEndTime) return;
        std::lock_guard buffers(m_reader.m_csBuffers);
        m_reader.PublishDiskBlock(v, b, header, geo, !forward, forward ? "FORWARD" : "REVERSE");
        m_reader.ReleaseWaitingChannels();
        m_reader.m_evPrepare.Set();
    }

private:
    CQMParseIndex& m_reader;
};

void CQMParseIndex::WatchHDDThread() {
    DiskBlockSource source(*this);
    PrefetchLoop(source);
}

void CQMParseIndex::StartGroupWithNextBlock(int g, int direction) {
    for (int c = g * kChannelsPerGroup; c < (g + 1) * kChannelsPerGroup; ++c) {
        ChannelSlot& slot = m_channels[c];
        slot.parity = 0;
        slot.iCursor = direction == 0 ? 0 : kCursorFromEnd;
        slot.pCursor = direction == 0 ? 0 : -1;
    }
}

bool CQMParseIndex::SeekHDDByTime(uint32_t time, int direction) {
    if (!IsDisk()) return false;
    bool idle = false;
    if (!m_bSeeking.compare_exchange_strong(idle, true)) return false;
    qmLogAt(5, log_tag::kDiskSeek, "(SeekHDDByTime) Time:%d", int(time));
    std::lock_guard seek(m_csSeek);
    std::lock_guard load(m_csLoad);
    std::unique_lock buffers(m_csBuffers);
    direction = direction ? 1 : 0;
    ResetBuffersForSeek(direction);

    for (int g = 0; g < m_nGroups; ++g) {
        const auto& list = m_diskLists[g];
        // A block's end second belongs to the next block; a block within one
        // second holds just that second.
        const int v = SeekWalk(g, direction, [&](int i) {
            const MiniHeader& m = list[size_t(i - 1)];
            return (m.startTime <= time && time < m.endTime) ||
                   (m.startTime == time && m.endTime == time);
        });
        if (v < 0) continue;
        BlockHeader header;
        BlockGeometry geo;
        if (!ReadDiskBlock(v, g * 2, m_llSeekTimeoutMs, header, geo)) {
            StartGroupWithNextBlock(g, direction);
            continue;
        }
        PublishDiskBlock(v, g * 2, header, geo, false, "SEEK_FORWARD");
        PlaceChannels(g, time, true);
    }

    FinishSeek();
    buffers.unlock();
    EndSeek();
    return true;
}

} // namespace qm
