#include "export/disk_frame_reader.h"

#include "platform/diagnostics.h"
#include "storage/recording_index.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace qm {

namespace {

constexpr const char* kTag = log_tag::kPlayer;

} // namespace

TDiskFrameReader::TDiskFrameReader(ExportReaderSettings settings, int64_t readTimeoutMs)
    : m_settings(settings), m_llReadTimeoutMs(readTimeoutMs) {}

bool TDiskFrameReader::bBuildBlockIndexList_AVI(std::shared_ptr<const DiskExportSource> disk,
                                                int channel, uint32_t rangeStart,
                                                uint32_t rangeEnd) {
    ReleaseBlockIndexList_AVI();
    m_strError.clear();
    if (!disk || !disk->device) {
        m_strError = "no disk";
        return false;
    }
    if (channel < 0 || channel > 31) {
        m_strError = "no such channel";
        return false;
    }
    if (m_pDisk != disk) {
        m_pReader.reset(); // waits for its given-up reads before the device goes
        m_pDisk = std::move(disk);
        m_pReader = std::make_unique<TimedBlockReader>(m_pDisk->device);
    }
    m_nChannel = channel;
    m_nChannelMask = 1u << channel;
    m_nRangeStart = rangeStart;
    m_nRangeEnd = rangeEnd;
    m_context.codec = m_pDisk->codec;
    m_context.byteOrder = m_pDisk->info.byteOrder;
    m_context.audioDecoder = m_settings.audioDecoder;
    m_context.decodeAudio = m_settings.decodeAudio;

    for (const MiniHeader& mini : DiskBlocksOfGroup(m_pDisk->index, channel / kChannelsPerGroup)) {
        if (mini.type() != 1) continue;
        // A block ends with the time of its last frame, so one that ends at
        // the first second of the range still holds frames for it.
        if (mini.endTime < rangeStart || mini.startTime >= rangeEnd) continue;
        m_AVIBlockIndexList.push_back(mini);
    }
    qmLogAt(5, kTag, "(bBuildBlockIndexList_AVI) m_AVIBlockIndexList size:%d",
            int(m_AVIBlockIndexList.size()));
    m_nCursor = 0;
    m_bBlockLoaded = false;
    m_lists.Clear();
    return true;
}

void TDiskFrameReader::AddChannels(uint32_t channelMask) {
    m_nChannelMask |= channelMask & GroupChannelMask(m_nChannel / kChannelsPerGroup);
}

void TDiskFrameReader::ReleaseBlockIndexList_AVI() {
    m_AVIBlockIndexList.clear();
    m_AVIBlockIndexList.shrink_to_fit();
    m_nCursor = 0;
    m_bBlockLoaded = false;
    m_lists.Clear();
    std::vector<uint8_t>().swap(m_data);
    m_nDataLength = 0;
}

int TDiskFrameReader::Failed(int result, const std::string& error) {
    m_strError = error;
    return result;
}

bool TDiskFrameReader::ReadPart(uint8_t* out, uint64_t offset, size_t length, int& error) {
    if (length == 0) return true;
    const TimedReadResult r = m_pReader->Read(out, offset, length, m_llReadTimeoutMs);
    error = r.error ? r.error : EIO;
    if (r.ok() && m_settings.sourceRead) m_settings.sourceRead(offset, ByteView(out, length));
    return r.ok();
}

int TDiskFrameReader::LoadBlock(const MiniHeader& entry) {
    const uint32_t n = entry.sequence; // the block's slot
    const uint32_t B = m_pDisk->info.blockSize;
    const uint64_t D = m_pDisk->info.dataBase;
    const std::string block = "block " + std::to_string(n) + " of the disk";
    int error = 0;

    uint8_t headerBytes[kBlockHeaderSize];
    const auto headerPos = blockHeaderPosition(n, B, D);
    if (!headerPos || !ReadPart(headerBytes, *headerPos, sizeof headerBytes, error)) {
        if (!headerPos) error = EINVAL;
        qmLogAt(6, kTag, "(readVideoFrameHDD) Read Block Header Failed #%d - err:%d", int(n),
                error);
        return Failed(kExportBlockHeaderUnreadable,
                      "cannot read the header of " + block + ": " + std::strerror(error));
    }
    const auto header =
        parseBlockHeader(ByteView(headerBytes, sizeof headerBytes), m_pDisk->info.byteOrder);
    if (!header || !header->hasMarker()) {
        qmLogAt(6, kTag, "(readVideoFrameHDD) Wrong block marker-%d",
                header ? int(header->marker) : 0);
        return Failed(kExportWrongDiskBlockMarker, block + " has no block marker (QmBh)");
    }
    const auto geo = blockGeometry(n, B, header->iSectors, header->pSectors, D);
    if (!geo) {
        qmLogAt(6, kTag, "(readVideoFrameHDD) Block #%d leaves no room for its data", int(n));
        return Failed(kExportWrongDiskBlockMarker, block + " has frame tables larger than itself");
    }

    const uint32_t L = uint32_t(geo->dataLength);
    std::vector<uint8_t> pTable, iTable;
    try {
        if (L > m_data.size()) {
            // Free first: the old contents are not needed and memory may be short.
            std::vector<uint8_t>().swap(m_data);
            m_data.resize(L);
        }
        pTable.resize(geo->pTableBytes);
        iTable.resize(geo->iTableBytes);
    } catch (const std::bad_alloc&) {
        qmLog("Out of memory. Quit.\n");
        return Failed(kExportOutOfMemory, "out of memory");
    }
    // A read that fails here is a damaged disk, not the end of the data:
    // reporting it as a complete export would hide the frames never read.
    const char* failed = nullptr;
    const char* what = nullptr;
    if (!ReadPart(m_data.data(), geo->dataPosition(), L, error)) {
        failed = "Block Data";
        what = "data";
    } else if (!ReadPart(pTable.data(), geo->pTablePosition(), pTable.size(), error)) {
        failed = "PFrameInfo";
        what = "frame table (P)";
    } else if (!ReadPart(iTable.data(), geo->iTablePosition(), iTable.size(), error)) {
        failed = "IFrameInfo";
        what = "frame table (I)";
    }
    if (failed) {
        qmLogAt(6, kTag, "(readVideoFrameHDD) Read %s Failed #%d - err:%d", failed, int(n), error);
        return Failed(kExportReadFailed, "cannot read the " + std::string(what) + " of " + block +
                                             ": " + std::strerror(error));
    }

    m_nDataLength = L;
    const FrameTables tables{ByteView(iTable.data(), iTable.size()), header->iFrameCount,
                             ByteView(pTable.data(), pTable.size()), header->pFrameCount};
    const ByteView data(m_data.data(), L);
    const int group = m_nChannel / kChannelsPerGroup;
    const uint8_t order = m_pDisk->info.byteOrder;
    if (frameTablesDamaged(tables, *header, group, data, order)) {
        qmLogAt(6, kTag, "(readVideoFrameHDD) Block #%d: frame tables damaged, scanning its data",
                int(n));
        m_lists.FillFromScan(scanFrames(data, *header, group, order), m_nChannelMask);
    } else {
        m_lists.FillChannels(tables.iTable, tables.iCount, tables.pTable, tables.pCount, L,
                             m_nChannelMask, order);
    }
    qmLogAt(5, kTag, "(readVideoFrameHDD) CH:%d, IFrame:%d, PFrame:%d", m_nChannel,
            int(m_lists.KeyFrames()), int(m_lists.OtherFrames()));
    m_nProgressDivisor = header->dataEnd;
    m_bBlockLoaded = true;
    return 0;
}

void TDiskFrameReader::PublishProgress(uint32_t positionAfterHeader) {
    if (!m_settings.percent || m_AVIBlockIndexList.empty()) return;
    m_settings.percent->store(ExportProgressPercent(positionAfterHeader, m_nProgressDivisor,
                                                    m_nDataLength, m_nBlockOrdinal,
                                                    m_AVIBlockIndexList.size()));
}

int TDiskFrameReader::readVideoFrameHDD(ExportFrame& frame) {
    frame.hasAudio = false;
    frame.audio.clear();
    if (m_AVIBlockIndexList.empty()) return kExportEmptyList;
    for (;;) {
        if (!m_bBlockLoaded) {
            if (Cancelled() || m_nCursor >= m_AVIBlockIndexList.size()) return kExportEnd;
            m_nBlockOrdinal = uint32_t(m_nCursor);
            const int loaded = LoadBlock(m_AVIBlockIndexList[m_nCursor++]);
            if (loaded < 0) return loaded;
            continue;
        }
        const auto item = m_lists.TakeNext();
        if (!item) {
            m_bBlockLoaded = false;
            continue;
        }
        const auto headerView = ByteView(m_data.data(), m_nDataLength).sub(item->offset, 32);
        const auto header =
            headerView ? parseFrameHeader(*headerView, m_pDisk->info.byteOrder) : std::nullopt;
        if (!header || header->channel >= 32 || !(m_nChannelMask >> header->channel & 1u) ||
            !(header->hasMarker() || header->isEndOfFrames())) {
            qmLogAt(6, kTag,
                    "(readVideoFrameHDD) Read Frame Header Error - CH:%d, Marker:%d, I:%d, "
                    "Time:%d, Size:%d",
                    header ? int(header->channel) : -1, header ? int(header->marker) : 0,
                    header ? int(header->index) : 0, header ? int(header->time) : 0,
                    header ? int(header->length) : 0);
            ++m_nDamaged;
            continue;
        }
        if (item->fromKeyList)
            qmLogAt(3, kTag, "(readVideoFrameHDD) Read I Frame Header Idx:%d, Time:%d, Size:%d",
                    int(header->index), int(header->time), int(header->length));
        else
            qmLogAt(4, kTag, "(readVideoFrameHDD) Read P Frame Header Idx:%d, Time:%d, Size:%d",
                    int(header->index), int(header->time), int(header->length));
        if (header->isEndOfFrames()) {
            qmLogAt(7, kTag, "(readVideoFrameHDD) Block End Marker");
            m_bBlockLoaded = false;
            continue;
        }
        if (header->time < m_nRangeStart) continue;
        if (header->time >= m_nRangeEnd) return kExportEnd;

        const uint32_t after = item->offset + kFrameHeaderSize;
        const ByteView payload(m_data.data() + after, m_nDataLength - after);
        const auto built = BuildExportFrame(*header, payload, m_context, frame);
        if (!built) {
            qmLogAt(6, kTag, "(readVideoFrameHDD) Damaged frame skipped - CH:%d, Time:%u, Size:%u",
                    m_nChannel, header->time, unsigned(header->length));
            ++m_nDamaged;
            continue;
        }
        if (*built < 0) return Failed(*built, "out of memory");
        PublishProgress(after);
        if (Cancelled()) return kExportEnd;
        return *built;
    }
}

} // namespace qm
