#pragma once
// Sizes, magic words and codec bytes of the DVR recording layout, shared by the
// reader (storage/) and the recording generator (tools/mkrec).

#include <cstdint>

namespace qm {

constexpr uint32_t kSectorSize = 512;
constexpr uint32_t kUnitSize = 32; // frame offsets and lengths inside a block are in units

constexpr uint32_t kArchiveHeaderSize = 512;
constexpr uint32_t kMiniHeaderSize = 16;
constexpr uint32_t kBlockHeaderSize = 512;
constexpr uint32_t kIFrameInfoSize = 16;
constexpr uint32_t kPFrameInfoSize = 8;
constexpr uint32_t kFrameHeaderSize = 32;
constexpr uint32_t kInfoBlockSize = 32;
constexpr uint32_t kDiskInfoSize = 512;
constexpr uint64_t kDiskInfoOffset = 512;
constexpr uint64_t kCardDiskInfoOffset = 0x2400200; // sector 0x12001 on a removable card

// Magic words as read little-endian from the bytes on disk.
constexpr uint32_t kMagicArchive = 0x516D5866; // "fXmQ" on disk: QmXf
constexpr uint32_t kMagicDisk = 0x516D5664;    // QmVd
constexpr uint32_t kMagicBlock = 0x516D4268;   // QmBh
constexpr uint32_t kMagicFrame = 0x516D4668;   // QmFh
constexpr uint32_t kMagicLast = 0x4C615374;    // LaSt: no more frames in this block

// A four-character code held as a little-endian word: fourcc("H264") has 'H' in the low byte.
constexpr uint32_t fourcc(const char (&s)[5]) {
    return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) |
           (uint32_t(uint8_t(s[2])) << 16) | (uint32_t(uint8_t(s[3])) << 24);
}
constexpr uint32_t kCodecH264 = fourcc("H264");
constexpr uint32_t kCodecHISI = fourcc("HISI");
constexpr uint32_t kCodecSOLO = fourcc("SOLO");
constexpr uint32_t kCodecSTCH = fourcc("STCH");
constexpr uint32_t kCodecSTHD = fourcc("STHD");
constexpr uint32_t kCodecMJPG = fourcc("MJPG");

// Byte 47 of the archive header and of DiskInfo.
enum CodecByte : uint8_t {
    kCodecByteSOLO = 0x10,
    kCodecByteH264 = 0x20,
    kCodecByteHISI = 0x21,
    kCodecByteH264Disk = 0x22,
    kCodecByteSTCH = 0x30,
    kCodecByteSTHD = 0x33,
    kCodecByteMJPG = 0x40,
};

constexpr uint32_t kChipPrefixSOLO = 64;
constexpr uint32_t kChipPrefixHISI = 44;
constexpr uint32_t kChipSectionSize = 256; // STCH / STHD section header

// Frame header flag bits.
constexpr uint16_t kFrameFlagMjpeg = 1u << 12;
constexpr uint16_t kFrameFlagExtValid = 1u << 14;
constexpr uint16_t kFrameFlagKey = 1u << 15;

// Audio coding types carried in the low nibble of frame header byte 29.
constexpr uint8_t kAudioTypeHisiAdpcm = 2; // HiSilicon IMA ADPCM voice frames of 168 bytes
constexpr uint8_t kAudioTypeG711 = 5;      // G.711 mu-law, in parts of 320 bytes

// Byte 46 of the archive header and of DiskInfo. Header fields are big-endian
// for any value but this one; payload length words only when it is 0.
constexpr uint8_t kByteOrderLittle = 1;
constexpr uint8_t kByteOrderPayloadBig = 0;

constexpr uint32_t kTimeZoneUnit = 1800;          // frame header byte 11, archive header byte 185
constexpr uint32_t kTimeCorrectionUnit = 900;     // frame header byte 10 (signed)
constexpr uint32_t kTimeZoneBias = 43200;         // byte 11 is stored as UTC offset + 24 half-hours
constexpr uint32_t kDiskMinStartTime = 900000000; // disk blocks starting at or before this are junk

// Frame header flags: width / height extension nibbles.
constexpr uint16_t kFrameFlagWidthExtMask = 0x000F;
constexpr uint16_t kFrameFlagHeightExtMask = 0x00F0;

constexpr uint8_t kFrameInfoNoChannel = 255;      // table record that belongs to no channel
constexpr uint32_t kChipSectionLengthOffset = 20; // big-endian length word in a section header

// Field offsets inside the fixed records.
namespace archive_field {
constexpr uint32_t kMagic = 0;
constexpr uint32_t kChannelMask = 28;
constexpr uint32_t kByteOrder = 46;
constexpr uint32_t kCodec = 47;
constexpr uint32_t kMiniHeaderCount = 112;
constexpr uint32_t kMiniTableOffset = 116; // 64-bit
constexpr uint32_t kBlockSize = 140;
constexpr uint32_t kStartTime = 176;
constexpr uint32_t kEndTime = 180;
constexpr uint32_t kTimeOffset = 185; // single byte, units of kTimeZoneUnit
} // namespace archive_field

namespace mini_field {
constexpr uint32_t kFlags = 0; // low 3 bits: record type, 0 = empty slot
constexpr uint32_t kGroup = 1;
constexpr uint32_t kChannelMask = 2; // 16-bit, disk only
constexpr uint32_t kStartTime = 4;
constexpr uint32_t kEndTime = 8;
constexpr uint32_t kSequence = 12;
} // namespace mini_field

namespace block_field {
constexpr uint32_t kType = 0;
constexpr uint32_t kChannelMask = 2; // 16-bit
constexpr uint32_t kStartTime = 4;
constexpr uint32_t kEndTime = 8;
constexpr uint32_t kMarker = 16;
constexpr uint32_t kIFrameCount = 20; // 16-bit when big-endian
constexpr uint32_t kPFrameCount = 24;
constexpr uint32_t kISectors = 32; // 16-bit
constexpr uint32_t kPSectors = 34; // 16-bit
constexpr uint32_t kDataEnd = 46;  // 32-bit, unaligned
} // namespace block_field

namespace iframe_field {
constexpr uint32_t kTimeOffset = 0; // 16-bit
constexpr uint32_t kOffset = 4;     // units, 16-bit when big-endian
constexpr uint32_t kKeyUsable = 8;  // 16-bit when big-endian
constexpr uint32_t kChannel = 12;
} // namespace iframe_field

namespace pframe_field {
constexpr uint32_t kOffset = 0; // units, 16-bit when big-endian
constexpr uint32_t kChannel = 4;
} // namespace pframe_field

namespace frame_field {
constexpr uint32_t kMarker = 0;
constexpr uint32_t kTime = 4;
constexpr uint32_t kMilliseconds = 8; // 16-bit
constexpr uint32_t kCorrection = 10;  // signed byte
constexpr uint32_t kTimeZone = 11;
constexpr uint32_t kFlags = 12; // 16-bit
constexpr uint32_t kWidth = 14; // width / 8, low 8 bits
constexpr uint32_t kHeight = 15;
constexpr uint32_t kSequence = 16;
constexpr uint32_t kLength = 20; // 16-bit, units, header included
constexpr uint32_t kVideoEnd = 22;
constexpr uint32_t kAudioEnd = 24;
constexpr uint32_t kUserDataEnd = 26;
constexpr uint32_t kChannel = 28;
constexpr uint32_t kAudioType = 29; // low nibble
constexpr uint32_t kIndex = 30;     // 16-bit
} // namespace frame_field

namespace disk_field {
constexpr uint32_t kMagic = 0;
constexpr uint32_t kChannels = 20; // 16-bit
constexpr uint32_t kByteOrder = 46;
constexpr uint32_t kCodec = 47;
constexpr uint32_t kMhsOffset = 116; // 64-bit
constexpr uint32_t kMhsLength = 136;
constexpr uint32_t kBlockSize = 188;
constexpr uint32_t kDataBase = 204; // 64-bit
} // namespace disk_field

} // namespace qm
