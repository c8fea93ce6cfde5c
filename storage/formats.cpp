#include "storage/formats.h"

#include <string>

#include <algorithm>
#include <cstring>

namespace qm {

std::string CameraNotRecordedText(int camera, uint32_t channelMask) {
    std::string recorded;
    for (int c = 0; c < 32; ++c)
        if (channelMask & (1u << c))
            recorded += (recorded.empty() ? "" : ", ") + std::to_string(c + 1);
    return "camera " + std::to_string(camera) +
           " is not in this recording (recorded: " + (recorded.empty() ? "none" : recorded) + ")";
}

namespace {

// Reads the fields of one record in the recording's header byte order. Every
// caller has checked the record's full size first, so offsets are in range.
class FieldReader {
public:
    FieldReader(const uint8_t* p, bool big) : m_p(p), m_big(big) {}

    uint8_t byte(uint32_t off) const { return m_p[off]; }
    uint16_t le16(uint32_t off) const { return loadLE16(m_p + off); }
    uint32_t le32(uint32_t off) const { return loadLE32(m_p + off); }
    uint64_t le64(uint32_t off) const { return loadLE64(m_p + off); }

    // Fields the DVR writes in its own byte order.
    uint16_t c16(uint32_t off) const { return m_big ? loadBE16(m_p + off) : loadLE16(m_p + off); }
    uint32_t c32(uint32_t off) const { return m_big ? loadBE32(m_p + off) : loadLE32(m_p + off); }
    uint64_t c64(uint32_t off) const { return m_big ? loadBE64(m_p + off) : loadLE64(m_p + off); }
    // 32-bit fields that big-endian DVRs fill with a 16-bit value in the
    // first two bytes; the other two carry nothing we may rely on.
    uint32_t c32as16(uint32_t off) const {
        return m_big ? loadBE16(m_p + off) : loadLE32(m_p + off);
    }

private:
    const uint8_t* m_p;
    bool m_big;
};

bool checkedMul(uint64_t a, uint64_t b, uint64_t& out) {
    return !__builtin_mul_overflow(a, b, &out);
}
bool checkedAdd(uint64_t a, uint64_t b, uint64_t& out) {
    return !__builtin_add_overflow(a, b, &out);
}

} // namespace

uint32_t archiveCodecCode(uint8_t codecByte) {
    switch (codecByte) {
    case kCodecByteSOLO:
        return kCodecSOLO;
    case kCodecByteHISI:
        return kCodecHISI;
    case kCodecByteSTCH:
        return kCodecSTCH;
    case kCodecByteSTHD:
        return kCodecSTHD;
    case kCodecByteMJPG:
        return kCodecMJPG;
    default:
        return kCodecH264;
    }
}

std::optional<uint32_t> diskCodecCode(uint8_t codecByte) {
    switch (codecByte) {
    case kCodecByteSOLO:
        return kCodecSOLO;
    case kCodecByteH264:
    case kCodecByteH264Disk:
        return kCodecH264;
    case kCodecByteHISI:
        return kCodecHISI;
    case kCodecByteSTCH:
        return kCodecSTCH;
    case kCodecByteSTHD:
        return kCodecSTHD;
    default:
        // Disk firmware never records Motion JPEG; an unknown byte keeps
        // whatever code the reader had.
        return std::nullopt;
    }
}

bool checkArchiveMagic(ByteView archiveHeader) {
    auto word = archiveHeader.le32(archive_field::kMagic);
    return word && isArchiveMagic(*word);
}

std::optional<ArchiveHeader> parseArchiveHeader(ByteView bytes) {
    if (!bytes.has(0, kArchiveHeaderSize)) return std::nullopt;
    const uint8_t byteOrder = bytes.data()[archive_field::kByteOrder];
    const FieldReader f(bytes.data(), headerIsBigEndian(byteOrder));
    ArchiveHeader h;
    h.magic = f.c32(archive_field::kMagic);
    h.channelMask = f.c32(archive_field::kChannelMask);
    h.byteOrder = byteOrder;
    h.codecByte = f.byte(archive_field::kCodec);
    h.codec = archiveCodecCode(h.codecByte);
    h.miniHeaderCount = f.c32(archive_field::kMiniHeaderCount);
    h.miniTableOffset = f.c64(archive_field::kMiniTableOffset);
    h.blockSize = f.c32(archive_field::kBlockSize);
    h.startTime = f.c32(archive_field::kStartTime);
    h.endTime = f.c32(archive_field::kEndTime);
    h.timeOffsetUnits = f.byte(archive_field::kTimeOffset);
    return h;
}

std::optional<MiniHeader> parseMiniHeader(ByteView bytes, uint8_t byteOrder) {
    if (!bytes.has(0, kMiniHeaderSize)) return std::nullopt;
    const FieldReader f(bytes.data(), headerIsBigEndian(byteOrder));
    MiniHeader m;
    m.flags = f.byte(mini_field::kFlags);
    m.group = f.byte(mini_field::kGroup);
    m.channelMask = f.le16(mini_field::kChannelMask);
    m.startTime = f.c32(mini_field::kStartTime);
    m.endTime = f.c32(mini_field::kEndTime);
    m.sequence = f.c32(mini_field::kSequence);
    return m;
}

std::optional<BlockHeader> parseBlockHeader(ByteView bytes, uint8_t byteOrder) {
    if (!bytes.has(0, kBlockHeaderSize)) return std::nullopt;
    const FieldReader f(bytes.data(), headerIsBigEndian(byteOrder));
    BlockHeader b;
    b.type = f.byte(block_field::kType);
    b.channelMask = f.le16(block_field::kChannelMask);
    b.startTime = f.c32(block_field::kStartTime);
    b.endTime = f.c32(block_field::kEndTime);
    b.marker = f.c32(block_field::kMarker);
    b.iFrameCount = f.c32as16(block_field::kIFrameCount);
    b.pFrameCount = f.le32(block_field::kPFrameCount);
    b.iSectors = f.le16(block_field::kISectors);
    b.pSectors = f.le16(block_field::kPSectors);
    b.dataEnd = f.le32(block_field::kDataEnd);
    return b;
}

std::optional<IFrameInfo> parseIFrameInfo(ByteView bytes, uint8_t byteOrder) {
    if (!bytes.has(0, kIFrameInfoSize)) return std::nullopt;
    const FieldReader f(bytes.data(), headerIsBigEndian(byteOrder));
    IFrameInfo r;
    r.timeOffset = f.c16(iframe_field::kTimeOffset);
    r.offsetUnits = f.c32as16(iframe_field::kOffset);
    r.keyUsable = f.c32as16(iframe_field::kKeyUsable);
    r.channel = f.byte(iframe_field::kChannel);
    return r;
}

std::optional<PFrameInfo> parsePFrameInfo(ByteView bytes, uint8_t byteOrder) {
    if (!bytes.has(0, kPFrameInfoSize)) return std::nullopt;
    const FieldReader f(bytes.data(), headerIsBigEndian(byteOrder));
    PFrameInfo r;
    r.offsetUnits = f.c32as16(pframe_field::kOffset);
    r.channel = f.byte(pframe_field::kChannel);
    return r;
}

std::optional<IFrameInfo> iFrameInfoAt(ByteView table, uint32_t index, uint8_t byteOrder) {
    auto rec = table.sub(size_t(index) * kIFrameInfoSize, kIFrameInfoSize);
    if (!rec) return std::nullopt;
    return parseIFrameInfo(*rec, byteOrder);
}

std::optional<PFrameInfo> pFrameInfoAt(ByteView table, uint32_t index, uint8_t byteOrder) {
    auto rec = table.sub(size_t(index) * kPFrameInfoSize, kPFrameInfoSize);
    if (!rec) return std::nullopt;
    return parsePFrameInfo(*rec, byteOrder);
}

std::optional<uint64_t> frameOffsetInData(uint32_t offsetUnits, uint64_t dataLength) {
    const uint64_t offset = uint64_t(offsetUnits) * kUnitSize;
    if (offset >= dataLength) return std::nullopt;
    return offset;
}

std::optional<FrameHeader> parseFrameHeader(ByteView bytes, uint8_t byteOrder) {
    if (!bytes.has(0, kFrameHeaderSize)) return std::nullopt;
    const FieldReader f(bytes.data(), headerIsBigEndian(byteOrder));
    FrameHeader h;
    h.marker = f.c32(frame_field::kMarker);
    h.time = f.c32(frame_field::kTime);
    h.milliseconds = f.c16(frame_field::kMilliseconds);
    h.correction = int8_t(f.byte(frame_field::kCorrection));
    h.timeZone = f.byte(frame_field::kTimeZone);
    h.flags = f.c16(frame_field::kFlags);
    h.width8 = f.byte(frame_field::kWidth);
    h.height8 = f.byte(frame_field::kHeight);
    h.sequence = f.c32(frame_field::kSequence);
    h.length = f.c16(frame_field::kLength);
    h.videoEnd = f.c16(frame_field::kVideoEnd);
    h.audioEnd = f.c16(frame_field::kAudioEnd);
    h.userDataEnd = f.c16(frame_field::kUserDataEnd);
    h.channel = f.byte(frame_field::kChannel);
    h.audioTypeByte = f.byte(frame_field::kAudioType);
    h.index = f.c16(frame_field::kIndex);
    return h;
}

uint32_t FrameHeader::width() const {
    // Sizes of 2048 and more need the extension nibbles, which older
    // firmware left as garbage; bit 14 says whether they mean anything.
    const uint32_t ext = (flags & kFrameFlagExtValid) ? (flags & kFrameFlagWidthExtMask) : 0;
    return (ext * 256 + width8) * 8;
}

uint32_t FrameHeader::height() const {
    const uint32_t ext =
        (flags & kFrameFlagExtValid) ? ((flags & kFrameFlagHeightExtMask) >> 4) : 0;
    return (ext * 256 + height8) * 8;
}

int64_t FrameHeader::localTime() const {
    return int64_t(time) + int64_t(timeZone) * kTimeZoneUnit +
           int64_t(correction) * kTimeCorrectionUnit - int64_t(kTimeZoneBias);
}

std::optional<DiskInfo> parseDiskInfo(ByteView bytes) {
    if (!bytes.has(0, kDiskInfoSize)) return std::nullopt;
    // Disk firmware writes this sector little-endian whatever the blocks use.
    const FieldReader f(bytes.data(), false);
    DiskInfo d;
    d.magic = f.le32(disk_field::kMagic);
    d.channels = f.le16(disk_field::kChannels);
    d.byteOrder = f.byte(disk_field::kByteOrder);
    d.codecByte = f.byte(disk_field::kCodec);
    d.codec = diskCodecCode(d.codecByte);
    d.mhsOffset = f.le64(disk_field::kMhsOffset);
    d.mhsLength = f.le32(disk_field::kMhsLength);
    d.blockSize = f.le32(disk_field::kBlockSize);
    d.dataBase = f.le64(disk_field::kDataBase);
    return d;
}

int DiskInfo::groups() const {
    return std::clamp(channels / 16, 1, 2);
}

std::optional<uint64_t> blockHeaderPosition(uint64_t block, uint32_t blockSize, uint64_t dataBase) {
    if (blockSize < kBlockHeaderSize) return std::nullopt;
    uint64_t end = 0;
    if (!checkedAdd(block, 1, end) || !checkedMul(end, blockSize, end) ||
        !checkedAdd(end, dataBase, end))
        return std::nullopt;
    return end - kBlockHeaderSize;
}

std::optional<BlockGeometry> blockGeometry(uint64_t block, uint32_t blockSize, uint16_t iSectors,
                                           uint16_t pSectors, uint64_t dataBase) {
    // Sector counts are 16-bit, so the table sizes cannot overflow; only the
    // block size and the block number can make the layout impossible.
    const uint64_t iBytes = uint64_t(iSectors) * kSectorSize;
    const uint64_t pBytes = uint64_t(pSectors) * kSectorSize;
    const uint64_t reserved = iBytes + pBytes + kBlockHeaderSize;
    if (blockSize <= reserved) return std::nullopt;

    uint64_t start = 0;
    uint64_t end = 0;
    if (!checkedMul(block, blockSize, start) || !checkedAdd(start, dataBase, start) ||
        !checkedAdd(start, blockSize, end))
        return std::nullopt;

    BlockGeometry g;
    g.blockStart = start;
    g.dataLength = blockSize - reserved;
    g.pTableOffset = g.dataLength;
    g.pTableBytes = pBytes;
    g.iTableOffset = blockSize - kBlockHeaderSize - iBytes;
    g.iTableBytes = iBytes;
    g.headerOffset = blockSize - kBlockHeaderSize;
    return g;
}

std::optional<uint32_t> loadPayloadLength(ByteView bytes, size_t offset, uint8_t byteOrder) {
    return payloadIsBigEndian(byteOrder) ? bytes.be32(offset) : bytes.le32(offset);
}

namespace {

// An area from unit `begin` to unit `end` of the payload: a length word, then
// that many bytes, which must fit both the area and the buffer.
FrameArea locateArea(ByteView payload, uint32_t begin, uint32_t end, uint8_t byteOrder) {
    FrameArea area;
    if (end == begin) return area;
    area.present = true;
    area.valid = false;
    if (end < begin) return area;
    const size_t start = size_t(begin) * kUnitSize;
    const size_t capacity = size_t(end - begin) * kUnitSize;
    auto length = loadPayloadLength(payload, start, byteOrder);
    if (!length || *length > capacity) return area;
    auto bytes = payload.sub(start + 4, *length);
    if (!bytes) return area;
    area.valid = true;
    area.bytes = *bytes;
    return area;
}

} // namespace

FrameAreas locateFrameAreas(const FrameHeader& header, ByteView payload, uint8_t byteOrder) {
    // Never look past the frame's own end, even when the buffer holds more.
    const ByteView frame(payload.data(), std::min<size_t>(payload.size(), header.payloadBytes()));
    FrameAreas a;
    a.video = locateArea(frame, 0, header.videoEnd, byteOrder);
    a.audio = locateArea(frame, header.videoEnd, header.audioEnd, byteOrder);
    a.userData = locateArea(frame, header.audioEnd, header.userDataEnd, byteOrder);
    if (header.hasInfoBlock())
        a.infoBlock = frame.sub(size_t(header.userDataEnd) * kUnitSize, kInfoBlockSize);
    return a;
}

size_t VideoStreamParts::totalSize() const {
    size_t n = 0;
    for (size_t i = 0; i < count; ++i)
        n += parts[i].size();
    return n;
}

void VideoStreamParts::appendTo(std::vector<uint8_t>& out) const {
    for (size_t i = 0; i < count; ++i)
        out.insert(out.end(), parts[i].data(), parts[i].data() + parts[i].size());
}

bool VideoStreamParts::copyTo(std::span<uint8_t> out) const {
    if (out.size() < totalSize()) return false;
    size_t pos = 0;
    for (size_t i = 0; i < count; ++i) {
        if (parts[i].size()) std::memcpy(out.data() + pos, parts[i].data(), parts[i].size());
        pos += parts[i].size();
    }
    return true;
}

namespace {

std::optional<VideoStreamParts> afterPrefix(ByteView video, size_t prefix) {
    if (video.size() < prefix) return std::nullopt;
    VideoStreamParts p;
    p.parts[0] = *video.sub(prefix, video.size() - prefix);
    p.count = 1;
    return p;
}

std::optional<VideoStreamParts> chipSections(ByteView video, bool keyFrame) {
    if (video.size() < kChipSectionSize) return std::nullopt;
    // Only key frames carry the parameter-set sections; other frames are one
    // section whose length word we have no reason to trust over V.
    if (!keyFrame) return afterPrefix(video, kChipSectionSize);

    const uint64_t e1 = *video.be32(kChipSectionLengthOffset);
    const uint64_t second = kChipSectionSize + e1;
    if (second + kChipSectionSize > video.size()) return std::nullopt;
    const uint64_t e2 = *video.be32(size_t(second) + kChipSectionLengthOffset);
    const uint64_t third = second + kChipSectionSize + e2;
    if (third + kChipSectionSize > video.size()) return std::nullopt;

    VideoStreamParts p;
    p.parts[0] = *video.sub(kChipSectionSize, size_t(e1));
    p.parts[1] = *video.sub(size_t(second) + kChipSectionSize, size_t(e2));
    const size_t restStart = size_t(third) + kChipSectionSize;
    p.parts[2] = *video.sub(restStart, video.size() - restStart);
    p.count = 3;
    return p;
}

} // namespace

std::optional<VideoStreamParts> videoStreamParts(uint32_t codec, bool keyFrame, ByteView video) {
    switch (codec) {
    case kCodecSOLO:
        return afterPrefix(video, kChipPrefixSOLO);
    case kCodecHISI:
        return afterPrefix(video, kChipPrefixHISI);
    case kCodecSTCH:
    case kCodecSTHD:
        return chipSections(video, keyFrame);
    default:
        return afterPrefix(video, 0);
    }
}

std::optional<std::vector<uint8_t>> extractVideoStream(uint32_t codec, bool keyFrame,
                                                       ByteView video) {
    auto parts = videoStreamParts(codec, keyFrame, video);
    if (!parts) return std::nullopt;
    std::vector<uint8_t> out;
    out.reserve(parts->totalSize());
    parts->appendTo(out);
    return out;
}

} // namespace qm
