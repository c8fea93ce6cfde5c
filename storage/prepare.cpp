// The preparation thread: keeps every channel's next frame copied out of its
// block buffer, walking the channel's key and other frames in block order.
//
// A channel's cursors always stand on the next I and P list elements not yet
// taken; the next frame is the one of the two with the smaller offset.

#include "platform/diagnostics.h"
#include "storage/parse_index.h"

#include <chrono>
#include <cstring>
#include <thread>

namespace qm {

int CQMParseIndex::StateForHeader(const FrameHeader& header) {
    if (header.videoEnd != 0) return kSlotReady;
    if (header.audioEnd != 0) return kSlotNoVideo;
    return kSlotEmpty;
}

std::optional<FrameHeader> CQMParseIndex::HeaderAt(const BlockBuffer& buffer,
                                                   uint32_t offset) const {
    if (uint64_t(offset) + kFrameHeaderSize > buffer.dataLength) return std::nullopt;
    return parseFrameHeader(ByteView(buffer.data.data() + offset, kFrameHeaderSize),
                            uint8_t(m_nByteOrder));
}

bool CQMParseIndex::FrameIsSound(const BlockBuffer& buffer, uint32_t offset,
                                 const FrameHeader& h) const {
    if (h.length < 2) return false; // a header alone carries nothing
    if (uint64_t(offset) + h.frameBytes() > buffer.dataLength) return false;
    const uint32_t units = uint32_t(h.length) - 1;
    return h.videoEnd <= h.audioEnd && h.audioEnd <= h.userDataEnd && h.userDataEnd <= units;
}

void CQMParseIndex::FillSlot(ChannelSlot& slot, const BlockBuffer& buffer, uint32_t offset,
                             const FrameHeader& header) {
    const uint32_t bytes = header.payloadBytes();
    std::lock_guard frame(m_csFrame);
    const size_t wanted = std::max<size_t>(header.frameBytes(), 131072);
    if (slot.payload.size() < wanted) slot.payload.resize(wanted);
    std::memcpy(slot.payload.data(), buffer.data.data() + offset + kFrameHeaderSize, bytes);
    slot.payloadLength = bytes;
    slot.header = header;
}

// Takes the next sound frame of channel c out of buffer `b`, advancing the
// cursors past everything it passes over. Every iteration consumes one list
// element, so a run of damaged frames cannot keep the thread here.
bool CQMParseIndex::TakeForward(int c, int b) {
    ChannelSlot& slot = m_channels[c];
    const BlockBuffer& buffer = m_buffers[b];
    const auto& iList = buffer.iList[c];
    const auto& pList = buffer.pList[c];
    if (buffer.data.empty()) return false;
    while (slot.iCursor >= 0 || slot.pCursor >= 0) {
        if (slot.iCursor >= int(iList.size())) slot.iCursor = -1;
        if (slot.pCursor >= int(pList.size())) slot.pCursor = -1;
        if (slot.iCursor < 0 && slot.pCursor < 0) break;
        const uint32_t a = slot.iCursor >= 0 ? iList[slot.iCursor].offset : UINT32_MAX;
        const uint32_t p = slot.pCursor >= 0 ? pList[slot.pCursor].offset : UINT32_MAX;
        const bool takeI = slot.iCursor >= 0 && a <= p;
        const uint32_t offset = takeI ? a : p;
        if (takeI)
            slot.iCursor = slot.iCursor + 1 < int(iList.size()) ? slot.iCursor + 1 : -1;
        else
            slot.pCursor = slot.pCursor + 1 < int(pList.size()) ? slot.pCursor + 1 : -1;
        slot.readOffset = offset;
        if (!takeI && m_bKeyFramesOnly) continue; // fast play shows key frames only

        auto header = HeaderAt(buffer, offset);
        if (!header || !header->hasMarker() || header->channel != c ||
            !FrameIsSound(buffer, offset, *header)) {
            qmLogAt(9, log_tag::kParseIndex,
                    "(PrepareThreadProc) Skip Frame - CH:%d, Marker:%d, "
                    "Time:%d, Offset:%d, Size:%d",
                    c, header ? int(header->marker) : 0, header ? int(header->time) : 0,
                    int(offset), header ? int(header->length) : 0);
            m_nDamagedFrames[c].fetch_add(1, std::memory_order_relaxed);
            continue;
        }
        if (header->time > m_nEndTime) {
            // Past the end of the recording: go on at the next key frame.
            if (slot.iCursor < 0) {
                slot.pCursor = -1;
                break;
            }
            const uint32_t nextKey = iList[slot.iCursor].offset;
            while (slot.pCursor >= 0 && pList[slot.pCursor].offset < nextKey)
                slot.pCursor = slot.pCursor + 1 < int(pList.size()) ? slot.pCursor + 1 : -1;
            continue;
        }
        const int state = StateForHeader(*header);
        if (state != kSlotReady) continue; // a frame without video is never delivered
        FillSlot(slot, buffer, offset, *header);
        slot.frameState.store(state, std::memory_order_release);
        NoteProgress();
        return true;
    }
    return false;
}

bool CQMParseIndex::TakeReverse(int c, int b) {
    ChannelSlot& slot = m_channels[c];
    const BlockBuffer& buffer = m_buffers[b];
    const auto& iList = buffer.iList[c];
    if (buffer.data.empty()) return false;
    if (slot.iCursor == kCursorFromEnd) slot.iCursor = int(iList.size()) - 1;
    while (slot.iCursor >= 0 && slot.iCursor < int(iList.size())) {
        const uint32_t offset = iList[slot.iCursor].offset;
        --slot.iCursor;
        slot.readOffset = offset;
        auto header = HeaderAt(buffer, offset);
        if (!header || !header->hasMarker() || header->channel != c ||
            !FrameIsSound(buffer, offset, *header))
            continue;
        if (header->time < m_nStartTime || header->time > m_nEndTime) continue;
        if (StateForHeader(*header) != kSlotReady) continue;
        FillSlot(slot, buffer, offset, *header);
        slot.frameState.store(kSlotReady, std::memory_order_release);
        NoteProgress();
        return true;
    }
    slot.iCursor = -1;
    return false;
}

int CQMParseIndex::bPrepareFirstFrame(int group) {
    qmLog("CQMParseIndex::bPrepareFirstFrame Start\n");
    std::lock_guard buffers(m_csBuffers);
    for (int c = group * kChannelsPerGroup; c < (group + 1) * kChannelsPerGroup; ++c) {
        ChannelSlot& slot = m_channels[c];
        slot.iCursor = slot.pCursor = -1;
        const int b = group * 2 + slot.parity % 2;
        const BlockBuffer& buffer = m_buffers[b];
        if (!(buffer.channelMask & (1u << c)) || buffer.data.empty()) continue;
        const auto& iList = buffer.iList[c];
        const auto& pList = buffer.pList[c];
        if (iList.empty()) {
            qmLog("CQMParseIndex::bPrepareFirstFrame CH:%d has no key frame\n", c);
            return 0;
        }
        // Start at the first key frame; other frames before it cannot be decoded.
        slot.iCursor = 0;
        slot.readOffset = iList[0].offset;
        for (size_t p = 0; p < pList.size(); ++p)
            if (pList[p].offset > slot.readOffset) {
                slot.pCursor = int(p);
                break;
            }
        TakeForward(c, b);
    }
    qmLog("CQMParseIndex::bPrepareFirstFrame finish\n");
    return 1;
}

void CQMParseIndex::PrepareThreadProc() {
    m_nSwitchedMask = 0;
    while (m_bPrepareRunning) {
        m_evPrepare.Wait();
        if (!m_bPrepareRunning) break;
        if (!PreparePass()) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ++m_nPreparePasses;
    }
}

void CQMParseIndex::PrepareHere() {
    // The buffer lock inside keeps this pass and the thread's apart.
    if (!m_bPrepareRunning || !PreparePass()) m_evPrepare.Set();
}

// One pass over the channels. Returns false when a seek interrupted it.
bool CQMParseIndex::PreparePass() {
    std::lock_guard buffers(m_csBuffers);
    for (int c = 0; c < kMaxChannels; ++c) {
        if (m_bSeeking) return false;
        if (!m_bPrepareRunning) return true;
        const int g = c / kChannelsPerGroup;
        if (g >= m_nGroups) break;
        const uint32_t bit = 1u << c;
        ChannelSlot& slot = m_channels[c];
        int k = slot.parity % 2;
        // A recorded channel that the current block lacks is still treated: it
        // finds nothing there and moves on to the other buffer at once, so its
        // frames there are merged in time with the others'.
        if (!(m_nChannelMask & bit) || (m_nSwitchedMask & bit) || slot.frameState != kSlotEmpty)
            continue;
        BlockBuffer& b0 = m_buffers[g * 2];
        BlockBuffer& b1 = m_buffers[g * 2 + 1];
        if (b0.state == kBufferLoaded && b1.state == kBufferLoaded) {
            if (m_nDirection == 0)
                k = b0.listPosition < b1.listPosition ? 0 : 1;
            else
                k = b0.listPosition > b1.listPosition ? 0 : 1;
            if (slot.parity % 2 != k) slot.parity = k;
        }
        if (m_buffers[g * 2 + k].state < kBufferLoaded) continue;
        if (m_nDirection == 0)
            PrepareForward(c, g, k);
        else
            PrepareReverse(c, g, k);
    }
    return true;
}

void CQMParseIndex::PrepareForward(int c, int g, int k) {
    const int cur = g * 2 + k;
    const int other = g * 2 + (1 - k);
    if (TakeForward(c, cur)) return;

    // c has nothing more in its current buffer: move it to the other one.
    const uint32_t bit = 1u << c;
    ChannelSlot& slot = m_channels[c];
    const int otherState = m_buffers[other].state;
    if (otherState >= kBufferLoaded) {
        const auto& iList = m_buffers[other].iList[c];
        const auto& pList = m_buffers[other].pList[c];
        slot.iCursor = iList.empty() ? -1 : 0;
        slot.pCursor = pList.empty() ? -1 : 0;
        TakeForward(c, other);
        m_nSwitchedMask |= bit;
    } else if (otherState == kBufferFinished ||
               (otherState == kBufferEmpty && m_blockCursor[g] < 0 && m_nListState[g] == 2)) {
        m_nSwitchedMask |= bit; // the recording ends here for c
    }
    MaybeReleaseBuffer(g, k);
}

void CQMParseIndex::PrepareReverse(int c, int g, int k) {
    const int cur = g * 2 + k;
    const int other = g * 2 + (1 - k);
    if (TakeReverse(c, cur)) return;

    const uint32_t bit = 1u << c;
    ChannelSlot& slot = m_channels[c];
    const int otherState = m_buffers[other].state;
    if (otherState == kBufferLoaded) {
        // Go on with the latest key frame of the earlier block.
        slot.iCursor = int(m_buffers[other].iList[c].size()) - 1;
        slot.pCursor = -1;
        TakeReverse(c, other);
        m_nSwitchedMask |= bit;
    } else if (otherState == kBufferFinished ||
               (otherState == kBufferEmpty && m_blockCursor[g] < 0 && m_nListState[g] == 0)) {
        m_nSwitchedMask |= bit;
    }
    MaybeReleaseBuffer(g, k);
}

// When every channel served from buffer k of group g has moved on, the buffer
// goes back to the prefetch thread.
void CQMParseIndex::MaybeReleaseBuffer(int g, int k) {
    const uint32_t groupBits = 0xFFFFu << (g * kChannelsPerGroup);
    BlockBuffer& cur = m_buffers[g * 2 + k];
    if (cur.channelMask & m_nChannelMask & groupBits & ~m_nSwitchedMask) return;
    for (int c = g * kChannelsPerGroup; c < (g + 1) * kChannelsPerGroup; ++c) {
        ChannelSlot& slot = m_channels[c];
        if (slot.parity % 2 != k) continue;
        if (!(m_nSwitchedMask & (1u << c))) {
            // Never handed over (it had no frames in cur): it starts the other
            // buffer from its first frame in play order, once that is loaded.
            slot.iCursor = m_nDirection == 0 ? 0 : kCursorFromEnd;
            slot.pCursor = m_nDirection == 0 ? 0 : -1;
        }
        slot.parity = slot.parity + 1;
        ClearChannelLists(c, k);
    }
    cur.state.store(kBufferEmpty, std::memory_order_release);
    m_nSwitchedMask &= ~groupBits;
    NoteProgress();
    m_evWatch.Set();
}

} // namespace qm
