#pragma once
// The exported channel's frames in one loaded block, in the order the export
// reads them: two lists of frame-header offsets (key frames and other frames)
// filled from the block's IFrameInfo and PFrameInfo tables (or from a scan of
// the data area when they are damaged), taken smallest offset first.
//
// These lists belong to the export alone. The storage reader keeps lists of
// its own for its prefetch and preparation threads, which go on running while
// an export is in progress; sharing theirs would corrupt both.

#include "platform/byte_order.h"
#include "storage/frame_scan.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace qm {

// The cameras of group 0 (1-16) or 1 (17-32) as a channel mask.
constexpr uint32_t GroupChannelMask(int group) {
    return group == 0 ? 0xFFFFu : 0xFFFF0000u;
}

class ExportChannelLists {
public:
    struct Item {
        uint32_t offset = 0; // of the frame header in the data area
        bool fromKeyList = false;
        uint16_t index = 0; // the IFrameInfo record's first word (key list only)
    };

    // Replaces the lists with the channel's records of the two tables. Counts
    // come from the block header and are trusted only as far as the tables
    // reach; records pointing outside the data area are left out.
    void Fill(ByteView iTable, uint32_t iCount, ByteView pTable, uint32_t pCount,
              uint64_t dataLength, int channel, uint8_t byteOrder) {
        FillChannels(iTable, iCount, pTable, pCount, dataLength, 1u << (channel & 31), byteOrder);
    }
    // The same for every camera of `channelMask` (bit n: camera n + 1), in
    // one pair of lists ordered by offset.
    void FillChannels(ByteView iTable, uint32_t iCount, ByteView pTable, uint32_t pCount,
                      uint64_t dataLength, uint32_t channelMask, uint8_t byteOrder);
    // The same from the frames a scan of the data area found, for a block
    // whose tables were judged damaged.
    void FillFromScan(const ScannedFrames& frames, uint32_t channelMask);
    // Where the frame after the one at `offset` begins, whatever its camera:
    // the next offset of either table. nullopt for the block's last frame.
    std::optional<uint32_t> NextFrameStart(uint32_t offset) const;
    // The element with the smaller offset (a tie goes to the other-frame
    // list), removed from its list; nullopt when both lists are used up.
    std::optional<Item> TakeNext();
    // The offsets TakeNext has yet to give, in the order it gives them.
    void PendingOffsets(std::vector<uint32_t>& out) const;
    void Clear();

    size_t KeyFrames() const { return m_key.size() - m_nKeyHead; }
    size_t OtherFrames() const { return m_other.size() - m_nOtherHead; }
    bool Empty() const { return KeyFrames() == 0 && OtherFrames() == 0; }

private:
    struct KeyRef {
        uint32_t offset;
        uint16_t index;
    };
    std::vector<KeyRef> m_key;
    std::vector<uint32_t> m_other;
    std::vector<uint32_t> m_starts; // every camera's frame offsets, sorted
    size_t m_nKeyHead = 0;
    size_t m_nOtherHead = 0;
};

} // namespace qm
