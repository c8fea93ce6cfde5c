#pragma once
// The 128-byte record of one delivered frame. The player, the decoders and the
// export pass it along; its layout is fixed because every stage reads fields by
// position (the information block sits at byte 64, the date at byte 22).

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace qm {

enum FrameType : uint16_t {
    kFrameTypeKey = 0x10,
    kFrameTypeOther = 0x20,
    kFrameTypeAudio = 0x30,
    kFrameTypeUserData = 0x50,
};

#pragma pack(push, 1)
struct FrameRecord {
    uint8_t reserved0;
    uint8_t recordLength; // 128
    uint32_t sequence;
    uint32_t codec; // video: four-character code; audio: coding type 0-15
    uint16_t channel;
    uint16_t type; // FrameType
    uint16_t width;
    uint16_t height;
    uint32_t size; // bytes in the payload buffer
    uint16_t year;
    uint8_t month;
    uint8_t day;
    uint8_t hour;
    uint8_t minute;
    uint8_t second;
    uint8_t timeZone;  // the frame header's zone byte (units of 1800 s, plus 24)
    int8_t correction; // and its correction (units of 900 s)
    uint8_t reserved1[25];
    uint8_t* payload; // the caller's buffer; kept when the record is cleared
    uint8_t info[32]; // the channel's information block (video records)
    uint8_t reserved2[7];
    uint32_t time; // seconds, UTC
    uint32_t microseconds;
    uint8_t reserved3[17];

    // Zeroes every field but the payload pointer.
    void Clear() {
        uint8_t* keep = payload;
        std::memset(static_cast<void*>(this), 0, sizeof *this);
        payload = keep;
    }
};
#pragma pack(pop)

static_assert(sizeof(FrameRecord) == 128);
static_assert(offsetof(FrameRecord, year) == 22);
static_assert(offsetof(FrameRecord, second) == 28);
static_assert(offsetof(FrameRecord, payload) == 56);
static_assert(offsetof(FrameRecord, info) == 64);

} // namespace qm
