#include "tools/mkrec/block_builder.h"

#include "tools/mkrec/field_writer.h"

#include "storage/record_layout.h"

#include <stdexcept>

namespace qm::mkrec {

uint32_t tableSectors(size_t count, uint32_t recordSize) {
    size_t sectors = (count * recordSize + kSectorSize - 1) / kSectorSize;
    return uint32_t(sectors == 0 ? 1 : sectors);
}

BlockBuilder::BlockBuilder(uint32_t blockSize, bool bigEndian, int group, BlockSink& sink)
    : m_blockSize(blockSize), m_big(bigEndian), m_group(group), m_sink(sink) {}

bool BlockBuilder::fits(std::span<const SerializedFrame> frames) const {
    size_t data = m_data.size(), keys = m_keyCount, others = m_frames.size() - m_keyCount;
    const uint32_t blockStart =
        m_frames.empty() ? (frames.empty() ? 0 : frames.front().time) : m_frames.front().time;
    for (const SerializedFrame& f : frames) {
        // Key-frame times are kept as 16-bit seconds after the block's start.
        if (f.time - blockStart > 0xFFFF) return false;
        // A big-endian reader takes only 16 bits of a table's unit offset.
        if (m_big && data / kUnitSize > 0xFFFF) return false;
        data += f.bytes.size();
        (f.key ? keys : others) += 1;
    }
    const size_t needed =
        data + kUnitSize /* LaSt */ + size_t(tableSectors(keys, kIFrameInfoSize)) * kSectorSize +
        size_t(tableSectors(others, kPFrameInfoSize)) * kSectorSize + kBlockHeaderSize;
    return needed <= m_blockSize;
}

void BlockBuilder::append(const SerializedFrame& f) {
    m_frames.push_back({uint32_t(m_data.size() / kUnitSize), f.channel, f.key, f.time});
    m_data.insert(m_data.end(), f.bytes.begin(), f.bytes.end());
    if (f.key) ++m_keyCount;
}

void BlockBuilder::addRun(std::span<const SerializedFrame> frames) {
    if (!fits(frames)) flush();
    if (fits(frames)) {
        for (const SerializedFrame& f : frames)
            append(f);
        return;
    }
    for (const SerializedFrame& f : frames) {
        if (!fits({&f, 1})) flush();
        if (!fits({&f, 1}))
            throw std::length_error("a frame of " + std::to_string(f.bytes.size()) +
                                    " bytes does not fit in a block; use a larger --block-size");
        append(f);
    }
}

void BlockBuilder::flush() {
    if (m_frames.empty()) return;
    const uint32_t ni = tableSectors(m_keyCount, kIFrameInfoSize);
    const uint32_t np = tableSectors(m_frames.size() - m_keyCount, kPFrameInfoSize);
    const size_t dataArea = m_blockSize - size_t(ni + np) * kSectorSize - kBlockHeaderSize;

    Block block;
    block.group = m_group;
    block.start = m_frames.front().time;
    block.end = m_frames.back().time;
    block.bytes.assign(m_blockSize, 0);
    uint8_t* b = block.bytes.data();
    std::copy(m_data.begin(), m_data.end(), b);
    FieldWriter(b + m_data.size(), m_big).conv32(0, kMagicLast);

    uint8_t* pTable = b + dataArea;
    uint8_t* iTable = pTable + size_t(np) * kSectorSize;
    uint32_t keys = 0, others = 0;
    for (const Placed& p : m_frames) {
        block.channelMask |= uint16_t(1u << (p.channel % 16));
        if (p.key) {
            FieldWriter r(iTable + size_t(keys++) * kIFrameInfoSize, m_big);
            r.conv16(0, uint16_t(p.time - block.start));
            r.conv16(2, 0);
            r.conv16of32(4, p.unitOffset);
            r.conv16of32(8, 1); // usable when loading key frames only
            r.u8(12, uint8_t(p.channel));
            r.u8(13, 0);
            r.conv16(14, 0);
        } else {
            FieldWriter r(pTable + size_t(others++) * kPFrameInfoSize, m_big);
            r.conv16of32(0, p.unitOffset);
            r.u8(4, uint8_t(p.channel));
            r.u8(5, 0);
            r.conv16(6, 0);
        }
    }

    FieldWriter h(b + m_blockSize - kBlockHeaderSize, m_big);
    h.u8(0, 1); // block type: recorded video
    h.raw16(2, block.channelMask);
    h.conv32(4, block.start);
    h.conv32(8, block.end);
    h.conv32(16, kMagicBlock);
    h.conv16of32(20, keys);
    h.raw32(24, others);
    h.raw16(32, uint16_t(ni));
    h.raw16(34, uint16_t(np));
    h.raw32(46, uint32_t(m_data.size())); // data bytes in use, for export progress

    m_data.clear();
    m_frames.clear();
    m_keyCount = 0;
    m_sink.putBlock(std::move(block));
}

} // namespace qm::mkrec
