// Recording records decoded from bytes in both byte orders, block geometry,
// frame payload areas and the chip wrappers around the video stream.

#include "storage/formats.h"

#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace qm {
namespace {

constexpr uint8_t kLittle = 1;
constexpr uint8_t kBig = 0;

// Raw record bytes; u16/u32/u64 write in the record's order, le16/le32/raw as given.
struct Rec {
    std::vector<uint8_t> b;
    bool big;
    explicit Rec(size_t n, bool bigEndian = false) : b(n), big(bigEndian) {}
    uint8_t* at(size_t o, size_t n) { return &b.at(o + n - 1) - (n - 1); }
    Rec& u8(size_t o, uint8_t v) { return raw(o, {v}); }
    Rec& u16(size_t o, uint16_t v) {
        big ? storeBE16(at(o, 2), v) : storeLE16(at(o, 2), v);
        return *this;
    }
    Rec& u32(size_t o, uint32_t v) {
        big ? storeBE32(at(o, 4), v) : storeLE32(at(o, 4), v);
        return *this;
    }
    Rec& u64(size_t o, uint64_t v) {
        big ? storeBE64(at(o, 8), v) : storeLE64(at(o, 8), v);
        return *this;
    }
    Rec& le16(size_t o, uint16_t v) {
        storeLE16(at(o, 2), v);
        return *this;
    }
    Rec& le32(size_t o, uint32_t v) {
        storeLE32(at(o, 4), v);
        return *this;
    }
    Rec& raw(size_t o, std::initializer_list<uint8_t> v) {
        for (uint8_t x : v)
            b.at(o++) = x;
        return *this;
    }
    ByteView view(size_t n = SIZE_MAX) const { return ByteView(b.data(), std::min(n, b.size())); }
};

TEST(ArchiveHeader, BigEndianForAnyByteOrderButOne) {
    for (uint8_t order : {uint8_t(0), uint8_t(1), uint8_t(2)}) {
        SCOPED_TRACE(int(order));
        Rec r(kArchiveHeaderSize, order != 1);
        r.u32(0, kMagicArchive).u32(28, 0x00010005).u8(46, order).u8(47, 0x40).u32(112, 1234);
        r.u64(116, 0x0000000123456789ull).u32(140, 1048576).u32(176, 1000000000);
        r.u32(180, 1000003600).u8(185, 16);
        auto h = parseArchiveHeader(r.view());
        ASSERT_TRUE(h);
        EXPECT_EQ(h->magic, kMagicArchive);
        EXPECT_EQ(h->channelMask, 0x00010005u);
        EXPECT_EQ(h->codec, kCodecMJPG);
        EXPECT_EQ(h->miniHeaderCount, 1234u);
        EXPECT_EQ(h->miniTableOffset, 0x0000000123456789ull); // one 64-bit value
        EXPECT_EQ(h->blockSize, 1048576u);
        EXPECT_EQ(h->startTime, 1000000000u);
        EXPECT_EQ(h->endTime, 1000003600u);
        EXPECT_EQ(h->timeOffsetSeconds(), 28800);
    }
}

TEST(ArchiveHeader, GroupsAndMagic) {
    EXPECT_EQ(groupCountForMask(0x0000FFFF), 1);
    EXPECT_EQ(groupCountForMask(0x00010000), 2);
    Rec r(kArchiveHeaderSize);
    EXPECT_TRUE(checkArchiveMagic(r.raw(0, {0x66, 0x58, 0x6D, 0x51}).view()));
    EXPECT_TRUE(checkArchiveMagic(r.raw(0, {0x51, 0x6D, 0x58, 0x66}).view()));
    EXPECT_FALSE(checkArchiveMagic(r.raw(0, {0x68, 0x42, 0x6D, 0x51}).view()));
    EXPECT_FALSE(checkArchiveMagic(r.raw(0, {0x66, 0x58, 0x6D, 0x51}).view(3)));
}

TEST(CodecCode, ArchiveAndDiskColumns) {
    EXPECT_EQ(archiveCodecCode(0x22), kCodecH264);
    EXPECT_EQ(archiveCodecCode(0x40), kCodecMJPG);
    EXPECT_EQ(archiveCodecCode(0x99), kCodecH264);
    EXPECT_EQ(archiveCodecCode(0x33), kCodecSTHD);
    EXPECT_EQ(diskCodecCode(0x22), kCodecH264);
    EXPECT_EQ(diskCodecCode(0x21), kCodecHISI);
    EXPECT_EQ(diskCodecCode(0x40), std::nullopt);
    EXPECT_EQ(diskCodecCode(0x99), std::nullopt);
}

TEST(MiniHeader, BigEndianTimesAndDiskAcceptance) {
    Rec r(kMiniHeaderSize, true);
    r.u8(0, 0x09).u8(1, 1).le16(2, 0x00F1).u32(4, 900000001).u32(8, 900000600).u32(12, 77);
    auto m = parseMiniHeader(r.view(), kBig);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->type(), 1);
    EXPECT_EQ(m->channelMask, 0x00F1); // never converted
    EXPECT_EQ(m->endTime, 900000600u);
    EXPECT_EQ(m->sequence, 77u);
    EXPECT_TRUE(m->usableOnDisk());
    m->startTime = 900000000;
    EXPECT_FALSE(m->usableOnDisk());
}

TEST(BlockHeader, BigEndianConvertsOnlyMarkedFields) {
    Rec r(kBlockHeaderSize, true);
    r.u8(0, 3).le16(2, 0x8001).u32(4, 1000000000).u32(8, 1000000300).u32(16, kMagicBlock);
    r.raw(20, {0x00, 0x07, 0xAB, 0xCD}).le32(24, 4321).le16(32, 2).le16(34, 5).le32(46, 0xFF800);
    auto b = parseBlockHeader(r.view(), kBig);
    ASSERT_TRUE(b);
    EXPECT_TRUE(b->hasMarker());
    EXPECT_EQ(b->type, 3);
    EXPECT_EQ(b->channelMask, 0x8001);
    EXPECT_EQ(b->startTime, 1000000000u);
    EXPECT_EQ(b->endTime, 1000000300u);
    EXPECT_EQ(b->iFrameCount, 7u);
    EXPECT_EQ(b->pFrameCount, 4321u);
    EXPECT_EQ(b->iSectors, 2);
    EXPECT_EQ(b->pSectors, 5);
    EXPECT_EQ(b->dataEnd, 0xFF800u);
    EXPECT_EQ(parseBlockHeader(r.view(), kLittle)->iFrameCount, 0xCDAB0700u);
    // The block marker is checked after conversion only.
    EXPECT_FALSE(parseBlockHeader(r.le32(16, kMagicBlock).view(), kBig)->hasMarker());
}

TEST(FrameInfo, SixteenBitOffsetWhenBigEndian) {
    Rec p(kPFrameInfoSize);
    p.raw(0, {0x00, 0x10, 0xFF, 0xFF}).u8(4, 9);
    EXPECT_EQ(parsePFrameInfo(p.view(), kBig)->offsetUnits, 16u);
    EXPECT_EQ(parsePFrameInfo(p.view(), 2)->offsetUnits, 16u);
    EXPECT_EQ(parsePFrameInfo(p.view(), kLittle)->offsetUnits, 0xFFFF1000u);
    Rec i(kIFrameInfoSize);
    i.raw(0, {0x01, 0x2C}).raw(4, {0x00, 0x10, 0xFF, 0xFF}).raw(8, {0x00, 0x01, 0xEE}).u8(12, 31);
    auto r = parseIFrameInfo(i.view(), kBig);
    EXPECT_EQ(r->timeOffset, 300);
    EXPECT_EQ(r->offsetUnits, 16u);
    EXPECT_EQ(r->keyUsable, 1u);
    EXPECT_EQ(r->channel, 31);
    EXPECT_FALSE(pFrameInfoAt(p.view(), 1, kBig));
}

TEST(FrameHeader, BigEndianFields) {
    Rec r(kFrameHeaderSize, true);
    r.u32(0, kMagicFrame).u32(4, 1000000000).u16(8, 999).u8(10, 0xFE).u8(11, 40).u16(12, 0xC011);
    r.u8(14, 0xE0).u8(15, 0x0E).u32(16, 123456).u16(20, 300).u16(22, 200).u16(24, 250);
    r.u16(26, 280).u8(28, 17).u8(29, 0x35).u16(30, 4242);
    auto h = parseFrameHeader(r.view(), kBig);
    ASSERT_TRUE(h);
    EXPECT_TRUE(h->hasMarker());
    EXPECT_EQ(h->time, 1000000000u);
    EXPECT_EQ(h->milliseconds, 999);
    EXPECT_EQ(h->localTime(), 1000028800 - 1800);
    EXPECT_TRUE(h->isKey());
    EXPECT_EQ(h->width(), 3840u);
    EXPECT_EQ(h->height(), 2160u);
    EXPECT_EQ(h->sequence, 123456u);
    EXPECT_EQ(h->frameBytes(), 9600u);
    EXPECT_EQ(h->videoEnd, 200);
    EXPECT_EQ(h->audioEnd, 250);
    EXPECT_EQ(h->userDataEnd, 280);
    EXPECT_EQ(h->channel, 17);
    EXPECT_EQ(h->audioType(), 5);
    EXPECT_EQ(h->index, 4242);
    // Frame markers are accepted in either order, unlike block markers.
    EXPECT_TRUE(parseFrameHeader(r.le32(0, kMagicFrame).view(), kBig)->hasMarker());
    EXPECT_TRUE(parseFrameHeader(r.le32(0, kMagicLast).view(), kLittle)->isEndOfFrames());
}

TEST(FrameHeader, SizeExtensionsOnlyWhenValid) {
    FrameHeader h;
    h.width8 = 0xE0;
    h.height8 = 0x0E;
    h.flags = 0x4011;
    EXPECT_EQ(std::pair(h.width(), h.height()), std::pair(3840u, 2160u));
    h.flags = 0x0011;
    EXPECT_EQ(std::pair(h.width(), h.height()), std::pair(1792u, 112u));
    h.flags = 0x4020; // each nibble extends its own dimension
    EXPECT_EQ(std::pair(h.width(), h.height()), std::pair(1792u, 4208u));
}

TEST(FrameHeader, LocalTime) {
    FrameHeader h;
    h.time = 1000000000;
    h.timeZone = 24;
    EXPECT_EQ(h.localTime(), 1000000000);
    h.timeZone = 40;
    EXPECT_EQ(h.localTime(), 1000028800);
    h.correction = -2;
    EXPECT_EQ(h.localTime(), 1000027000);
    h = FrameHeader{};
    h.time = 100; // zone byte 0 near the epoch must not wrap
    EXPECT_EQ(h.localTime(), 100 - 43200);
}

TEST(DiskInfo, LittleEndianWhateverTheByteOrderByte) {
    Rec r(kDiskInfoSize);
    r.le32(0, kMagicDisk).le16(20, 32).u8(46, 0).u8(47, 0x22).u64(116, 0x200000400ull);
    r.le32(136, 0x10000).le32(188, 0x100000).u64(204, 0x100800000ull);
    auto d = parseDiskInfo(r.view());
    ASSERT_TRUE(d);
    EXPECT_TRUE(isDiskMagic(d->magic));
    EXPECT_EQ(d->groups(), 2);
    EXPECT_EQ(d->codec, kCodecH264);
    EXPECT_EQ(d->mhsOffset, 0x200000400ull);
    EXPECT_EQ(d->mhsLength, 0x10000u);
    EXPECT_EQ(d->blockSize, 0x100000u);
    EXPECT_EQ(d->dataBase, 0x100800000ull);
    for (auto [channels, groups] : {std::pair{0, 1}, {16, 1}, {31, 1}, {64, 2}}) {
        d->channels = uint16_t(channels);
        EXPECT_EQ(d->groups(), groups) << channels;
    }
}

TEST(Records, TruncatedInputIsRejected) {
    Rec r(kArchiveHeaderSize);
    EXPECT_FALSE(parseArchiveHeader(r.view(kArchiveHeaderSize - 1)));
    EXPECT_FALSE(parseMiniHeader(r.view(kMiniHeaderSize - 1), kLittle));
    EXPECT_FALSE(parseBlockHeader(r.view(kBlockHeaderSize - 1), kBig));
    EXPECT_FALSE(parseIFrameInfo(r.view(kIFrameInfoSize - 1), kBig));
    EXPECT_FALSE(parsePFrameInfo(r.view(kPFrameInfoSize - 1), kBig));
    EXPECT_FALSE(parseFrameHeader(r.view(kFrameHeaderSize - 1), kBig));
    EXPECT_FALSE(parseDiskInfo(r.view(kDiskInfoSize - 1)));
}

TEST(BlockGeometry, PositionsAndImpossibleLayouts) {
    auto g = blockGeometry(0, 1048576, 1, 1);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->dataLength, 1047040u);
    EXPECT_EQ(g->pTablePosition(), 1047040u);
    EXPECT_EQ(g->iTablePosition(), 1047552u);
    EXPECT_EQ(g->headerPosition(), 1048064u);
    auto disk = blockGeometry(3, 1048576, 4, 2, 0x40000000);
    EXPECT_EQ(disk->pTablePosition(), 0x40000000u + 4 * 1048576ull - 7 * 512);
    EXPECT_EQ(disk->headerPosition(), blockHeaderPosition(3, 1048576, 0x40000000));

    EXPECT_FALSE(blockGeometry(0, 3 * 512, 1, 1)); // no data area
    EXPECT_FALSE(blockGeometry(0, 1048576, 0xFFFF, 0xFFFF));
    EXPECT_FALSE(blockGeometry(std::numeric_limits<uint64_t>::max() / 1024, 1048576, 1, 1));
    EXPECT_FALSE(blockHeaderPosition(0, 511));
    EXPECT_FALSE(blockHeaderPosition(std::numeric_limits<uint64_t>::max(), 512));
    EXPECT_FALSE(frameOffsetInData(1047040 / 32, 1047040));
    EXPECT_FALSE(frameOffsetInData(0x08000001, 1047040)); // would wrap a 32-bit offset
}

// A payload with video (units 0-10), audio (10-14), user data (14-16) and an
// information block at unit 16; length words in the payload byte order.
struct Frame {
    FrameHeader h;
    std::vector<uint8_t> p;
    Frame(uint8_t order, uint32_t v, uint32_t a) {
        h.videoEnd = 10;
        h.audioEnd = 14;
        h.userDataEnd = 16;
        h.length = 18;
        p.assign(h.payloadBytes(), 0);
        auto put = [&](size_t at, uint32_t n) {
            payloadIsBigEndian(order) ? storeBE32(&p[at], n) : storeLE32(&p[at], n);
        };
        put(0, v);
        put(320, a);
        put(448, 20);
        p[4] = 0x11;
        p[324] = 0x22;
        p[512] = 0x33;
    }
    FrameAreas areas(uint8_t order, size_t n = SIZE_MAX) const {
        return locateFrameAreas(h, ByteView(p.data(), std::min(n, p.size())), order);
    }
};

TEST(FrameAreas, LocatesAreasInPayloadByteOrder) {
    for (uint8_t order : {uint8_t(0), uint8_t(1), uint8_t(2)}) {
        SCOPED_TRACE(int(order));
        Frame f(order, 300, 100);
        auto a = f.areas(order);
        ASSERT_TRUE(a.video.valid && a.audio.valid && a.userData.valid && a.infoBlock);
        EXPECT_EQ(a.video.bytes.size(), 300u);
        EXPECT_EQ(a.video.bytes.data()[0], 0x11);
        EXPECT_EQ(a.audio.bytes.size(), 100u);
        EXPECT_EQ(a.audio.bytes.data()[0], 0x22);
        EXPECT_EQ(a.userData.bytes.size(), 20u);
        EXPECT_EQ(a.infoBlock->data()[0], 0x33);
        EXPECT_EQ(a.infoBlock->size(), 32u);
    }
    // Byte order 2 converts headers but keeps payload words little-endian.
    EXPECT_FALSE(Frame(kBig, 300, 100).areas(2).video.valid);
}

TEST(FrameAreas, AbsentAreasAndBadLengths) {
    Frame f(kLittle, 320, 100); // V may reach A1 x 32
    f.h.audioEnd = f.h.videoEnd;
    f.h.userDataEnd = 17; // A3 + 1 == length
    auto a = f.areas(kLittle);
    EXPECT_TRUE(a.video.valid);
    EXPECT_FALSE(a.audio.present);
    EXPECT_FALSE(a.infoBlock);

    auto big = Frame(kLittle, 321, 129).areas(kLittle);
    EXPECT_FALSE(big.video.valid);
    EXPECT_FALSE(big.audio.valid);
    EXPECT_TRUE(big.video.present && big.video.bytes.size() == 0);

    Frame g(kLittle, 300, 100);
    g.h.audioEnd = 5; // ends before it starts
    EXPECT_FALSE(g.areas(kLittle).audio.valid);
    g.h.audioEnd = 14;
    g.h.length = 11; // areas beyond the frame's own length
    EXPECT_FALSE(g.areas(kLittle).audio.valid);
}

TEST(FrameAreas, TruncatedPayloadFailsCleanly) {
    Frame f(kLittle, 300, 100);
    for (size_t n : {size_t(0), size_t(3), size_t(303), size_t(370), f.p.size() - 1}) {
        SCOPED_TRACE(n);
        std::vector<uint8_t> cut(f.p.begin(), f.p.begin() + n); // exact size for the sanitizer
        auto a = locateFrameAreas(f.h, ByteView(cut.data(), n), kLittle);
        EXPECT_EQ(a.video.valid, n >= 304);
        EXPECT_EQ(a.audio.valid, n >= 424);
        EXPECT_FALSE(a.infoBlock);
    }
}

// Section header, E1 bytes of 1, section header, E2 bytes of 2, section header, rest of 3.
std::vector<uint8_t> chipFrame(uint32_t v, uint32_t e1, uint32_t e2) {
    std::vector<uint8_t> out(v, 0xAA);
    storeBE32(&out[20], e1);
    const size_t s2 = 256 + size_t(e1), s3 = s2 + 256 + e2;
    for (size_t i = 256; i < std::min<size_t>(s2, v); ++i)
        out[i] = 1;
    if (s2 + 256 <= v) storeBE32(&out[s2 + 20], e2);
    for (size_t i = s2 + 256; i < std::min<size_t>(s3, v); ++i)
        out[i] = 2;
    for (size_t i = s3 + 256; i < v; ++i)
        out[i] = 3;
    return out;
}

ByteView viewOf(const std::vector<uint8_t>& v) {
    return ByteView(v.data(), v.size());
}

TEST(VideoPrefix, FixedPrefixes) {
    std::vector<uint8_t> v(100);
    for (size_t i = 0; i < v.size(); ++i)
        v[i] = uint8_t(i);
    EXPECT_EQ(extractVideoStream(kCodecSOLO, true, viewOf(v)),
              std::vector(v.begin() + 64, v.end()));
    EXPECT_EQ(extractVideoStream(kCodecHISI, false, viewOf(v)),
              std::vector(v.begin() + 44, v.end()));
    EXPECT_EQ(extractVideoStream(kCodecMJPG, true, viewOf(v)), v);
    EXPECT_FALSE(extractVideoStream(kCodecSOLO, true, ByteView(v.data(), 63)));
}

TEST(VideoPrefix, ChipSections) {
    auto key = chipFrame(5000, 1000, 2000);
    auto stream = extractVideoStream(kCodecSTHD, true, viewOf(key));
    std::vector<uint8_t> expected(1000, 1);
    expected.insert(expected.end(), 2000, 2);
    expected.insert(expected.end(), 1232, 3);
    EXPECT_EQ(stream, expected);
    EXPECT_FALSE(videoStreamParts(kCodecSTHD, true, viewOf(chipFrame(5000, 3000, 2000))));
    EXPECT_TRUE(videoStreamParts(kCodecSTCH, true, viewOf(chipFrame(3768, 1000, 2000))));
    EXPECT_FALSE(videoStreamParts(kCodecSTCH, true, viewOf(chipFrame(3767, 1000, 2000))));
    storeBE32(&key[20], 0xFFFFFFFF); // a sum that wraps in 32 bits
    EXPECT_FALSE(videoStreamParts(kCodecSTCH, true, viewOf(key)));

    // Other frames are one section: everything after the first header.
    auto p = chipFrame(5000, 3000, 2000);
    EXPECT_EQ(extractVideoStream(kCodecSTCH, false, viewOf(p)),
              std::vector(p.begin() + 256, p.end()));
    EXPECT_FALSE(extractVideoStream(kCodecSTCH, false, ByteView(p.data(), 255)));
}

TEST(VideoPrefix, TruncatedChipKeyFrameNeverReadsPastInput) {
    auto key = chipFrame(5000, 1000, 2000);
    for (size_t n = 0; n < key.size(); n += 97) {
        std::vector<uint8_t> cut(key.begin(), key.begin() + n);
        EXPECT_EQ(bool(videoStreamParts(kCodecSTHD, true, viewOf(cut))), n >= 3768) << n;
    }
}

} // namespace
} // namespace qm
