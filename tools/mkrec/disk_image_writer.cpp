#include "tools/mkrec/disk_image_writer.h"

#include "platform/byte_order.h"
#include "storage/record_layout.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <unistd.h>

namespace qm::mkrec {

namespace {

constexpr uint64_t kDataAlignment = 65536;

uint64_t roundUp(uint64_t value, uint64_t to) {
    return (value + to - 1) / to * to;
}

std::string systemError() {
    return std::strerror(errno);
}

// A mini header of the MHS; the disk firmware writes it little-endian.
void putMiniHeader(uint8_t* p, uint8_t flags, uint8_t groupByte, uint16_t mask, uint32_t start,
                   uint32_t end, uint32_t sequence) {
    p[0] = flags;
    p[1] = groupByte;
    storeLE16(p + 2, mask);
    storeLE32(p + 4, start);
    storeLE32(p + 8, end);
    storeLE32(p + 12, sequence);
}

} // namespace

DiskImageWriter::DiskImageWriter(const std::string& path, const DiskImageSettings& settings)
    : m_path(path), m_settings(settings) {
    m_file = std::fopen(path.c_str(), "wb");
    if (!m_file) throw std::runtime_error("cannot create " + path + ": " + systemError());
    m_spill = std::tmpfile();
    if (!m_spill) {
        std::fclose(m_file);
        m_file = nullptr;
        throw std::runtime_error("cannot create a temporary file: " + systemError());
    }
}

DiskImageWriter::~DiskImageWriter() {
    if (m_file) std::fclose(m_file);
    if (m_spill) std::fclose(m_spill);
}

DiskImageWriter::Spilled DiskImageWriter::spill(const Block& block) {
    if (block.bytes.size() != m_settings.blockSize) throw std::logic_error("block of wrong size");
    if (std::fwrite(block.bytes.data(), 1, block.bytes.size(), m_spill) != block.bytes.size())
        throw std::runtime_error("cannot write a temporary file: " + systemError());
    return {block.group, block.channelMask, block.start, block.end, m_spilled++};
}

void DiskImageWriter::putBlock(Block&& block) {
    m_blocks.push_back(spill(block));
}

void DiskImageWriter::putStaleBlock(Block&& block) {
    m_staleBlocks.push_back(spill(block));
}

void DiskImageWriter::copySpilled(const Spilled& block, uint64_t offset,
                                  std::vector<uint8_t>& buffer) {
    const uint32_t B = m_settings.blockSize;
    buffer.resize(B);
    if (::fseeko(m_spill, off_t(block.index) * off_t(B), SEEK_SET) != 0 ||
        std::fread(buffer.data(), 1, B, m_spill) != B)
        throw std::runtime_error("cannot read back a temporary file: " + systemError());
    writeAt(offset, buffer.data(), B);
}

void DiskImageWriter::writeAt(uint64_t offset, const uint8_t* data, size_t size) {
    if (::fseeko(m_file, off_t(offset), SEEK_SET) != 0 ||
        std::fwrite(data, 1, size, m_file) != size)
        throw std::runtime_error("cannot write " + m_path + ": " + systemError());
}

uint32_t DiskImageWriter::startSlot(size_t count, uint32_t slots) const {
    const DiskImageOptions& ring = m_settings.ring;
    if (ring.ringStart) {
        if (*ring.ringStart >= slots)
            throw std::runtime_error("--ring-start " + std::to_string(*ring.ringStart) +
                                     " is beyond the ring's " + std::to_string(slots) + " slots");
        return *ring.ringStart;
    }
    if (!ring.wrap) return 0;
    // Block i goes to slot (start + i) mod slots. Put the oldest block kept
    // half the kept blocks before the ring's end, so that the rest wrap to 0.
    const size_t kept = std::min<size_t>(count, slots);
    const size_t firstKept = count - kept;
    const uint64_t wanted = slots - (kept + 1) / 2;
    return uint32_t((wanted + slots - firstKept % slots) % slots);
}

DiskImageLayout DiskImageWriter::finish() {
    if (m_finished) throw std::logic_error("disk image finished twice");
    m_finished = true;
    const DiskImageOptions& ring = m_settings.ring;
    const uint32_t B = m_settings.blockSize;
    // Both groups' blocks in time order, the first group first on a tie.
    std::stable_sort(m_blocks.begin(), m_blocks.end(), [](const Spilled& a, const Spilled& b) {
        return a.start != b.start ? a.start < b.start : a.group < b.group;
    });
    const size_t count = m_blocks.size();
    const size_t stale = m_staleBlocks.size();
    const uint64_t slots64 = ring.ringSlots ? ring.ringSlots : count + stale + 2;
    if (slots64 == 0 || slots64 > 0xFFFFFFFFu) throw std::runtime_error("no room for a ring");
    const uint32_t slots = uint32_t(slots64);

    DiskImageLayout layout;
    layout.blockSize = B;
    layout.slotCount = slots;
    layout.blocksGenerated = count;
    layout.diskInfoOffset = ring.card ? kCardDiskInfoOffset : kDiskInfoOffset;
    layout.mhsOffset = layout.diskInfoOffset + kDiskInfoSize;
    layout.mhsLength = uint32_t(roundUp(uint64_t(slots) * kMiniHeaderSize, kSectorSize));
    layout.dataBase = roundUp(layout.mhsOffset + layout.mhsLength, kDataAlignment);
    layout.imageSize = layout.dataBase + uint64_t(slots) * B;
    layout.slotBlock.assign(slots, kSlotEmpty);

    const uint32_t first = startSlot(count, slots);
    for (size_t i = 0; i < count; ++i)
        layout.slotBlock[(first + i) % slots] = int64_t(i); // later blocks overwrite older ones
    layout.blocksKept = std::min<size_t>(count, slots);
    // The recorder was reset and began again at `first`: what it wrote before
    // still lies in the slots it has not reached yet.
    const size_t unused = count >= slots ? 0 : slots - count;
    if (stale > unused)
        throw std::runtime_error(
            "--stale-blocks " + std::to_string(stale) +
            " needs that many slots the recording leaves unused; the ring has " +
            std::to_string(unused));
    for (size_t j = 0; j < stale; ++j)
        layout.slotBlock[(first + count + j) % slots] = kSlotStale;

    std::vector<uint8_t> mhs(layout.mhsLength, 0);
    std::vector<uint8_t> bytes(B);
    for (uint32_t slot = 0; slot < slots; ++slot) {
        const int64_t i = layout.slotBlock[slot];
        if (i < 0) continue;
        const Spilled& b = m_blocks[size_t(i)];
        putMiniHeader(mhs.data() + size_t(slot) * kMiniHeaderSize, 1, uint8_t(b.group + 1),
                      b.channelMask, b.start, b.end, ring.firstSequence + uint32_t(i));
        copySpilled(b, layout.dataBase + uint64_t(slot) * B, bytes);
    }
    for (size_t j = 0; j < stale; ++j) {
        const uint32_t slot = uint32_t((first + count + j) % slots);
        copySpilled(m_staleBlocks[j], layout.dataBase + uint64_t(slot) * B, bytes);
    }

    // Entries in unused slots that a reader must refuse: a start not after
    // 900000000, a group of 0, no channels, a start after the end.
    uint32_t invalid = 0;
    const uint32_t when = m_blocks.empty() ? 1700000000 : m_blocks.front().start;
    for (uint32_t slot = 0; slot < slots && invalid < ring.invalidSlots; ++slot) {
        if (layout.slotBlock[slot] != kSlotEmpty) continue;
        uint8_t* p = mhs.data() + size_t(slot) * kMiniHeaderSize;
        const uint32_t sequence = ring.firstSequence + invalid;
        switch (invalid % 4) {
        case 0:
            putMiniHeader(p, 1, 1, 1, kDiskMinStartTime, kDiskMinStartTime + 10, sequence);
            break;
        case 1:
            putMiniHeader(p, 1, 0, 1, when, when + 10, sequence);
            break;
        case 2:
            putMiniHeader(p, 1, 1, 0, when, when + 10, sequence);
            break;
        default:
            putMiniHeader(p, 1, 1, 1, when + 10, when, sequence);
            break;
        }
        layout.slotBlock[slot] = kSlotInvalid;
        ++invalid;
    }
    if (invalid < ring.invalidSlots)
        throw std::runtime_error("--invalid-slots " + std::to_string(ring.invalidSlots) +
                                 " needs that many unused slots; the ring has " +
                                 std::to_string(invalid));
    writeAt(layout.mhsOffset, mhs.data(), mhs.size());

    uint8_t info[kDiskInfoSize] = {};
    storeLE32(info + disk_field::kMagic, kMagicDisk);
    storeLE16(info + disk_field::kChannels, m_settings.channels);
    info[disk_field::kByteOrder] = m_settings.byteOrder;
    info[disk_field::kCodec] = m_settings.codecByte;
    storeLE64(info + disk_field::kMhsOffset, layout.mhsOffset);
    storeLE32(info + disk_field::kMhsLength, layout.mhsLength);
    storeLE32(info + disk_field::kBlockSize, B);
    storeLE64(info + disk_field::kDataBase, layout.dataBase);
    writeAt(layout.diskInfoOffset, info, sizeof info);

    // The slots not written stay holes up to the image's full size.
    if (std::fflush(m_file) != 0 || ::ftruncate(fileno(m_file), off_t(layout.imageSize)) != 0)
        throw std::runtime_error("cannot write " + m_path + ": " + systemError());
    const int closed = std::fclose(m_file);
    m_file = nullptr;
    if (closed != 0) throw std::runtime_error("cannot write " + m_path + ": " + systemError());
    return layout;
}

} // namespace qm::mkrec
