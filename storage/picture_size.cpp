#include "storage/picture_size.h"

#include <vector>

namespace qm {

std::optional<PictureSize> JpegSof0Size(const uint8_t* data, size_t size) {
    size_t i = 0;
    while (i + 1 < size) {
        if (data[i] != 0xFF) {
            ++i;
            continue;
        }
        const uint8_t marker = data[i + 1];
        if (marker == 0xC0) {
            // Counting the C0 byte as byte 0: height in bytes 4-5, width in 6-7.
            const size_t c0 = i + 1;
            if (c0 + 7 >= size) return std::nullopt;
            PictureSize s;
            s.height = (data[c0 + 4] << 8) | data[c0 + 5];
            s.width = (data[c0 + 6] << 8) | data[c0 + 7];
            return s;
        }
        if (marker == 0xC4 || marker == 0xDB || marker == 0xE0 || marker == 0xFE) {
            if (i + 3 >= size) return std::nullopt;
            const size_t length = (size_t(data[i + 2]) << 8) | data[i + 3];
            i += 2 + length; // the length counts itself but not the marker
            continue;
        }
        ++i;
    }
    return std::nullopt;
}

namespace {

// Exp-Golomb bit reader over an RBSP (emulation prevention bytes already removed).
// Reading past the end sets a failure flag instead of touching memory.
class BitReader {
public:
    explicit BitReader(const std::vector<uint8_t>& bytes) : m_bytes(bytes) {}
    bool failed() const { return m_failed; }

    uint32_t bit() {
        if (m_pos >= m_bytes.size() * 8) {
            m_failed = true;
            return 0;
        }
        uint32_t b = (m_bytes[m_pos / 8] >> (7 - m_pos % 8)) & 1u;
        ++m_pos;
        return b;
    }
    uint32_t bits(int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i)
            v = (v << 1) | bit();
        return v;
    }
    uint32_t ue() {
        int zeros = 0;
        while (!m_failed && bit() == 0) {
            if (++zeros > 31) {
                m_failed = true;
                return 0;
            }
        }
        if (m_failed) return 0;
        uint64_t v = (uint64_t(1) << zeros) - 1 + bits(zeros);
        if (v > UINT32_MAX) m_failed = true;
        return uint32_t(v);
    }
    // 64 bits wide: a hostile ue() of 2^32-1 maps to +-2^31, past int32_t.
    int64_t se() {
        const int64_t k = ue();
        return (k & 1) ? (k + 1) / 2 : -(k / 2);
    }

private:
    const std::vector<uint8_t>& m_bytes;
    size_t m_pos = 0;
    bool m_failed = false;
};

void skipScalingList(BitReader& br, int count) {
    int64_t last = 8, next = 8;
    for (int j = 0; j < count && !br.failed(); ++j) {
        if (next != 0) {
            const int64_t delta = br.se();
            next = ((last + delta) % 256 + 256) % 256;
        }
        last = (next == 0) ? last : next;
    }
}

} // namespace

std::optional<PictureSize> H264SpsSize(const uint8_t* data, size_t size) {
    constexpr size_t kStartCode = 4;
    constexpr size_t kMaxSpsBytes = 1024; // an SPS is a few dozen bytes; never unbounded
    if (size <= kStartCode + 1) return std::nullopt;

    // Unescape the NAL unit after its header byte, up to the next start code.
    std::vector<uint8_t> rbsp;
    size_t zeros = 0;
    for (size_t i = kStartCode + 1; i < size && rbsp.size() < kMaxSpsBytes; ++i) {
        const uint8_t b = data[i];
        if (zeros >= 2 && b == 0x03) {
            zeros = 0;
            continue;
        }
        if (zeros >= 2 && b <= 0x01) break; // next start code
        zeros = (b == 0) ? zeros + 1 : 0;
        rbsp.push_back(b);
    }

    BitReader br(rbsp);
    const uint32_t profile = br.bits(8);
    br.bits(8); // constraint flags
    br.bits(8); // level
    br.ue();    // seq_parameter_set_id
    switch (profile) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
    case 118:
    case 128:
    case 138:
    case 139:
    case 134:
    case 135: {
        const uint32_t chroma = br.ue();
        if (chroma == 3) br.bit(); // separate_colour_plane_flag
        br.ue();                   // bit_depth_luma_minus8
        br.ue();                   // bit_depth_chroma_minus8
        br.bit();                  // qpprime_y_zero_transform_bypass_flag
        if (br.bit()) {            // seq_scaling_matrix_present_flag
            const int lists = chroma != 3 ? 8 : 12;
            for (int i = 0; i < lists && !br.failed(); ++i)
                if (br.bit()) skipScalingList(br, i < 6 ? 16 : 64);
        }
        break;
    }
    default:
        break;
    }
    br.ue(); // log2_max_frame_num_minus4
    const uint32_t pocType = br.ue();
    if (pocType == 0) {
        br.ue(); // log2_max_pic_order_cnt_lsb_minus4
    } else if (pocType == 1) {
        br.bit(); // delta_pic_order_always_zero_flag
        br.se();  // offset_for_non_ref_pic
        br.se();  // offset_for_top_to_bottom_field
        const uint32_t cycle = br.ue();
        if (cycle > 255) return std::nullopt;
        for (uint32_t i = 0; i < cycle && !br.failed(); ++i)
            br.se();
    }
    br.ue();  // max_num_ref_frames
    br.bit(); // gaps_in_frame_num_value_allowed_flag
    const uint32_t widthMbs = br.ue();
    const uint32_t heightUnits = br.ue();
    const uint32_t frameMbsOnly = br.bit();
    if (br.failed() || widthMbs > 1023 || heightUnits > 1023) return std::nullopt;

    PictureSize s;
    s.width = int(widthMbs + 1) * 16;
    s.height = int(2 - frameMbsOnly) * int(heightUnits + 1) * 16;
    return s;
}

} // namespace qm
