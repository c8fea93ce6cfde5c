#include "export/archive_frame_reader.h"

#include "platform/diagnostics.h"
#include "storage/file_reader.h"
#include "storage/recording_index.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace qm {

namespace {

constexpr const char* kTag = log_tag::kPlayer;
// The block's last frame has no next offset to bound it: a first read of this
// size, then the rest once its header gives the length.
constexpr uint32_t kLastFrameFirstRead = 4096;
// Damaged tables can leave a wide gap before the next offset: larger frames
// are read in two parts rather than trusting the gap.
constexpr uint32_t kLargestFirstRead = 1u << 20;

} // namespace

TArchiveFrameReader::TArchiveFrameReader(ExportReaderSettings settings) : m_settings(settings) {}

bool TArchiveFrameReader::Fail(const std::string& error) {
    m_strError = error;
    qmLogAt(6, kTag, "(bBuildBlockIndexList_AVI) %s\n", error.c_str());
    return false;
}

bool TArchiveFrameReader::bBuildBlockIndexList_AVI(int fd, int channel) {
    ReleaseBlockIndexList_AVI();
    m_strError.clear();
    m_fd = fd;
    m_nChannel = channel;
    if (channel < 0 || channel > 31) return Fail("no such channel");
    m_nChannelMask = 1u << channel;

    m_llFileLength = FileLength(fd);
    IndexError error;
    const auto header = ReadArchiveHeader(fd, m_llFileLength, error);
    if (!header) return Fail(error.text);
    if (!header->hasMagic()) return Fail(kArchiveFormatError);
    m_header = *header;
    if (!CheckArchiveLayout(m_header, m_llFileLength, error)) return Fail(error.text);

    m_context.codec = m_header.codec;
    m_context.byteOrder = m_header.byteOrder;
    m_context.audioDecoder = m_settings.audioDecoder;
    m_context.decodeAudio = m_settings.decodeAudio;
    // The header's range, already in host order whatever the archive's order.
    m_nRangeStart = std::max(m_header.startTime, m_settings.from.value_or(0));
    m_nRangeEnd = std::min(m_header.endTime, m_settings.to.value_or(UINT32_MAX));

    qmLog("CQMPLAYEX::bBuildBlockIndexList_AVI LOAD_MINI_HEADER_ATONCE Start\n");
    const auto blocks =
        ReadArchiveBlocks(fd, m_header, m_llFileLength, channel / kChannelsPerGroup, error);
    if (!blocks) return Fail(error.text);
    m_AVIBlockIndexList.reserve(blocks->size());
    for (const ArchiveBlock& block : *blocks) {
        BlockEntry entry;
        entry.mini = block.mini;
        entry.blockNumber = block.number;
        entry.listPosition = uint32_t(m_AVIBlockIndexList.size());
        m_AVIBlockIndexList.push_back(std::move(entry));
    }
    m_nCursor = 0;
    m_bBlockLoaded = false;
    m_lists.Clear();
    return true;
}

void TArchiveFrameReader::AddChannels(uint32_t channelMask) {
    m_nChannelMask |= channelMask & GroupChannelMask(m_nChannel / kChannelsPerGroup);
    // Several cameras' frames make up most of a block: one read of its whole
    // data area beats a read per frame.
    m_bWholeBlocks = (m_nChannelMask & (m_nChannelMask - 1)) != 0;
}

void TArchiveFrameReader::ReleaseBlockIndexList_AVI() {
    m_AVIBlockIndexList.clear();
    m_AVIBlockIndexList.shrink_to_fit();
    m_nCursor = 0;
    m_bBlockLoaded = false;
    m_lists.Clear();
    std::vector<uint8_t>().swap(m_data);
    m_nDataLength = 0;
}

int TArchiveFrameReader::LoadBlock(const BlockEntry& entry) {
    const uint32_t B = m_header.blockSize;
    const uint32_t n = entry.blockNumber;
    std::vector<uint8_t> headerBytes(kBlockHeaderSize);
    const auto headerPos = blockHeaderPosition(n, B);
    if (!headerPos || !ReadExact(m_fd, *headerPos, headerBytes.data(), headerBytes.size())) {
        qmLogAt(6, kTag, "(readVideoFrameFile) Read Block Header Failed #%u\n", n);
        return kExportReadFailed;
    }
    const auto header =
        parseBlockHeader(ByteView(headerBytes.data(), headerBytes.size()), m_header.byteOrder);
    if (!header || !header->hasMarker()) {
        qmLogAt(6, kTag, "(readVideoFrameFile) Wrong block marker-%d\n",
                header ? int(header->marker) : 0);
        return kExportWrongBlockMarker;
    }
    const auto geo = blockGeometry(n, B, header->iSectors, header->pSectors);
    if (!geo) {
        qmLogAt(6, kTag, "(readVideoFrameFile) Block #%u has no room for its tables\n", n);
        return kExportWrongBlockMarker;
    }

    const uint32_t L = uint32_t(geo->dataLength);
    std::vector<uint8_t> pTable, iTable;
    try {
        pTable.resize(geo->pTableBytes);
        iTable.resize(geo->iTableBytes);
    } catch (const std::bad_alloc&) {
        qmLog("Out of memory. Quit.\n");
        return kExportOutOfMemory;
    }
    const char* failed = nullptr;
    if (!ReadExact(m_fd, geo->pTablePosition(), pTable.data(), pTable.size()))
        failed = "PFrameInfo";
    else if (!ReadExact(m_fd, geo->iTablePosition(), iTable.data(), iTable.size()))
        failed = "IFrameInfo";
    if (failed) {
        qmLogAt(6, kTag, "(readVideoFrameFile) Read %s Failed #%u\n", failed, n);
        return kExportReadFailed;
    }

    m_nDataLength = L;
    m_llDataPosition = geo->dataPosition();
    // A block that cannot be read whole (too large, or cut short) is read
    // frame by frame, which keeps the frames before the damage.
    m_bBlockInMemory = false;
    if (m_bWholeBlocks && L <= kLargestWholeBlock) {
        try {
            m_block.resize(L);
            m_bBlockInMemory = ReadExact(m_fd, m_llDataPosition, m_block.data(), L);
        } catch (const std::bad_alloc&) {
        }
    }
    m_nBlockNumber = n;
    const FrameTables tables{ByteView(iTable.data(), iTable.size()), header->iFrameCount,
                             ByteView(pTable.data(), pTable.size()), header->pFrameCount};
    const int group = m_nChannel / kChannelsPerGroup;
    // Judging the tables reads only a sample of the headers they point at;
    // the data area is read whole only for a block whose tables fail.
    const bool damaged = frameTablesDamaged(
        tables, *header, group, L, m_header.byteOrder,
        [this](uint32_t at) -> std::optional<FrameHeader> {
            uint8_t bytes[kFrameHeaderSize];
            if (m_bBlockInMemory && at <= m_block.size() && m_block.size() - at >= kFrameHeaderSize)
                std::memcpy(bytes, m_block.data() + at, kFrameHeaderSize);
            else if (!ReadExact(m_fd, m_llDataPosition + at, bytes, kFrameHeaderSize))
                return std::nullopt;
            return parseFrameHeader(ByteView(bytes, kFrameHeaderSize), m_header.byteOrder);
        });
    if (damaged && !m_bBlockInMemory && L <= kLargestWholeBlock) {
        try {
            m_block.resize(L);
            m_bBlockInMemory = ReadExact(m_fd, m_llDataPosition, m_block.data(), L);
        } catch (const std::bad_alloc&) {
        }
    }
    if (damaged && m_bBlockInMemory) {
        const ScannedFrames found =
            scanFrames(ByteView(m_block.data(), L), *header, group, m_header.byteOrder);
        qmLogAt(6, kTag, "(readVideoFrameFile) Block #%u: frame tables damaged, %zu frames found\n",
                n, found.Count());
        m_lists.FillFromScan(found, m_nChannelMask);
    } else {
        m_lists.FillChannels(tables.iTable, tables.iCount, tables.pTable, tables.pCount, L,
                             m_nChannelMask, m_header.byteOrder);
    }
    m_nBlockOrdinal = entry.listPosition;
    m_nProgressDivisor = header->dataEnd;
    m_bBlockLoaded = true;
    return 0;
}

bool TArchiveFrameReader::GrowFrameBuffer(size_t length) {
    if (length <= m_data.size()) return true;
    try {
        // Keeps what was read so far: the header may already be in.
        m_data.resize(length);
    } catch (const std::bad_alloc&) {
        qmLog("Out of memory. Quit.\n");
        return false;
    }
    return true;
}

bool TArchiveFrameReader::ReadData(uint32_t offset, uint8_t* out, size_t length) {
    if (m_bBlockInMemory && offset <= m_block.size() && length <= m_block.size() - offset) {
        std::memcpy(out, m_block.data() + offset, length);
        return true;
    }
    if (ReadExact(m_fd, m_llDataPosition + offset, out, length)) return true;
    qmLogAt(6, kTag, "(readVideoFrameFile) Read Block Data Failed #%u\n", m_nBlockNumber);
    return false;
}

void TArchiveFrameReader::PublishProgress(uint32_t positionAfterHeader) {
    if (!m_settings.percent || m_AVIBlockIndexList.empty()) return;
    m_settings.percent->store(ExportProgressPercent(positionAfterHeader, m_nProgressDivisor,
                                                    m_nDataLength, m_nBlockOrdinal,
                                                    m_AVIBlockIndexList.size()));
}

int TArchiveFrameReader::readVideoFrameFile(ExportFrame& frame) {
    frame.hasAudio = false;
    frame.audio.clear();
    if (m_AVIBlockIndexList.empty()) return kExportEmptyList;
    for (;;) {
        if (!m_bBlockLoaded) {
            if (Cancelled() || m_nCursor >= m_AVIBlockIndexList.size()) return kExportEnd;
            const BlockEntry& entry = m_AVIBlockIndexList[m_nCursor++];
            // A block whose times lie wholly outside a narrowed range holds
            // none of its frames; its tables are not even read.
            const MiniHeader& mini = entry.mini;
            if ((m_settings.from || m_settings.to) && mini.startTime <= mini.endTime &&
                (mini.endTime < m_nRangeStart || mini.startTime > m_nRangeEnd))
                continue;
            const int loaded = LoadBlock(entry);
            if (loaded < 0) return loaded;
            continue;
        }
        const auto item = m_lists.TakeNext();
        if (!item) {
            m_bBlockLoaded = false;
            continue;
        }
        // Only the exported camera's frames are read, not the block's whole
        // data area: with 16 cameras that is a sixteenth of the bytes. The
        // next frame's offset in the tables bounds this one, so one read
        // usually brings header and payload together.
        const uint32_t at = item->offset;
        if (at > m_nDataLength || m_nDataLength - at < kFrameHeaderSize) {
            ++m_nDamaged;
            continue;
        }
        const auto next = m_lists.NextFrameStart(at);
        const uint32_t first = std::clamp<uint32_t>(next ? std::min(*next - at, kLargestFirstRead)
                                                         : kLastFrameFirstRead,
                                                    kFrameHeaderSize, m_nDataLength - at);
        if (!GrowFrameBuffer(first)) return kExportOutOfMemory;
        if (!ReadData(at, m_data.data(), first)) return kExportReadFailed;
        const auto header =
            parseFrameHeader(ByteView(m_data.data(), kFrameHeaderSize), m_header.byteOrder);
        if (!header || header->channel >= 32 || !(m_nChannelMask >> header->channel & 1u)) {
            ++m_nDamaged;
            continue;
        }
        if (header->isEndOfFrames()) {
            m_bBlockLoaded = false;
            continue;
        }
        if (!header->hasMarker()) {
            ++m_nDamaged;
            continue;
        }
        if (header->time < m_nRangeStart || header->time > m_nRangeEnd) continue;

        // The frame's areas never reach past its own length, nor past the data area.
        const uint32_t after = at + kFrameHeaderSize;
        const uint32_t span = std::min(header->payloadBytes(), m_nDataLength - after);
        const uint32_t whole = kFrameHeaderSize + span;
        if (whole > first) {
            if (!GrowFrameBuffer(whole)) return kExportOutOfMemory;
            if (!ReadData(at + first, m_data.data() + first, whole - first))
                return kExportReadFailed;
        }
        const ByteView payload(m_data.data() + kFrameHeaderSize, span);
        const auto built = BuildExportFrame(*header, payload, m_context, frame);
        if (!built) {
            qmLogAt(6, kTag,
                    "(readVideoFrameFile) Damaged frame skipped - CH:%d, Time:%u, Size:%u\n",
                    m_nChannel, header->time, unsigned(header->length));
            ++m_nDamaged;
            continue;
        }
        if (*built < 0) return *built;
        PublishProgress(after);
        if (Cancelled()) return kExportEnd;
        return *built;
    }
}

} // namespace qm
