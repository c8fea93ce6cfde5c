#include "export/export_channel_lists.h"

#include "storage/formats.h"

#include <algorithm>

namespace qm {

void ExportChannelLists::Clear() {
    m_key.clear();
    m_other.clear();
    m_starts.clear();
    m_nKeyHead = m_nOtherHead = 0;
}

void ExportChannelLists::FillChannels(ByteView iTable, uint32_t iCount, ByteView pTable,
                                      uint32_t pCount, uint64_t dataLength, uint32_t channelMask,
                                      uint8_t byteOrder) {
    Clear();
    // kFrameInfoNoChannel lies beyond the mask's 32 cameras.
    const auto wanted = [channelMask](uint8_t channel) {
        return channel < 32 && (channelMask >> channel & 1u) != 0;
    };
    for (uint32_t i = 0; i < iCount; ++i) {
        const auto rec = iFrameInfoAt(iTable, i, byteOrder);
        if (!rec) break;
        const auto offset = frameOffsetInData(rec->offsetUnits, dataLength);
        if (!offset) continue;
        m_starts.push_back(uint32_t(*offset));
        if (!wanted(rec->channel)) continue;
        m_key.push_back({uint32_t(*offset), rec->timeOffset});
    }
    for (uint32_t i = 0; i < pCount; ++i) {
        const auto rec = pFrameInfoAt(pTable, i, byteOrder);
        if (!rec) break;
        const auto offset = frameOffsetInData(rec->offsetUnits, dataLength);
        if (!offset) continue;
        m_starts.push_back(uint32_t(*offset));
        if (!wanted(rec->channel)) continue;
        m_other.push_back(uint32_t(*offset));
    }
    std::sort(m_starts.begin(), m_starts.end());
}

void ExportChannelLists::FillFromScan(const ScannedFrames& frames, uint32_t channelMask) {
    Clear();
    for (int c = 0; c < kMaxChannels; ++c) {
        const bool wanted = (channelMask >> c & 1u) != 0;
        for (const ScannedKeyFrame& f : frames.key[c]) {
            m_starts.push_back(f.offset);
            if (wanted) m_key.push_back({f.offset, f.timeOffset});
        }
        for (uint32_t offset : frames.other[c]) {
            m_starts.push_back(offset);
            if (wanted) m_other.push_back(offset);
        }
    }
    // Each channel's frames are in data order; the lists take all wanted channels.
    std::sort(m_key.begin(), m_key.end(),
              [](const KeyRef& a, const KeyRef& b) { return a.offset < b.offset; });
    std::sort(m_other.begin(), m_other.end());
    std::sort(m_starts.begin(), m_starts.end());
}

std::optional<uint32_t> ExportChannelLists::NextFrameStart(uint32_t offset) const {
    const auto next = std::upper_bound(m_starts.begin(), m_starts.end(), offset);
    if (next == m_starts.end()) return std::nullopt;
    return *next;
}

void ExportChannelLists::PendingOffsets(std::vector<uint32_t>& out) const {
    out.clear();
    for (size_t k = m_nKeyHead, o = m_nOtherHead; k < m_key.size() || o < m_other.size();) {
        if (k < m_key.size() && (o == m_other.size() || m_key[k].offset < m_other[o]))
            out.push_back(m_key[k++].offset);
        else
            out.push_back(m_other[o++]);
    }
}

std::optional<ExportChannelLists::Item> ExportChannelLists::TakeNext() {
    const bool haveKey = KeyFrames() != 0;
    const bool haveOther = OtherFrames() != 0;
    if (!haveKey && !haveOther) return std::nullopt;
    if (haveKey && (!haveOther || m_key[m_nKeyHead].offset < m_other[m_nOtherHead])) {
        const KeyRef& ref = m_key[m_nKeyHead++];
        return Item{ref.offset, true, ref.index};
    }
    return Item{m_other[m_nOtherHead++], false, 0};
}

} // namespace qm
