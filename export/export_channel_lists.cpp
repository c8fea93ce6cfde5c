#include "export/export_channel_lists.h"

#include "storage/formats.h"

namespace qm {

void ExportChannelLists::Clear() {
    m_key.clear();
    m_other.clear();
    m_nKeyHead = m_nOtherHead = 0;
}

void ExportChannelLists::Fill(ByteView iTable, uint32_t iCount, ByteView pTable, uint32_t pCount,
                              uint64_t dataLength, int channel, uint8_t byteOrder) {
    Clear();
    for (uint32_t i = 0; i < iCount; ++i) {
        const auto rec = iFrameInfoAt(iTable, i, byteOrder);
        if (!rec) break;
        if (rec->channel != channel || rec->channel == kFrameInfoNoChannel) continue;
        const auto offset = frameOffsetInData(rec->offsetUnits, dataLength);
        if (offset) m_key.push_back({uint32_t(*offset), rec->timeOffset});
    }
    for (uint32_t i = 0; i < pCount; ++i) {
        const auto rec = pFrameInfoAt(pTable, i, byteOrder);
        if (!rec) break;
        if (rec->channel != channel || rec->channel == kFrameInfoNoChannel) continue;
        const auto offset = frameOffsetInData(rec->offsetUnits, dataLength);
        if (offset) m_other.push_back(uint32_t(*offset));
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
