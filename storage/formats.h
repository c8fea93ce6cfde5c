#pragma once
// Fixed records of DVR recordings (archive files and DVR disks), decoded from
// raw bytes with explicit byte order, and the position arithmetic around them.
//
// Every parser takes a ByteView and returns std::nullopt when the view is too
// short; nothing here reads outside the bytes it is given. Fields are only
// those the reader, the export and the main window act on.

#include "platform/byte_order.h"
#include "storage/record_layout.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace qm {

// Header fields are big-endian unless byte 46 is exactly 1.
constexpr bool headerIsBigEndian(uint8_t byteOrder) {
    return byteOrder != kByteOrderLittle;
}
// The DVR writes the payload length words (and the main window treats the
// magic) differently: only 0 means big-endian there.
constexpr bool payloadIsBigEndian(uint8_t byteOrder) {
    return byteOrder == kByteOrderPayloadBig;
}

// Byte 47 -> four-character code. Archives fall back to H.264 for any byte
// they do not know; disks leave the code unset.
uint32_t archiveCodecCode(uint8_t codecByte);
std::optional<uint32_t> diskCodecCode(uint8_t codecByte);

// "camera 7 is not in this recording (recorded: 1, 2, 3, 4)": cameras are
// numbered from 1, as the user sees them.
std::string CameraNotRecordedText(int camera, uint32_t channelMask);

// Channels 0-31, recorded in groups of 16 whose blocks are separate.
constexpr int kMaxChannels = 32;
constexpr int kChannelsPerGroup = 16;
constexpr int kMaxGroups = 2;

// 1 when only channels 0-15 are recorded, 2 when any of 16-31 is.
constexpr int groupCountForMask(uint32_t channelMask) {
    return (channelMask & 0xFFFF0000u) ? 2 : 1;
}
// A block's 16-bit channel mask placed at its group's position in the 32-bit mask.
constexpr uint32_t channelMaskOfGroup(uint16_t blockMask, int group) {
    return group == 1 ? uint32_t(blockMask) << 16 : uint32_t(blockMask);
}

constexpr uint32_t byteSwap32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0xFF00u) | ((v << 8) & 0xFF0000u) | (v << 24);
}
// `word` is the first four bytes read little-endian. Archives from either
// byte order carry the magic in their own order.
constexpr bool isArchiveMagic(uint32_t word) {
    return word == kMagicArchive || byteSwap32(word) == kMagicArchive;
}
bool checkArchiveMagic(ByteView archiveHeader);
// Opening a disk insists on the little-endian word; probing is lenient.
constexpr bool isDiskMagic(uint32_t word) {
    return word == kMagicDisk;
}
constexpr bool isDiskMagicAnyOrder(uint32_t word) {
    return word == kMagicDisk || byteSwap32(word) == kMagicDisk;
}

struct ArchiveHeader {
    uint32_t magic = 0;
    uint32_t channelMask = 0;
    uint8_t byteOrder = kByteOrderLittle;
    uint8_t codecByte = 0;
    uint32_t codec = 0; // four-character code, archive column
    uint32_t miniHeaderCount = 0;
    uint64_t miniTableOffset = 0;
    uint32_t blockSize = 0;
    uint32_t startTime = 0;
    uint32_t endTime = 0;
    uint8_t timeOffsetUnits = 0; // byte 185
    // Not read from the file: made from a scan for the blocks themselves
    // because the file's own header or table is missing or damaged.
    bool recovered = false;
    uint32_t recoveredBlocks = 0; // blocks found by that scan

    int groups() const { return groupCountForMask(channelMask); }
    bool hasMagic() const { return isArchiveMagic(magic); }
    int timeOffsetSeconds() const { return int(timeOffsetUnits) * int(kTimeZoneUnit); }
};
std::optional<ArchiveHeader> parseArchiveHeader(ByteView bytes);

struct MiniHeader {
    uint8_t flags = 0;
    uint8_t group = 0;
    uint16_t channelMask = 0; // disk only
    uint32_t startTime = 0;
    uint32_t endTime = 0;
    uint32_t sequence = 0; // disk: ring write order

    uint8_t type() const { return flags & 7; }
    // The disk reader's acceptance rule for an MHS slot.
    bool usableOnDisk() const {
        return type() != 0 && group == 1 && channelMask != 0 && startTime <= endTime &&
               startTime > kDiskMinStartTime;
    }
};
std::optional<MiniHeader> parseMiniHeader(ByteView bytes, uint8_t byteOrder);

struct BlockHeader {
    uint8_t type = 0;
    uint16_t channelMask = 0;
    uint32_t startTime = 0;
    uint32_t endTime = 0;
    uint32_t marker = 0;
    uint32_t iFrameCount = 0;
    uint32_t pFrameCount = 0;
    uint16_t iSectors = 0; // NI
    uint16_t pSectors = 0; // NP
    uint32_t dataEnd = 0;  // field 46, the export's progress reference

    bool hasMarker() const { return marker == kMagicBlock; }
};
std::optional<BlockHeader> parseBlockHeader(ByteView bytes, uint8_t byteOrder);

struct IFrameInfo {
    uint16_t timeOffset = 0; // seconds after the block's mini header start
    uint32_t offsetUnits = 0;
    uint32_t keyUsable = 0; // non-zero: usable when loading key frames only
    uint8_t channel = kFrameInfoNoChannel;
};
struct PFrameInfo {
    uint32_t offsetUnits = 0;
    uint8_t channel = kFrameInfoNoChannel;
};
std::optional<IFrameInfo> parseIFrameInfo(ByteView bytes, uint8_t byteOrder);
std::optional<PFrameInfo> parsePFrameInfo(ByteView bytes, uint8_t byteOrder);
// Record `index` of a table; nullopt past the end of the table bytes.
std::optional<IFrameInfo> iFrameInfoAt(ByteView table, uint32_t index, uint8_t byteOrder);
std::optional<PFrameInfo> pFrameInfoAt(ByteView table, uint32_t index, uint8_t byteOrder);
// Byte offset of a table record's frame header in the data area, or nullopt
// when the record points at or past the data area's end.
std::optional<uint64_t> frameOffsetInData(uint32_t offsetUnits, uint64_t dataLength);

struct FrameHeader {
    uint32_t marker = 0;
    uint32_t time = 0;
    uint16_t milliseconds = 0;
    int8_t correction = 0; // units of 900 s
    uint8_t timeZone = 0;  // units of 1800 s, plus 24
    uint16_t flags = 0;
    uint8_t width8 = 0;
    uint8_t height8 = 0;
    uint32_t sequence = 0;
    uint16_t length = 0;      // units, header included
    uint16_t videoEnd = 0;    // A1
    uint16_t audioEnd = 0;    // A2
    uint16_t userDataEnd = 0; // A3
    uint8_t channel = 0;
    uint8_t audioTypeByte = 0;
    uint16_t index = 0;

    // Accepts the marker in either order: some DVRs write it little-endian
    // even in big-endian recordings.
    bool hasMarker() const { return marker == kMagicFrame || byteSwap32(marker) == kMagicFrame; }
    bool isEndOfFrames() const { return marker == kMagicLast || byteSwap32(marker) == kMagicLast; }
    bool isKey() const { return flags & kFrameFlagKey; }
    bool isMjpeg() const { return flags & kFrameFlagMjpeg; }
    uint8_t audioType() const { return audioTypeByte & 0x0F; }
    uint32_t width() const;
    uint32_t height() const;
    // Seconds; can fall outside the 32-bit range for corrupt headers.
    int64_t localTime() const;
    // Distance from this header to the next one.
    uint32_t frameBytes() const { return uint32_t(length) * kUnitSize; }
    // Bytes after the header that belong to the frame (0 for a corrupt length of 0).
    uint32_t payloadBytes() const { return length ? frameBytes() - kFrameHeaderSize : 0; }
    bool hasVideo() const { return videoEnd != 0; }
    bool hasAudio() const { return audioEnd != videoEnd; }
    bool hasUserData() const { return userDataEnd != audioEnd; }
    bool hasInfoBlock() const { return uint32_t(userDataEnd) + 1 < length; }
};
std::optional<FrameHeader> parseFrameHeader(ByteView bytes, uint8_t byteOrder);

struct DiskInfo {
    uint32_t magic = 0;
    uint16_t channels = 0;
    uint8_t byteOrder = kByteOrderLittle;
    uint8_t codecByte = 0;
    std::optional<uint32_t> codec; // disk column
    uint64_t mhsOffset = 0;
    uint32_t mhsLength = 0;
    uint32_t blockSize = 0;
    uint64_t dataBase = 0;

    // channels / 16, at least 1; the reader has buffers for two groups only.
    int groups() const;
};
std::optional<DiskInfo> parseDiskInfo(ByteView bytes);

// Where the parts of block n lie. Offsets are from the block start; the
// absolute positions add blockStart (n * B, plus the data base on a disk).
struct BlockGeometry {
    uint64_t blockStart = 0;
    uint64_t dataLength = 0;   // L
    uint64_t pTableOffset = 0; // == L
    uint64_t pTableBytes = 0;  // NP * 512
    uint64_t iTableOffset = 0; // B - (NI + 1) * 512
    uint64_t iTableBytes = 0;  // NI * 512
    uint64_t headerOffset = 0; // B - 512

    uint64_t dataPosition() const { return blockStart; }
    uint64_t pTablePosition() const { return blockStart + pTableOffset; }
    uint64_t iTablePosition() const { return blockStart + iTableOffset; }
    uint64_t headerPosition() const { return blockStart + headerOffset; }
};
// Position of block n's header, known before NI and NP are; nullopt when the
// block size cannot hold a header or the position does not fit in 64 bits.
std::optional<uint64_t> blockHeaderPosition(uint64_t block, uint32_t blockSize,
                                            uint64_t dataBase = 0);
// nullopt when the tables and header leave no data area or a position overflows.
std::optional<BlockGeometry> blockGeometry(uint64_t block, uint32_t blockSize, uint16_t iSectors,
                                           uint16_t pSectors, uint64_t dataBase = 0);

// A 32-bit payload length word, in the payload's byte order.
std::optional<uint32_t> loadPayloadLength(ByteView bytes, size_t offset, uint8_t byteOrder);

// One area of a frame payload: `present` is false when the header gives the
// area no units; `valid` is false when its length word is missing or claims
// more than the area or the buffer holds, and `bytes` is then empty.
struct FrameArea {
    bool present = false;
    bool valid = true;
    ByteView bytes;
};
struct FrameAreas {
    FrameArea video;
    FrameArea audio;
    FrameArea userData;
    std::optional<ByteView> infoBlock; // 32 bytes
};
// `payload` is the bytes after the frame header (payloadBytes() of them when
// the frame is complete; fewer are tolerated and bounds-checked).
FrameAreas locateFrameAreas(const FrameHeader& header, ByteView payload, uint8_t byteOrder);

// The elementary stream inside a frame's V video bytes, as up to three
// pieces that are concatenated; chip wrappers split the stream into sections.
struct VideoStreamParts {
    std::array<ByteView, 3> parts{};
    size_t count = 0;

    size_t totalSize() const;
    void appendTo(std::vector<uint8_t>& out) const;
    // Writes the stream to `out`; false when `out` is too small.
    bool copyTo(std::span<uint8_t> out) const;
};
// nullopt when the prefix or the section lengths do not fit in `video`.
std::optional<VideoStreamParts> videoStreamParts(uint32_t codec, bool keyFrame, ByteView video);
// Convenience over videoStreamParts.
std::optional<std::vector<uint8_t>> extractVideoStream(uint32_t codec, bool keyFrame,
                                                       ByteView video);

} // namespace qm
