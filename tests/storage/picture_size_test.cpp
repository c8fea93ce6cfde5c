#include "storage/picture_size.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// Builds an H.264 NAL unit bit by bit, inserting emulation prevention bytes.
class SpsWriter {
public:
    void bits(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i)
            m_bits.push_back((v >> i) & 1);
    }
    void ue(uint32_t v) {
        uint64_t x = uint64_t(v) + 1;
        int len = 0;
        while ((x >> len) > 1)
            ++len;
        bits(0, len);
        bits(uint32_t(x), len + 1);
    }
    void se(int32_t v) { ue(v > 0 ? uint32_t(2 * v - 1) : uint32_t(-2 * v)); }

    std::vector<uint8_t> nal() const {
        std::vector<uint8_t> rbsp;
        std::vector<int> b = m_bits;
        b.push_back(1); // rbsp_stop_one_bit
        while (b.size() % 8)
            b.push_back(0);
        for (size_t i = 0; i < b.size(); i += 8) {
            uint8_t byte = 0;
            for (int k = 0; k < 8; ++k)
                byte = uint8_t(byte << 1 | b[i + k]);
            rbsp.push_back(byte);
        }
        std::vector<uint8_t> out{0, 0, 0, 1, 0x67};
        int zeros = 0;
        for (uint8_t byte : rbsp) {
            if (zeros >= 2 && byte <= 3) {
                out.push_back(3);
                zeros = 0;
            }
            out.push_back(byte);
            zeros = byte == 0 ? zeros + 1 : 0;
        }
        return out;
    }

private:
    std::vector<int> m_bits;
};

std::vector<uint8_t> baselineSps(uint32_t widthMbsMinus1, uint32_t heightUnitsMinus1,
                                 bool frameMbsOnly) {
    SpsWriter w;
    w.bits(66, 8); // baseline
    w.bits(0, 8);
    w.bits(30, 8);
    w.ue(0); // sps id
    w.ue(0); // log2_max_frame_num_minus4
    w.ue(0); // poc type 0
    w.ue(0); // log2_max_poc_lsb_minus4
    w.ue(1); // max_num_ref_frames
    w.bits(0, 1);
    w.ue(widthMbsMinus1);
    w.ue(heightUnitsMinus1);
    w.bits(frameMbsOnly, 1);
    w.bits(1, 1); // direct_8x8_inference
    w.bits(0, 1); // cropping
    w.bits(0, 1); // vui
    return w.nal();
}

TEST(H264SpsSize, ReadsCodedSizeOfBaselineAndInterlacedStreams) {
    auto sps = baselineSps(43, 29, true); // 704 x 480
    auto s = qm::H264SpsSize(sps.data(), sps.size());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 704);
    EXPECT_EQ(s->height, 480);

    // Field-coded: height counts map units of two macroblock rows; 1088 not cropped.
    sps = baselineSps(239, 33, false);
    s = qm::H264SpsSize(sps.data(), sps.size());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 3840);
    EXPECT_EQ(s->height, 1088);
}

TEST(H264SpsSize, WalksHighProfileScalingListsAndPocType1) {
    SpsWriter w;
    w.bits(100, 8);
    w.bits(0, 8);
    w.bits(40, 8);
    w.ue(0);
    w.ue(1); // chroma 4:2:0
    w.ue(0); // bit depths
    w.ue(0);
    w.bits(0, 1); // qpprime
    w.bits(1, 1); // scaling matrix present
    for (int i = 0; i < 8; ++i) {
        w.bits(i == 0 || i == 6, 1); // two lists present
        if (i == 0 || i == 6) {
            int n = i < 6 ? 16 : 64;
            for (int j = 0; j < n; ++j)
                w.se(j == 0 ? 8 : 0);
        }
    }
    w.ue(4); // log2_max_frame_num_minus4
    w.ue(1); // poc type 1
    w.bits(0, 1);
    w.se(-3);
    w.se(5);
    w.ue(2);
    w.se(1);
    w.se(-1);
    w.ue(4); // refs
    w.bits(0, 1);
    w.ue(119); // 1920
    w.ue(67);  // 1088
    w.bits(1, 1);
    w.bits(1, 1);
    w.bits(0, 2);
    auto sps = w.nal();
    auto s = qm::H264SpsSize(sps.data(), sps.size());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 1920);
    EXPECT_EQ(s->height, 1088);
}

TEST(H264SpsSize, RejectsTruncatedAndGarbageInput) {
    auto sps = baselineSps(43, 29, true);
    for (size_t cut = 0; cut + 2 < sps.size(); ++cut) {
        auto s = qm::H264SpsSize(sps.data(), cut);
        EXPECT_FALSE(s) << "cut at " << cut;
    }
    std::vector<uint8_t> zeros(64, 0);
    EXPECT_FALSE(qm::H264SpsSize(zeros.data(), zeros.size()));
}

TEST(JpegSof0Size, SkipsTablesAndFindsTheFrameSegment) {
    std::vector<uint8_t> jpg{0xFF, 0xD8,
                             // an APP0 whose payload holds a fake FF C0 that must be skipped
                             0xFF, 0xE0, 0x00, 0x08, 0xFF, 0xC0, 0x00, 0x11, 0x22, 0x33,
                             // a quantisation table
                             0xFF, 0xDB, 0x00, 0x04, 0xFF, 0xC0,
                             // SOF0: length 17, precision 8, height 480, width 704
                             0xFF, 0xC0, 0x00, 0x11, 0x08, 0x01, 0xE0, 0x02, 0xC0, 0x03};
    auto s = qm::JpegSof0Size(jpg.data(), jpg.size());
    ASSERT_TRUE(s);
    EXPECT_EQ(s->width, 704);
    EXPECT_EQ(s->height, 480);

    // Cut inside the SOF0 segment: no size rather than a read past the end.
    EXPECT_FALSE(qm::JpegSof0Size(jpg.data(), jpg.size() - 2));
    // A segment length running past the end ends the scan.
    std::vector<uint8_t> bad{0xFF, 0xD8, 0xFF, 0xC4, 0xFF, 0xFF, 0x00};
    EXPECT_FALSE(qm::JpegSof0Size(bad.data(), bad.size()));
}

} // namespace
