#include "tools/mkrec/chip_wrapping.h"

#include "platform/byte_order.h"
#include "storage/record_layout.h"

namespace qm::mkrec {
namespace {

// The readers skip prefixes without looking inside; we fill them with what a
// chip plausibly records there (size, sequence, picture size, key flag) so the
// bytes are not all zero.
std::vector<uint8_t> prefixed(size_t prefixSize, std::span<const uint8_t> stream,
                              const WrapContext& c) {
    std::vector<uint8_t> out(prefixSize + stream.size(), 0);
    storeLE32(out.data(), uint32_t(stream.size()));
    storeLE32(out.data() + 4, c.sequence);
    storeLE16(out.data() + 8, uint16_t(c.width));
    storeLE16(out.data() + 10, uint16_t(c.height));
    out[12] = c.key ? 1 : 0;
    std::copy(stream.begin(), stream.end(), out.begin() + prefixSize);
    return out;
}

void appendSection(std::vector<uint8_t>& out, std::span<const uint8_t> part, uint32_t index,
                   const WrapContext& c) {
    size_t at = out.size();
    out.resize(at + kChipSectionSize, 0);
    uint8_t* h = out.data() + at;
    storeBE32(h + 0, 0x00000001u);
    storeBE32(h + 4, c.sequence);
    storeBE32(h + 8, index);
    storeBE16(h + 12, uint16_t(c.width));
    storeBE16(h + 14, uint16_t(c.height));
    h[16] = c.key ? 1 : 0;
    storeBE32(h + 20, uint32_t(part.size())); // the one word the readers rely on
    out.insert(out.end(), part.begin(), part.end());
}

// Key frames go out as three sections: the first NAL unit (SPS), the second
// (PPS), then everything else; other frames as one section.
std::vector<uint8_t> chipSections(std::span<const uint8_t> stream, const WrapContext& c) {
    std::vector<uint8_t> out;
    out.reserve(stream.size() + 3 * kChipSectionSize);
    if (!c.key) {
        appendSection(out, stream, 0, c);
        return out;
    }
    auto nals = splitAnnexB(stream);
    size_t e1 = nals.size() > 1 ? nals[0].size() : stream.size();
    size_t e2 = nals.size() > 2 ? nals[1].size() : 0;
    appendSection(out, stream.subspan(0, e1), 0, c);
    appendSection(out, stream.subspan(e1, e2), 1, c);
    appendSection(out, stream.subspan(e1 + e2), 2, c);
    return out;
}

bool startCodeAt(std::span<const uint8_t> s, size_t i) {
    return i + 3 <= s.size() && s[i] == 0 && s[i + 1] == 0 && s[i + 2] == 1;
}

} // namespace

std::vector<std::span<const uint8_t>> splitAnnexB(std::span<const uint8_t> s) {
    std::vector<size_t> starts;
    for (size_t i = 0; i + 3 <= s.size(); ++i) {
        if (!startCodeAt(s, i)) continue;
        // A four-byte start code belongs to the unit that follows it.
        starts.push_back(i > 0 && s[i - 1] == 0 && (starts.empty() || starts.back() < i - 1) ? i - 1
                                                                                             : i);
        i += 2;
    }
    std::vector<std::span<const uint8_t>> units;
    if (starts.empty() || starts.front() != 0) starts.insert(starts.begin(), 0);
    for (size_t k = 0; k < starts.size(); ++k) {
        size_t end = k + 1 < starts.size() ? starts[k + 1] : s.size();
        if (end > starts[k]) units.push_back(s.subspan(starts[k], end - starts[k]));
    }
    return units;
}

std::vector<uint8_t> wrapVideo(VideoCodec codec, std::span<const uint8_t> stream,
                               const WrapContext& context) {
    switch (codec) {
    case VideoCodec::HISI:
        return prefixed(kChipPrefixHISI, stream, context);
    case VideoCodec::SOLO:
        return prefixed(kChipPrefixSOLO, stream, context);
    case VideoCodec::STCH:
    case VideoCodec::STHD:
        return chipSections(stream, context);
    case VideoCodec::H264:
    case VideoCodec::MJPG:
        break;
    }
    return {stream.begin(), stream.end()};
}

} // namespace qm::mkrec
