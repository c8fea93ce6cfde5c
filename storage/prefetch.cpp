// The prefetch thread and seeking by time: keeping each group's two block
// buffers filled with the next blocks in the play direction.

#include "platform/diagnostics.h"
#include "storage/file_reader.h"
#include "storage/parse_index.h"

#include <chrono>
#include <thread>
#include <unistd.h>

namespace qm {

namespace {
void SleepMs(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

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

void CQMParseIndex::WatchThreadProc() {
    const int fd = OpenReadOnly(m_strPath);
    if (fd < 0) return;
    m_nPassHandshake = 0;

    while (m_bWatchRunning) {
        bool idleOnly = true; // every buffer finished or without channels
        for (int g = 0; g < m_nGroups && m_bWatchRunning; ++g) {
            for (int k = 0; k < 2 && m_bWatchRunning; ++k) {
                if (m_bSeeking) {
                    SleepMs(30);
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
                if (m_nDirection == 0)
                    WatchForward(fd, g, k, b, other);
                else
                    WatchReverse(fd, g, k, b, other);
            }
        }
        m_nPassHandshake = -1;
        m_evPrepare.Set();
        // Poll at 33 ms while buffers hold frames (1 s when none does), and wake
        // at once when the preparation hands a buffer back or a seek ends.
        m_evWatch.Wait(idleOnly ? 1000 : 33);
    }
    ::close(fd);
}

void CQMParseIndex::WatchForward(int fd, int g, int k, int b, int other) {
    (void)k;
    auto& list = m_blockLists[g];
    CursorScope scope(m_blockCursor[g]);
    int& cursor = scope.value;
    if (cursor < 0) {
        if (m_nListState[g] == 0 && !list.empty()) {
            cursor = 0;
        } else if (m_nListState[g] == 2 && m_buffers[other].state == kBufferEmpty) {
            std::lock_guard buffers(m_csBuffers);
            m_buffers[b].channelMask = 0;
            m_buffers[b].state = kBufferFinished;
            m_buffers[other].state = kBufferFinished;
            m_llReadPosition = m_llTotalSize.load();
            NoteProgress();
        }
        return;
    }
    while (cursor >= 0 && cursor < int(list.size())) {
        const BlockEntry& entry = list[cursor];
        cursor = cursor + 1 < int(list.size()) ? cursor + 1 : -1;
        if (entry.IsSentinel() && entry.listPosition == 0) {
            m_nListState[g] = 1; // head: take the next entry
            continue;
        }
        if (entry.IsSentinel()) {
            m_nListState[g] = 2;
            m_buffers[b].listPosition = kListPositionEnd;
            cursor = -1;
            return;
        }
        std::lock_guard buffers(m_csBuffers);
        if (LoadArchiveBlock(fd, entry, b, false, false)) {
            LogBlockLoad(entry, "FORWARD");
            for (auto& c : m_channels) {
                int waiting = kSlotWaitBlock;
                c.frameState.compare_exchange_strong(waiting, kSlotEmpty);
            }
            m_evPrepare.Set();
        } else {
            m_buffers[b].listPosition = kListPositionNone;
        }
        return;
    }
}

void CQMParseIndex::WatchReverse(int fd, int g, int k, int b, int other) {
    (void)k;
    auto& list = m_blockLists[g];
    CursorScope scope(m_blockCursor[g]);
    int& cursor = scope.value;
    if (cursor < 0) {
        if (m_nListState[g] == 2 && !list.empty()) {
            cursor = int(list.size()) - 1;
        } else if (m_nListState[g] == 0 && m_buffers[other].state == kBufferEmpty) {
            std::lock_guard buffers(m_csBuffers);
            m_buffers[b].channelMask = 0;
            m_buffers[b].state = kBufferFinished;
            m_buffers[other].state = kBufferFinished;
            m_llReadPosition = 0;
            NoteProgress();
        }
        return;
    }
    while (cursor >= 0 && cursor < int(list.size())) {
        const BlockEntry& entry = list[cursor];
        --cursor;
        if (entry.IsSentinel() && entry.listPosition == 0) {
            m_nListState[g] = 0;
            m_buffers[b].listPosition = 0;
            cursor = -1;
            return;
        }
        if (entry.IsSentinel()) {
            m_nListState[g] = 1; // tail: take the entry before it
            continue;
        }
        std::lock_guard buffers(m_csBuffers);
        if (LoadArchiveBlock(fd, entry, b, true, false)) {
            for (auto& c : m_channels) {
                int waiting = kSlotWaitBlock;
                c.frameState.compare_exchange_strong(waiting, kSlotEmpty);
            }
        }
        m_evPrepare.Set();
        return;
    }
}

int CQMParseIndex::SeekByTime(uint32_t time, int direction) {
    if (m_llTotalSize == 0) return 0;
    int idle = 0;
    if (!m_bSeeking.compare_exchange_strong(idle, 1)) return 0;
    std::lock_guard seek(m_csSeek);
    std::lock_guard load(m_csLoad);
    std::unique_lock buffers(m_csBuffers);

    const int fd = OpenReadOnly(m_strPath);
    if (fd < 0) {
        m_bSeeking = 0;
        return 0;
    }
    direction = direction ? 1 : 0;
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

    for (int g = 0; g < m_nGroups; ++g) {
        auto& list = m_blockLists[g];
        CursorScope scope(m_blockCursor[g]);
        int& cursor = scope.value;
        if (list.size() <= 2) continue;
        cursor = direction == 0 ? 0 : int(list.size()) - 1;
        const int step = direction == 0 ? 1 : -1;
        while (cursor >= 0 && cursor < int(list.size())) {
            const BlockEntry& entry = list[cursor];
            cursor += step;
            if (cursor < 0 || cursor >= int(list.size())) cursor = -1;
            if (entry.IsSentinel()) {
                const bool head = entry.listPosition == 0;
                if (direction == 0 ? head : !head) {
                    m_nListState[g] = 1; // the sentinel we started from
                    continue;
                }
                m_nListState[g] = direction == 0 ? 2 : 0;
                cursor = -1;
                break;
            }
            if (entry.mini.startTime > time || time > entry.mini.endTime) continue;

            const int b = g * 2;
            if (!LoadArchiveBlock(fd, entry, b, false, false)) break;
            LogBlockLoad(entry, "SEEK_FORWARD");

            BlockBuffer& buffer = m_buffers[b];
            const uint32_t mask = buffer.channelMask;
            for (int c = g * kChannelsPerGroup; c < (g + 1) * kChannelsPerGroup; ++c) {
                ChannelSlot& slot = m_channels[c];
                slot.parity = 0;
                if (!(mask & (1u << c))) continue;
                const auto& iList = buffer.iList[c];
                const auto& pList = buffer.pList[c];
                for (size_t i = 0; i < iList.size(); ++i) {
                    if (iList[i].offset < buffer.dataLength &&
                        uint64_t(buffer.startTime) + iList[i].timeOffset >= time) {
                        slot.iCursor = int(i);
                        break;
                    }
                }
                if (slot.iCursor < 0) continue;
                slot.readOffset = iList[slot.iCursor].offset;
                for (size_t p = 0; p < pList.size(); ++p) {
                    if (pList[p].offset > slot.readOffset) {
                        slot.pCursor = int(p);
                        break;
                    }
                }
            }
            // The reverse walk already stepped past this block; the prefetch
            // continues from the one before (or after) it.
            break;
        }
    }
    ::close(fd);

    NoteProgress();
    // Every recorded channel drops what it held: a frame from before the seek
    // must not be played after it, also for a channel the new block lacks.
    for (int c = 0; c < kMaxChannels; ++c)
        if (m_nChannelMask & (1u << c)) m_channels[c].frameState = kSlotEmpty;
    buffers.unlock();
    m_bSeeking = 0;
    m_evPrepare.Set();
    m_evWatch.Set();
    return 1;
}

} // namespace qm
