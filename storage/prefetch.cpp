// The prefetch thread and seeking by time: keeping each group's two block
// buffers filled with the next blocks in the play direction.

#include "platform/diagnostics.h"
#include "storage/file_reader.h"
#include "storage/parse_index.h"

#include <algorithm>
#include <chrono>
#include <unistd.h>

namespace qm {

namespace {
// Bounds one wait of the prefetch thread for a seek's end, which it is told of
// at once; a seek reads at most one block per group.
constexpr int64_t kSeekWaitMs = 30;

// Works on a local copy of a group's block cursor and publishes it when done;
// the preparation thread reads the shared word to tell the end of the list.
struct CursorScope {
    explicit CursorScope(std::atomic<int>& shared) : value(shared.load()), m_shared(shared) {}
    ~CursorScope() { m_shared = value; }
    int value;

private:
    std::atomic<int>& m_shared;
};
} // namespace

int CQMParseIndex::ListLength(int g) const {
    return IsDisk() ? int(m_diskLists[g].size()) + 2 : int(m_blockLists[g].size());
}

void CQMParseIndex::MarkGroupFinished(int b, int other, uint64_t readPosition) {
    std::lock_guard buffers(m_csBuffers);
    m_buffers[b].channelMask = 0;
    m_buffers[b].state = kBufferFinished;
    m_buffers[other].state = kBufferFinished;
    m_llReadPosition = readPosition;
    NoteProgress();
}

void CQMParseIndex::ReleaseWaitingChannels() {
    for (auto& c : m_channels) {
        int waiting = kSlotWaitBlock;
        c.frameState.compare_exchange_strong(waiting, kSlotEmpty);
    }
}

int CQMParseIndex::StepForward(int g, int b, int other) {
    const int length = ListLength(g);
    CursorScope scope(m_blockCursor[g]);
    int& cursor = scope.value;
    if (cursor < 0) {
        if (m_nListState[g] == 0 && length > 0)
            cursor = 0;
        else if (m_nListState[g] == 2 && m_buffers[other].state == kBufferEmpty)
            MarkGroupFinished(b, other, m_llTotalSize.load());
        return -1;
    }
    while (cursor >= 0 && cursor < length) {
        const int v = cursor;
        cursor = cursor + 1 < length ? cursor + 1 : -1;
        if (v == 0) {
            m_nListState[g] = 1; // head: take the next entry
            continue;
        }
        if (v == length - 1) {
            m_nListState[g] = 2;
            m_buffers[b].listPosition = kListPositionEnd;
            cursor = -1;
            return -1;
        }
        return v;
    }
    return -1;
}

int CQMParseIndex::StepReverse(int g, int b, int other) {
    const int length = ListLength(g);
    CursorScope scope(m_blockCursor[g]);
    int& cursor = scope.value;
    if (cursor < 0) {
        if (m_nListState[g] == 2 && length > 0)
            cursor = length - 1;
        else if (m_nListState[g] == 0 && m_buffers[other].state == kBufferEmpty)
            MarkGroupFinished(b, other, 0);
        return -1;
    }
    while (cursor >= 0 && cursor < length) {
        const int v = cursor;
        --cursor;
        if (v == 0) {
            m_nListState[g] = 0;
            m_buffers[b].listPosition = 0;
            cursor = -1;
            return -1;
        }
        if (v == length - 1) {
            m_nListState[g] = 1; // tail: take the entry before it
            continue;
        }
        return v;
    }
    return -1;
}

// The archive's blocks, read through a descriptor of the prefetch thread's own.
class CQMParseIndex::ArchiveBlockSource : public CQMParseIndex::BlockSource {
public:
    ArchiveBlockSource(CQMParseIndex& reader, int fd) : m_reader(reader), m_fd(fd) {}
    void Load(int g, int b, int v, bool forward) override {
        const BlockEntry& entry = m_reader.m_blockLists[g][v];
        std::lock_guard buffers(m_reader.m_csBuffers);
        if (m_reader.LoadArchiveBlock(m_fd, entry, b, !forward, false)) {
            if (forward) m_reader.LogBlockLoad(entry, "FORWARD");
            m_reader.ReleaseWaitingChannels();
        } else if (forward) {
            m_reader.m_buffers[b].listPosition = kListPositionNone;
        }
        m_reader.m_evPrepare.Set();
    }

private:
    CQMParseIndex& m_reader;
    int m_fd;
};

void CQMParseIndex::WaitWhileSeeking() {
    // The seek's end sets the prefetch event; the time-out only bounds a wait
    // should that ever be missed.
    while (m_bSeeking && m_bWatchRunning)
        m_evWatch.Wait(kSeekWaitMs);
}

void CQMParseIndex::EndSeek() {
    m_bSeeking = false;
    NoteProgress();
    m_evPrepare.Set();
    m_evWatch.Set();
}

void CQMParseIndex::PrefetchLoop(BlockSource& source) {
    m_nPassHandshake = 0;
    while (m_bWatchRunning) {
        // Only a pass begun after the handshake was asked for answers it: one
        // under way then may have filled some buffers before a seek.
        int asked = 0;
        m_nPassHandshake.compare_exchange_strong(asked, 1);
        bool idleOnly = true; // every buffer finished or without channels
        for (int g = 0; g < m_nGroups && m_bWatchRunning; ++g) {
            for (int k = 0; k < 2 && m_bWatchRunning; ++k) {
                if (m_bSeeking) {
                    WaitWhileSeeking();
                    k = -1; // start the group again once the seek is done
                    continue;
                }
                const int b = g * 2 + k;
                const int other = g * 2 + (1 - k);
                if (m_buffers[b].channelMask != 0) idleOnly = false;
                if (m_buffers[b].state.load(std::memory_order_acquire) != kBufferEmpty) continue;
                std::lock_guard load(m_csLoad);
                if (m_bSeeking || m_buffers[b].state != kBufferEmpty) continue;
                if (m_buffers[other].state == kBufferEmpty)
                    for (int c = g * kChannelsPerGroup; c < (g + 1) * kChannelsPerGroup; ++c)
                        m_channels[c].parity = 0;
                const bool forward = m_nDirection == 0;
                const int v = forward ? StepForward(g, b, other) : StepReverse(g, b, other);
                if (v < 0) continue;
                source.Load(g, b, v, forward);
            }
        }
        int underWay = 1;
        if (m_nPassHandshake.compare_exchange_strong(underWay, -1)) NoteProgress();
        m_evPrepare.Set();
        // Poll at 33 ms while buffers hold frames (1 s when none does), and wake
        // at once when the preparation hands a buffer back or a seek ends.
        m_evWatch.Wait(idleOnly ? 1000 : 33);
    }
}

bool CQMParseIndex::WaitForPass(int64_t timeoutMs) {
    std::unique_lock lock(m_csProgress);
    return m_cvProgress.wait_for(lock, std::chrono::milliseconds(std::max<int64_t>(timeoutMs, 0)),
                                 [&] { return !m_bSeeking && m_nPassHandshake == -1; });
}

void CQMParseIndex::WatchThreadProc() {
    const int fd = OpenReadOnly(m_strPath);
    if (fd < 0) return;
    ArchiveBlockSource source(*this, fd);
    PrefetchLoop(source);
    ::close(fd);
}

int CQMParseIndex::SeekWalk(int g, int direction, const std::function<bool(int)>& contains) {
    const int length = ListLength(g);
    CursorScope scope(m_blockCursor[g]);
    int& cursor = scope.value;
    if (length <= 2) return -1;
    cursor = direction == 0 ? 0 : length - 1;
    const int step = direction == 0 ? 1 : -1;
    while (cursor >= 0 && cursor < length) {
        const int v = cursor;
        cursor += step;
        if (cursor < 0 || cursor >= length) cursor = -1;
        if (v == 0 || v == length - 1) {
            const bool head = v == 0;
            if (direction == 0 ? head : !head) {
                m_nListState[g] = 1; // the end we started from
                continue;
            }
            m_nListState[g] = direction == 0 ? 2 : 0;
            cursor = -1;
            return -1;
        }
        // The walk ends at the block, loaded or not: the prefetch goes on
        // from the one after (or before) it.
        if (contains(v)) return v;
    }
    return -1;
}

void CQMParseIndex::ResetBuffersForSeek(int direction) {
    for (auto& b : m_buffers) {
        b.filePosition = 0;
        b.dataLength = 0;
        b.state = kBufferEmpty;
        for (int c = 0; c < kMaxChannels; ++c) {
            b.iList[c].clear();
            b.pList[c].clear();
        }
    }
    m_nSwitchedMask = 0;
    for (auto& slot : m_channels)
        slot.iCursor = slot.pCursor = -1;
    m_nDirection = direction;
    m_nLoadMode = direction;
}

void CQMParseIndex::PlaceChannels(int g, uint32_t time, bool disk) {
    BlockBuffer& buffer = m_buffers[g * 2];
    const uint32_t mask = buffer.channelMask;
    for (int c = g * kChannelsPerGroup; c < (g + 1) * kChannelsPerGroup; ++c) {
        ChannelSlot& slot = m_channels[c];
        slot.parity = 0;
        if (!(mask & (1u << c))) continue;
        const auto& iList = buffer.iList[c];
        const auto& pList = buffer.pList[c];
        if (!disk || iList.size() >= 2) {
            for (size_t i = 0; i < iList.size(); ++i) {
                if (iList[i].offset < buffer.dataLength &&
                    uint64_t(buffer.startTime) + iList[i].timeOffset >= time) {
                    slot.iCursor = int(i);
                    break;
                }
            }
        }
        if (slot.iCursor < 0) {
            // Nothing to start from here: the channel begins with the next block.
            if (disk) qmLogAt(9, log_tag::kParseIndex, "(WatchHDDThread) Seek CH:%d Failed!", c);
            continue;
        }
        slot.readOffset = iList[slot.iCursor].offset;
        for (size_t p = 0; p < pList.size(); ++p) {
            if (pList[p].offset > slot.readOffset) {
                slot.pCursor = int(p);
                break;
            }
        }
    }
}

void CQMParseIndex::FinishSeek() {
    NoteProgress();
    // Every recorded channel drops what it held: a frame from before the seek
    // must not be played after it, also for a channel the new block lacks.
    for (int c = 0; c < kMaxChannels; ++c)
        if (m_nChannelMask & (1u << c)) m_channels[c].frameState = kSlotEmpty;
}

bool CQMParseIndex::SeekByTime(uint32_t time, int direction) {
    if (IsDisk()) return SeekHDDByTime(time, direction);
    if (m_llTotalSize == 0) return false;
    bool idle = false;
    if (!m_bSeeking.compare_exchange_strong(idle, true)) return false;
    std::lock_guard seek(m_csSeek);
    std::lock_guard load(m_csLoad);
    std::unique_lock buffers(m_csBuffers);

    const int fd = OpenReadOnly(m_strPath);
    if (fd < 0) {
        EndSeek();
        return false;
    }
    direction = direction ? 1 : 0;
    ResetBuffersForSeek(direction);

    for (int g = 0; g < m_nGroups; ++g) {
        const auto& list = m_blockLists[g];
        const int v = SeekWalk(g, direction, [&](int i) {
            return list[i].mini.startTime <= time && time <= list[i].mini.endTime;
        });
        if (v < 0) continue;
        const BlockEntry& entry = list[v];
        if (!LoadArchiveBlock(fd, entry, g * 2, false, false)) continue;
        LogBlockLoad(entry, "SEEK_FORWARD");
        PlaceChannels(g, time, false);
    }
    ::close(fd);

    FinishSeek();
    buffers.unlock();
    EndSeek();
    return true;
}

} // namespace qm
