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

} // namespace qm
