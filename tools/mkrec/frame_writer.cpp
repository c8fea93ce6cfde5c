#include "tools/mkrec/frame_writer.h"

#include "tools/mkrec/field_writer.h"

#include "storage/record_layout.h"

#include <algorithm>
#include <stdexcept>

namespace qm::mkrec {
namespace {

uint32_t unitsFor(size_t bytes) {
    return uint32_t((bytes + kUnitSize - 1) / kUnitSize);
}

uint16_t frameFlags(const FrameContent& f) {
    uint16_t flags = 0;
    if (f.key) flags |= kFrameFlagKey;
    if (f.mjpeg) flags |= kFrameFlagMjpeg;
    const int w8 = f.width / 8, h8 = f.height / 8;
    if (w8 > 255 || h8 > 255)
        flags |=
            kFrameFlagExtValid | uint16_t((w8 >> 8) & 0x0F) | uint16_t(((h8 >> 8) & 0x0F) << 4);
    return flags;
}

} // namespace

SerializedFrame serializeFrame(const FrameContent& f, bool big) {
    // Areas are counted in units from the end of the header; each begins with
    // its 32-bit length.
    const uint32_t a1 = unitsFor(4 + f.video.size());
    const uint32_t a2 = f.audio.empty() ? a1 : a1 + unitsFor(4 + f.audio.size());
    const uint32_t a3 = a2;             // no user data
    const uint32_t length = 1 + a3 + 1; // header, areas, information block
    if (length > 0xFFFF) throw std::length_error("frame too large for its header");

    SerializedFrame out;
    out.channel = f.channel;
    out.key = f.key;
    out.time = f.time;
    out.bytes.assign(size_t(length) * kUnitSize, 0);
    uint8_t* base = out.bytes.data();

    FieldWriter h(base, big);
    h.conv32(0, kMagicFrame);
    h.conv32(4, f.time);
    h.conv16(8, f.milliseconds);
    h.u8(10, 0);
    h.u8(11, f.timeZone);
    h.conv16(12, frameFlags(f));
    h.u8(14, uint8_t(f.width / 8));
    h.u8(15, uint8_t(f.height / 8));
    h.conv32(16, f.sequence);
    h.conv16(20, uint16_t(length));
    h.conv16(22, uint16_t(a1));
    h.conv16(24, uint16_t(a2));
    h.conv16(26, uint16_t(a3));
    h.u8(28, uint8_t(f.channel));
    h.u8(29, uint8_t(f.audioType & 0x0F));
    h.conv16(30, f.index);

    FieldWriter areas(base + kFrameHeaderSize, big);
    areas.conv32(0, uint32_t(f.video.size()));
    areas.bytes(4, f.video.data(), f.video.size());
    if (!f.audio.empty()) {
        areas.conv32(size_t(a1) * kUnitSize, uint32_t(f.audio.size()));
        areas.bytes(size_t(a1) * kUnitSize + 4, f.audio.data(), f.audio.size());
    }
    // The recorder keeps the camera title as UTF-16LE, at most 15 units so
    // that a terminating zero unit always follows. Titles are ASCII here.
    uint8_t info[kInfoBlockSize] = {};
    const size_t units = std::min(f.title.size(), size_t(kInfoBlockSize / 2 - 1));
    for (size_t i = 0; i < units; ++i)
        info[2 * i] = uint8_t(f.title[i]);
    areas.bytes(size_t(a3) * kUnitSize, info, sizeof info);
    return out;
}

} // namespace qm::mkrec
