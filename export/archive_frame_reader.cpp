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
// One read more costs about as much as copying this many bytes more: in a
// virtual machine a system call takes about 2 us, copying from the page
// cache about 0.1 ns a byte. The other cameras' frames between two of the
// exported camera's are read along when they are fewer bytes than this.
constexpr uint32_t kReadGapBytes = 16 * 1024;

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
    std::vector<uint8_t>().swap(m_block);
    std::vector<uint8_t>().swap(m_tables);
    m_loaded.clear();
    m_nDataHeld = 0;
    m_nDataLength = 0;
}

int TArchiveFrameReader::LoadBlock(const BlockEntry& entry) {
    const uint32_t B = m_header.blockSize;
    const uint32_t n = entry.blockNumber;
    uint8_t headerBytes[kBlockHeaderSize];
    const auto headerPos = blockHeaderPosition(n, B);
    if (!headerPos || !ReadExact(m_fd, *headerPos, headerBytes, kBlockHeaderSize)) {
        qmLogAt(6, kTag, "(readVideoFrameFile) Read Block Header Failed #%u\n", n);
        return kExportReadFailed;
    }
    const auto header =
        parseBlockHeader(ByteView(headerBytes, kBlockHeaderSize), m_header.byteOrder);
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
    // The tables lie side by side before the block header: one read, into a
    // buffer kept from block to block (a new one is page faults every time).
    const size_t tableBytes = size_t(geo->pTableBytes + geo->iTableBytes);
    try {
        if (m_tables.size() < tableBytes) m_tables.resize(tableBytes);
    } catch (const std::bad_alloc&) {
        qmLog("Out of memory. Quit.\n");
        return kExportOutOfMemory;
    }
    if (geo->iTablePosition() != geo->pTablePosition() + geo->pTableBytes ||
        !ReadExact(m_fd, geo->pTablePosition(), m_tables.data(), tableBytes)) {
        qmLogAt(6, kTag, "(readVideoFrameFile) Read PFrameInfo and IFrameInfo Failed #%u\n", n);
        return kExportReadFailed;
    }
    const ByteView pTable(m_tables.data(), size_t(geo->pTableBytes));
    const ByteView iTable(m_tables.data() + geo->pTableBytes, size_t(geo->iTableBytes));

    m_nDataLength = L;
    m_llDataPosition = geo->dataPosition();
    m_nBlockNumber = n;
    m_loaded.clear();
    m_nDataHeld = 0;
    m_bMirrored = false;
    if (L <= kLargestWholeBlock) {
        try {
            if (m_block.size() < L) m_block.resize(L);
            m_bMirrored = true;
        } catch (const std::bad_alloc&) {
        }
    }
    const FrameTables tables{iTable, header->iFrameCount, pTable, header->pFrameCount};
    const int group = m_nChannel / kChannelsPerGroup;
    m_lists.FillChannels(tables.iTable, tables.iCount, tables.pTable, tables.pCount, L,
                         m_nChannelMask, m_header.byteOrder);
    // Judging the tables reads a sample of the headers they point at: read
    // with the frames, they cost no reads of their own.
    std::vector<uint32_t> sampled;
    frameTablesDamaged(tables, *header, group, L, m_header.byteOrder,
                       [&sampled](uint32_t at) -> std::optional<FrameHeader> {
                           sampled.push_back(at);
                           return std::nullopt;
                       });
    if (m_bMirrored) ReadWanted(sampled);
    const bool damaged = frameTablesDamaged(
        tables, *header, group, L, m_header.byteOrder,
        [this](uint32_t at) -> std::optional<FrameHeader> {
            if (Loaded(at, kFrameHeaderSize))
                return parseFrameHeader(ByteView(m_block.data() + at, kFrameHeaderSize),
                                        m_header.byteOrder);
            uint8_t bytes[kFrameHeaderSize];
            if (!ReadExact(m_fd, m_llDataPosition + at, bytes, kFrameHeaderSize))
                return std::nullopt;
            return parseFrameHeader(ByteView(bytes, kFrameHeaderSize), m_header.byteOrder);
        });
    // The data area is read whole only for a block whose tables fail; one
    // that cannot be (too large, or cut short) is read frame by frame, which
    // keeps the frames before the damage.
    if (damaged && m_bMirrored && !Loaded(0, L)) {
        if (ReadExact(m_fd, m_llDataPosition, m_block.data(), L)) m_loaded.assign({Span{0, L}});
    }
    if (damaged && m_bMirrored && Loaded(0, L)) {
        const ScannedFrames found =
            scanFrames(ByteView(m_block.data(), L), *header, group, m_header.byteOrder);
        qmLogAt(6, kTag, "(readVideoFrameFile) Block #%u: frame tables damaged, %zu frames found\n",
                n, found.Count());
        m_lists.FillFromScan(found, m_nChannelMask);
    }
    m_nBlockOrdinal = entry.listPosition;
    m_nProgressDivisor = header->dataEnd;
    m_bBlockLoaded = true;
    return 0;
}

void TArchiveFrameReader::ReadWanted(const std::vector<uint32_t>& sampled) {
    const uint32_t L = m_nDataLength;
    m_wanted.clear();
    if (m_bWholeBlocks) {
        // Several cameras' frames make up most of the block.
        m_wanted.push_back({0, L});
    } else {
        // Each frame up to the next frame's offset in the tables (whatever its
        // camera), so one read usually brings header and payload together.
        m_lists.PendingOffsets(m_offsets);
        for (const uint32_t at : m_offsets)
            if (at <= L && L - at >= kFrameHeaderSize) m_wanted.push_back({at, at + FirstRead(at)});
        for (const uint32_t at : sampled)
            if (at <= L && L - at >= kFrameHeaderSize)
                m_wanted.push_back({at, at + kFrameHeaderSize});
        std::sort(m_wanted.begin(), m_wanted.end(),
                  [](const Span& a, const Span& b) { return a.begin < b.begin; });
    }
    size_t i = 0;
    while (i < m_wanted.size()) {
        Span run = m_wanted[i++];
        while (i < m_wanted.size() && m_wanted[i].begin <= run.end + kReadGapBytes)
            run.end = std::max(run.end, m_wanted[i++].end);
        // A failed read leaves its frames to be read one by one.
        if (ReadExact(m_fd, m_llDataPosition + run.begin, m_block.data() + run.begin,
                      run.end - run.begin))
            m_loaded.push_back(run);
    }
}

uint32_t TArchiveFrameReader::FirstRead(uint32_t at) const {
    const auto next = m_lists.NextFrameStart(at);
    return std::clamp<uint32_t>(next ? std::min(*next - at, kLargestFirstRead)
                                     : kLastFrameFirstRead,
                                kFrameHeaderSize, m_nDataLength - at);
}

bool TArchiveFrameReader::Loaded(uint32_t offset, size_t length) const {
    // The last span beginning at or before the offset.
    auto it = std::upper_bound(m_loaded.begin(), m_loaded.end(), offset,
                               [](uint32_t at, const Span& s) { return at < s.begin; });
    if (it == m_loaded.begin()) return false;
    --it;
    return offset <= it->end && length <= it->end - offset;
}

const uint8_t* TArchiveFrameReader::DataBytes(uint32_t offset, size_t length) {
    if (m_bMirrored) {
        if (Loaded(offset, length)) return m_block.data() + offset;
        if (offset <= m_nDataLength && length <= m_nDataLength - offset &&
            ReadExact(m_fd, m_llDataPosition + offset, m_block.data() + offset, length)) {
            const Span read{offset, uint32_t(offset + length)};
            auto it = std::upper_bound(m_loaded.begin(), m_loaded.end(), read.begin,
                                       [](uint32_t at, const Span& s) { return at < s.begin; });
            it = m_loaded.insert(it, read);
            // Keeps the spans apart: a read may join its neighbours.
            if (it != m_loaded.begin() && std::prev(it)->end >= it->begin) {
                std::prev(it)->end = std::max(std::prev(it)->end, it->end);
                it = std::prev(m_loaded.erase(it));
            }
            while (std::next(it) != m_loaded.end() && std::next(it)->begin <= it->end) {
                it->end = std::max(it->end, std::next(it)->end);
                m_loaded.erase(std::next(it));
            }
            return m_block.data() + offset;
        }
    } else {
        // The frame's first part may be in already: only the rest is read.
        const bool more = m_nDataHeld != 0 && offset == m_nDataAt && length > m_nDataHeld;
        if (m_nDataHeld != 0 && offset == m_nDataAt && length <= m_nDataHeld) return m_data.data();
        const size_t from = more ? m_nDataHeld : 0;
        try {
            // Keeps what was read so far.
            if (m_data.size() < length) m_data.resize(length);
        } catch (const std::bad_alloc&) {
            qmLog("Out of memory. Quit.\n");
            return nullptr;
        }
        m_nDataHeld = 0;
        if (ReadExact(m_fd, m_llDataPosition + offset + from, m_data.data() + from,
                      length - from)) {
            m_nDataAt = offset;
            m_nDataHeld = uint32_t(length);
            return m_data.data();
        }
    }
    qmLogAt(6, kTag, "(readVideoFrameFile) Read Block Data Failed #%u\n", m_nBlockNumber);
    return nullptr;
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
        // Normally already read with the block's other wanted parts.
        const uint32_t at = item->offset;
        if (at > m_nDataLength || m_nDataLength - at < kFrameHeaderSize) {
            ++m_nDamaged;
            continue;
        }
        const uint32_t first = FirstRead(at);
        const uint8_t* bytes = DataBytes(at, first);
        if (!bytes) return kExportReadFailed;
        const auto header = parseFrameHeader(ByteView(bytes, kFrameHeaderSize), m_header.byteOrder);
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
            bytes = DataBytes(at, whole);
            if (!bytes) return kExportReadFailed;
        }
        const ByteView payload(bytes + kFrameHeaderSize, span);
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
