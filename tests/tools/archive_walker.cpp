#include "archive_walker.h"

#include "platform/byte_order.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <set>

namespace qm::test {
namespace {

struct Reader {
    const uint8_t* p;
    bool big;
    uint32_t c32(size_t off) const { return big ? loadBE32(p + off) : loadLE32(p + off); }
    uint16_t c16(size_t off) const { return big ? loadBE16(p + off) : loadLE16(p + off); }
    uint64_t c64(size_t off) const { return big ? loadBE64(p + off) : loadLE64(p + off); }
    // 4-byte fields that a big-endian reader takes as 16 bits.
    uint32_t c16of32(size_t off) const { return big ? loadBE16(p + off) : loadLE32(p + off); }
    uint32_t raw32(size_t off) const { return loadLE32(p + off); }
    uint16_t raw16(size_t off) const { return loadLE16(p + off); }
};

std::string fmt(const char* f, long long a, long long b = 0, long long c = 0) {
    char buf[200];
    std::snprintf(buf, sizeof buf, f, a, b, c);
    return buf;
}

} // namespace

std::vector<uint8_t> readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

WalkedArchive walkArchive(const std::vector<uint8_t>& file) {
    WalkedArchive a;
    auto& err = a.errors;
    if (file.size() < 512) {
        err.push_back("file shorter than a header");
        return a;
    }
    const uint8_t* hp = file.data() + file.size() - 512;
    a.byteOrder = hp[46];
    a.bigEndian = a.byteOrder == 0;
    Reader h{hp, a.bigEndian};
    if (h.c32(0) != 0x516D5866) err.push_back("archive magic missing");
    a.codecByte = hp[47];
    a.channelMask = h.c32(28);
    a.blockSize = h.c32(140);
    a.start = h.c32(176);
    a.end = h.c32(180);
    a.timeOffset = hp[185];
    const uint32_t count = h.c32(112);
    const uint64_t table = h.c64(116);
    const uint64_t B = a.blockSize;
    if (B == 0 || B % 512 || table != count * B || table + count * 16ull + 512 != file.size()) {
        err.push_back("header sizes do not describe the file");
        return a;
    }
    const bool twoGroups = (a.channelMask >> 16) != 0;
    for (uint32_t i = 0; i < count; ++i) {
        Reader m{file.data() + table + i * 16ull, a.bigEndian};
        WalkedBlock blk;
        blk.miniType = m.p[0];
        blk.group = m.p[1];
        blk.miniStart = m.c32(4);
        blk.miniEnd = m.c32(8);
        if (!twoGroups && blk.group != 0)
            err.push_back(fmt("block %lld: group in a one-group file", i));

        const uint8_t* base = file.data() + i * B;
        Reader bh{base + B - 512, a.bigEndian};
        if (bh.c32(16) != 0x516D4268) {
            err.push_back(fmt("block %lld: no QmBh", i));
            continue;
        }
        blk.channelMask = bh.raw16(2);
        blk.headerStart = bh.c32(4);
        blk.headerEnd = bh.c32(8);
        blk.keyCount = bh.c16of32(20);
        blk.otherCount = bh.raw32(24);
        const uint32_t ni = bh.raw16(32), np = bh.raw16(34);
        blk.dataUsed = bh.raw32(46);
        const uint64_t L = B - (ni + np) * 512ull - 512;
        if (blk.keyCount * 16ull > ni * 512ull || blk.otherCount * 8ull > np * 512ull ||
            (ni + np + 1) * 512ull > B) {
            err.push_back(fmt("block %lld: tables overflow their sectors", i));
            continue;
        }

        // Walk the data area frame by frame up to LaSt.
        std::map<uint32_t, size_t> framesAtUnit; // unit offset -> index in a.frames
        uint64_t pos = 0;
        bool sawLast = false;
        while (pos + 32 <= L) {
            Reader f{base + pos, a.bigEndian};
            uint32_t marker = f.c32(0);
            if (marker == 0x4C615374) {
                sawLast = true;
                break;
            }
            if (marker != 0x516D4668) {
                err.push_back(fmt("block %lld: no frame header at byte %lld", i, pos));
                break;
            }
            const uint32_t len = f.c16(20), a1 = f.c16(22), a2 = f.c16(24), a3 = f.c16(26);
            if (len < 2 || pos + len * 32ull > L || !(a1 <= a2 && a2 <= a3 && a3 + 1 < len)) {
                err.push_back(fmt("block %lld: bad frame lengths at byte %lld", i, pos));
                break;
            }
            WalkedFrame fr;
            fr.block = a.blocks.size();
            fr.time = f.c32(4);
            fr.milliseconds = f.c16(8);
            fr.timeZone = f.p[11];
            const uint16_t flags = f.c16(12);
            fr.key = flags & 0x8000;
            fr.mjpegFlag = flags & 0x1000;
            const int wext = (flags & 0x4000) ? (flags & 0x0F) : 0;
            const int hext = (flags & 0x4000) ? ((flags >> 4) & 0x0F) : 0;
            fr.width = (wext * 256 + f.p[14]) * 8;
            fr.height = (hext * 256 + f.p[15]) * 8;
            fr.sequence = f.c32(16);
            fr.channel = f.p[28];
            fr.audioType = f.p[29] & 0x0F;
            fr.index = f.c16(30);
            const uint8_t* areas = base + pos + 32;
            Reader ar{areas, a.bigEndian};
            const uint32_t v = ar.c32(0);
            if (a1 == 0 || v + 4ull > a1 * 32ull) {
                err.push_back(fmt("block %lld: video length beyond its area at %lld", i, pos));
                break;
            }
            fr.video.assign(areas + 4, areas + 4 + v);
            if (a2 > a1) {
                const uint32_t alen = ar.c32(a1 * 32);
                if (alen + 4ull > (a2 - a1) * 32ull)
                    err.push_back("audio length beyond its area");
                else
                    fr.audio.assign(areas + a1 * 32 + 4, areas + a1 * 32 + 4 + alen);
            }
            // UTF-16LE, ASCII titles: every second byte.
            const uint8_t* title = areas + a3 * 32;
            fr.title.clear();
            for (size_t i = 0; i < 16 && (title[2 * i] || title[2 * i + 1]); ++i)
                fr.title.push_back(char(title[2 * i]));
            if (fr.channel / 16 != (twoGroups ? blk.group : 0) ||
                !(blk.channelMask >> (fr.channel % 16) & 1))
                err.push_back(
                    fmt("block %lld: channel %lld outside the block's group/mask", i, fr.channel));
            if (fr.time < blk.miniStart || fr.time > blk.miniEnd)
                err.push_back(fmt("block %lld: frame time %lld outside the block", i, fr.time));
            framesAtUnit[uint32_t(pos / 32)] = a.frames.size();
            a.frames.push_back(std::move(fr));
            ++blk.frameCount;
            pos += len * 32ull;
        }
        if (!sawLast) err.push_back(fmt("block %lld: no LaSt", i));
        if (blk.dataUsed != pos)
            err.push_back(fmt("block %lld: data-used field %lld", i, blk.dataUsed));

        // Every table record must point at a frame of its channel and kind, and
        // every frame must be listed exactly once.
        std::set<uint32_t> listed;
        const uint8_t* pTable = base + L;
        const uint8_t* iTable = pTable + np * 512ull;
        auto check = [&](uint32_t unit, int channel, bool key) {
            auto it = framesAtUnit.find(unit);
            if (it == framesAtUnit.end()) {
                err.push_back(fmt("block %lld: table record at unit %lld is not a frame", i, unit));
                return;
            }
            const WalkedFrame& fr = a.frames[it->second];
            if (fr.channel != channel || fr.key != key)
                err.push_back(fmt("block %lld: table record at unit %lld disagrees", i, unit));
            if (!listed.insert(unit).second) err.push_back("frame listed twice");
        };
        for (uint32_t k = 0; k < blk.keyCount; ++k) {
            Reader r{iTable + k * 16ull, a.bigEndian};
            const uint32_t unit = r.c16of32(4);
            check(unit, r.p[12], true);
            if (r.c16of32(8) == 0) err.push_back("key frame not usable for key-only loading");
            auto it = framesAtUnit.find(unit);
            if (it != framesAtUnit.end() && r.c16(0) != a.frames[it->second].time - blk.miniStart)
                err.push_back(fmt("block %lld: key time offset %lld wrong", i, r.c16(0)));
        }
        for (uint32_t k = 0; k < blk.otherCount; ++k) {
            Reader r{pTable + k * 8ull, a.bigEndian};
            check(r.c16of32(0), r.p[4], false);
        }
        if (listed.size() != framesAtUnit.size())
            err.push_back(fmt("block %lld: %lld frames but %lld listed", i, framesAtUnit.size(),
                              listed.size()));
        a.blocks.push_back(blk);
    }
    return a;
}

std::vector<uint8_t> unwrapVideo(uint8_t codecByte, const WalkedFrame& f) {
    const auto& v = f.video;
    auto from = [&](size_t off) {
        return off <= v.size() ? std::vector<uint8_t>(v.begin() + off, v.end())
                               : std::vector<uint8_t>();
    };
    switch (codecByte) {
    case 0x10:
        return from(64);
    case 0x21:
        return from(44);
    case 0x30:
    case 0x33: {
        std::vector<uint8_t> out;
        size_t pos = 0;
        for (int section = 0; section < (f.key ? 3 : 1) && pos + 256 <= v.size(); ++section) {
            uint32_t len = section == 2 ? uint32_t(v.size() - pos - 256) : loadBE32(&v[pos + 20]);
            if (pos + 256 + len > v.size()) return {};
            out.insert(out.end(), v.begin() + pos + 256, v.begin() + pos + 256 + len);
            pos += 256 + len;
        }
        return out;
    }
    default:
        return v;
    }
}

} // namespace qm::test
