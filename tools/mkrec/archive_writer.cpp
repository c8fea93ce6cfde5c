#include "tools/mkrec/archive_writer.h"

#include "tools/mkrec/field_writer.h"

#include "platform/byte_order.h"
#include "storage/record_layout.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace qm::mkrec {

ArchiveWriter::ArchiveWriter(const std::string& path, const ArchiveSettings& settings)
    : m_path(path), m_settings(settings) {
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) throw std::runtime_error("cannot create " + path + ": " + std::strerror(errno));
}

ArchiveWriter::~ArchiveWriter() {
    if (m_file) std::fclose(m_file);
}

void ArchiveWriter::writeBytes(const uint8_t* data, size_t size) {
    if (std::fwrite(data, 1, size, m_file) != size)
        throw std::runtime_error("cannot write " + m_path + ": " + std::strerror(errno));
}

void ArchiveWriter::putBlock(Block&& block) {
    m_pending[block.group & 1].push_back(std::move(block));
    writeReady(false);
}

// A block can be written once the other group has a later (or equal) block
// waiting, or when the other group has nothing at all.
void ArchiveWriter::writeReady(bool all) {
    // Only a group with channels can still deliver an earlier block.
    const bool bothGroups = (m_settings.channelMask & 0xFFFF) && (m_settings.channelMask >> 16);
    for (;;) {
        auto& g0 = m_pending[0];
        auto& g1 = m_pending[1];
        if (g0.empty() && g1.empty()) return;
        int take;
        if (!g0.empty() && !g1.empty())
            take = g1.front().start < g0.front().start ? 1 : 0;
        else if (all || !bothGroups)
            take = g0.empty() ? 1 : 0;
        else
            return;
        writeBlock(m_pending[take].front());
        m_pending[take].pop_front();
    }
}

void ArchiveWriter::writeBlock(const Block& block) {
    if (block.bytes.size() != m_settings.blockSize) throw std::logic_error("block of wrong size");
    // The header's NI and NP fields, little-endian in either byte order.
    const uint8_t* header = block.bytes.data() + block.bytes.size() - kBlockHeaderSize;
    const uint64_t tableBytes =
        (uint64_t(loadLE16(header + 32)) + loadLE16(header + 34)) * kSectorSize;
    const uint64_t blockAt = uint64_t(m_miniHeaders.size()) * m_settings.blockSize;
    m_layout.blockTables.push_back(
        {blockAt + m_settings.blockSize - kBlockHeaderSize - tableBytes, tableBytes});
    writeBytes(block.bytes.data(), block.bytes.size());
    m_miniHeaders.push_back({block.group, block.channelMask, block.start, block.end});
    m_start = std::min(m_start, block.start);
    m_end = std::max(m_end, block.end);
}

ArchiveLayout ArchiveWriter::finish() {
    if (m_finished) return m_layout;
    m_finished = true;
    writeReady(true);
    const bool big = m_settings.byteOrder == 0;
    const uint64_t tableOffset = uint64_t(m_miniHeaders.size()) * m_settings.blockSize;

    std::vector<uint8_t> table(m_miniHeaders.size() * kMiniHeaderSize, 0);
    for (size_t i = 0; i < m_miniHeaders.size(); ++i) {
        const MiniHeader& m = m_miniHeaders[i];
        FieldWriter w(table.data() + i * kMiniHeaderSize, big);
        w.u8(0, 1); // record type 1: a block of video
        w.u8(1, uint8_t(m.group));
        w.raw16(2, m.channelMask);
        w.conv32(4, m.start);
        w.conv32(8, m.end);
        w.conv32(12, uint32_t(i)); // recording sequence
    }
    writeBytes(table.data(), table.size());

    uint8_t header[kArchiveHeaderSize] = {};
    FieldWriter h(header, big);
    h.conv32(0, kMagicArchive);
    h.conv32(28, m_settings.channelMask);
    h.u8(46, m_settings.byteOrder);
    h.u8(47, m_settings.codecByte);
    h.conv32(112, uint32_t(m_miniHeaders.size()));
    h.conv64(116, tableOffset);
    h.conv32(140, m_settings.blockSize);
    h.conv32(176, m_miniHeaders.empty() ? 0 : m_start);
    h.conv32(180, m_end);
    h.u8(185, m_settings.timeOffset);
    writeBytes(header, sizeof header);

    if (std::fclose(m_file) != 0) {
        m_file = nullptr;
        throw std::runtime_error("cannot write " + m_path + ": " + std::strerror(errno));
    }
    m_file = nullptr;

    m_layout.blocks = m_miniHeaders.size();
    m_layout.miniTableOffset = tableOffset;
    m_layout.miniTableLength = table.size();
    m_layout.headerOffset = tableOffset + table.size();
    m_layout.fileSize = m_layout.headerOffset + sizeof header;
    return m_layout;
}

} // namespace qm::mkrec
