#include "evidence_variants.h"

#include "platform/byte_order.h"
#include "reader_test_support.h"
#include "storage/formats.h"

#include <algorithm>
#include <set>
#include <stdexcept>

namespace qm::evidence {
namespace {

// Deterministic choices, so a failure names an input that can be made again.
class Lcg {
public:
    explicit Lcg(uint32_t seed) : m_state(seed * 2654435761u + 1) {}
    uint32_t Next() {
        m_state = m_state * 6364136223846793005ull + 1442695040888963407ull;
        return uint32_t(m_state >> 33);
    }
    uint64_t Below(uint64_t n) { return n ? (uint64_t(Next()) << 31 ^ Next()) % n : 0; }

private:
    uint64_t m_state;
};

struct Region {
    uint64_t start;
    uint64_t length;
};

void Put16(std::vector<uint8_t>& f, uint64_t at, uint16_t v, bool big) {
    if (at + 2 > f.size()) return;
    big ? storeBE16(f.data() + at, v) : storeLE16(f.data() + at, v);
}
void Put32(std::vector<uint8_t>& f, uint64_t at, uint32_t v, bool big) {
    if (at + 4 > f.size()) return;
    big ? storeBE32(f.data() + at, v) : storeLE32(f.data() + at, v);
}
void Put64(std::vector<uint8_t>& f, uint64_t at, uint64_t v, bool big) {
    Put32(f, at + (big ? 4 : 0), uint32_t(v), big);
    Put32(f, at + (big ? 0 : 4), uint32_t(v >> 32), big);
}

std::string Hex(uint64_t v) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%llx", static_cast<unsigned long long>(v));
    return buf;
}

// Up to `count` flips of 1 to 16 bytes each inside the regions.
void AddFlips(std::vector<Variant>& out, const std::vector<uint8_t>& file, const char* what,
              const std::vector<Region>& regions, int count, Lcg& rng) {
    if (regions.empty()) return;
    for (int v = 0; v < count; ++v) {
        Variant variant{std::string("flip-") + what + "-" + std::to_string(v), file};
        const int bytes = 1 + int(rng.Below(16));
        for (int b = 0; b < bytes; ++b) {
            const Region& r = regions[rng.Below(regions.size())];
            if (r.length == 0) continue;
            const uint64_t at = r.start + rng.Below(r.length);
            if (at < variant.bytes.size()) variant.bytes[at] ^= uint8_t(1 + rng.Below(255));
        }
        out.push_back(std::move(variant));
    }
}

bool BigHeader(const test::ArchiveMap& map) {
    return headerIsBigEndian(map.byteOrder);
}

} // namespace

std::vector<Variant> ArchiveTruncations(const std::vector<uint8_t>& file) {
    const test::ArchiveMap map = test::MapArchive(file);
    std::set<uint64_t> cuts = {0,
                               1,
                               4,
                               kArchiveHeaderSize - 1,
                               map.miniTable,
                               map.miniTable + kMiniHeaderSize / 2,
                               map.headerPosition,
                               map.headerPosition + 100,
                               file.size() - 1};
    // The first blocks and the last: the structures repeat in between.
    for (size_t i = 0; i < map.blocks.size(); ++i) {
        if (i >= 2 && i + 1 != map.blocks.size()) continue;
        const auto& block = map.blocks[i];
        cuts.insert(block.start);
        cuts.insert(block.start + kFrameHeaderSize / 2);
        cuts.insert(block.pTable);
        cuts.insert(block.iTable);
        cuts.insert(block.header);
        cuts.insert(block.header + kBlockHeaderSize / 2);
    }
    for (size_t i = 0; i < map.frames.size(); i += 16) {
        cuts.insert(map.frames[i].position + kFrameHeaderSize / 2);
        cuts.insert(map.frames[i].position + kFrameHeaderSize + 9);
    }
    const std::vector<uint8_t> header(file.end() - kArchiveHeaderSize, file.end());
    std::vector<Variant> out;
    for (uint64_t cut : cuts) {
        if (cut >= file.size()) continue;
        out.push_back({"cut-" + Hex(cut), std::vector<uint8_t>(file.begin(), file.begin() + cut)});
        // A copy that ended early but kept the header: every offset in it now
        // points at or past the end.
        if (cut < map.headerPosition) {
            Variant kept{"cut-" + Hex(cut) + "-header-kept",
                         std::vector<uint8_t>(file.begin(), file.begin() + cut)};
            kept.bytes.insert(kept.bytes.end(), header.begin(), header.end());
            out.push_back(std::move(kept));
        }
    }
    return out;
}

std::vector<Variant> ArchiveFlips(const std::vector<uint8_t>& file, uint32_t seed) {
    const test::ArchiveMap map = test::MapArchive(file);
    Lcg rng(seed);
    std::vector<Region> header = {{map.headerPosition, kArchiveHeaderSize}};
    std::vector<Region> mini = {{map.miniTable, uint64_t(map.miniCount) * kMiniHeaderSize}};
    std::vector<Region> blockHeaders, iTables, pTables, frameHeaders, payloads;
    for (const auto& b : map.blocks) {
        blockHeaders.push_back({b.header, 64});
        iTables.push_back({b.iTable, b.header - b.iTable});
        pTables.push_back({b.pTable, b.iTable - b.pTable});
    }
    for (const auto& f : map.frames) {
        frameHeaders.push_back({f.position, kFrameHeaderSize});
        payloads.push_back({f.position + kFrameHeaderSize, 256});
    }
    std::vector<Variant> out;
    AddFlips(out, file, "header", header, 8, rng);
    AddFlips(out, file, "minitable", mini, 5, rng);
    AddFlips(out, file, "blockheader", blockHeaders, 6, rng);
    AddFlips(out, file, "itable", iTables, 5, rng);
    AddFlips(out, file, "ptable", pTables, 5, rng);
    AddFlips(out, file, "frameheader", frameHeaders, 8, rng);
    AddFlips(out, file, "payload", payloads, 5, rng);
    return out;
}

std::vector<Variant> ArchiveWrongMagic(const std::vector<uint8_t>& file) {
    const test::ArchiveMap map = test::MapArchive(file);
    std::vector<Variant> out;
    Variant archive{"magic-archive", file};
    archive.bytes[map.headerPosition] ^= 0x20;
    out.push_back(std::move(archive));
    Variant zeroed{"magic-archive-zero", file};
    std::fill_n(zeroed.bytes.begin() + long(map.headerPosition), 4, 0);
    out.push_back(std::move(zeroed));

    Variant firstBlock{"magic-first-block", file};
    Variant allBlocks{"magic-every-block", file};
    for (size_t i = 0; i < map.blocks.size(); ++i) {
        const uint64_t at = map.blocks[i].header + block_field::kMarker;
        if (i == 0) firstBlock.bytes[at] ^= 0x01;
        allBlocks.bytes[at] ^= 0x01;
    }
    out.push_back(std::move(firstBlock));
    out.push_back(std::move(allBlocks));

    Variant someFrames{"magic-some-frames", file};
    Variant allFrames{"magic-every-frame", file};
    for (size_t i = 0; i < map.frames.size(); ++i) {
        if (i % 3 == 0) someFrames.bytes[map.frames[i].position] ^= 0x01;
        allFrames.bytes[map.frames[i].position] ^= 0x01;
    }
    out.push_back(std::move(someFrames));
    out.push_back(std::move(allFrames));
    return out;
}

std::vector<Variant> ArchiveSizesAndCounts(const std::vector<uint8_t>& file) {
    const test::ArchiveMap map = test::MapArchive(file);
    const bool big = BigHeader(map);
    const uint64_t h = map.headerPosition;
    std::vector<Variant> out;
    auto header = [&](const std::string& name, auto change) {
        Variant v{name, file};
        change(v.bytes);
        out.push_back(std::move(v));
    };
    using F = std::vector<uint8_t>;
    for (uint32_t size : {0u, 1u, 512u, 0x10000000u, 0xFFFFFFFFu, map.blockSize * 2})
        header("blocksize-" + Hex(size),
               [&](F& f) { Put32(f, h + archive_field::kBlockSize, size, big); });
    for (uint32_t count : {0u, map.miniCount + 1, 0x7FFFFFFFu, 0xFFFFFFFFu})
        header("minicount-" + Hex(count),
               [&](F& f) { Put32(f, h + archive_field::kMiniHeaderCount, count, big); });
    for (uint64_t offset : {uint64_t(0), uint64_t(file.size()), uint64_t(file.size() - 8),
                            ~uint64_t(0), uint64_t(1) << 62})
        header("minioffset-" + Hex(offset),
               [&](F& f) { Put64(f, h + archive_field::kMiniTableOffset, offset, big); });
    header("channelmask-zero", [&](F& f) { Put32(f, h + archive_field::kChannelMask, 0, big); });
    header("channelmask-all",
           [&](F& f) { Put32(f, h + archive_field::kChannelMask, 0xFFFFFFFFu, big); });
    header("times-reversed", [&](F& f) {
        Put32(f, h + archive_field::kStartTime, 0xFFFFFFF0u, big);
        Put32(f, h + archive_field::kEndTime, 1, big);
    });

    // Every block at once, so that no intact block hides the damage.
    auto blocks = [&](const std::string& name, auto change) {
        Variant v{name, file};
        for (const auto& b : map.blocks)
            change(v.bytes, b);
        out.push_back(std::move(v));
    };
    using B = test::BlockLocation;
    for (uint32_t count : {0u, 0xFFFFu, 0xFFFFFFFFu}) {
        blocks("iframecount-" + Hex(count), [&](F& f, const B& b) {
            Put32(f, b.header + block_field::kIFrameCount, count, big);
        });
        blocks("pframecount-" + Hex(count), [&](F& f, const B& b) {
            Put32(f, b.header + block_field::kPFrameCount, count, big);
        });
    }
    for (uint16_t sectors : {uint16_t(0), uint16_t(0xFFFF), uint16_t(map.blockSize / 512)}) {
        blocks("isectors-" + Hex(sectors), [&](F& f, const B& b) {
            Put16(f, b.header + block_field::kISectors, sectors, big);
        });
        blocks("psectors-" + Hex(sectors), [&](F& f, const B& b) {
            Put16(f, b.header + block_field::kPSectors, sectors, big);
        });
    }
    blocks("itable-offsets-huge", [&](F& f, const B& b) {
        for (uint64_t at = b.iTable; at + kIFrameInfoSize <= b.header; at += kIFrameInfoSize)
            Put32(f, at + iframe_field::kOffset, 0xFFFFFFF0u, big);
    });
    blocks("ptable-offsets-huge", [&](F& f, const B& b) {
        for (uint64_t at = b.pTable; at + kPFrameInfoSize <= b.iTable; at += kPFrameInfoSize)
            Put32(f, at + pframe_field::kOffset, 0xFFFFFFF0u, big);
    });
    blocks("tables-channel-huge", [&](F& f, const B& b) {
        for (uint64_t at = b.iTable; at + kIFrameInfoSize <= b.header; at += kIFrameInfoSize)
            f[at + iframe_field::kChannel] = 200;
    });

    // Frame headers: lengths and area ends of every frame.
    auto frames = [&](const std::string& name, auto change) {
        Variant v{name, file};
        for (const auto& fr : map.frames)
            change(v.bytes, fr.position);
        out.push_back(std::move(v));
    };
    for (uint16_t length : {uint16_t(0), uint16_t(1), uint16_t(0xFFFF)})
        frames("framelength-" + Hex(length),
               [&](F& f, uint64_t at) { Put16(f, at + frame_field::kLength, length, big); });
    frames("videoend-huge",
           [&](F& f, uint64_t at) { Put16(f, at + frame_field::kVideoEnd, 0xFFFF, big); });
    frames("areas-reversed", [&](F& f, uint64_t at) {
        Put16(f, at + frame_field::kVideoEnd, 40, big);
        Put16(f, at + frame_field::kAudioEnd, 2, big);
        Put16(f, at + frame_field::kUserDataEnd, 1, big);
    });
    frames("picture-size-huge", [&](F& f, uint64_t at) {
        f[at + frame_field::kWidth] = 0xFF;
        f[at + frame_field::kHeight] = 0xFF;
        Put16(f, at + frame_field::kFlags, 0x80FF, big);
    });
    frames("picture-size-zero", [&](F& f, uint64_t at) {
        f[at + frame_field::kWidth] = 0;
        f[at + frame_field::kHeight] = 0;
    });
    // The payload's first length word: in the payload's own byte order.
    const bool payloadBig = payloadIsBigEndian(map.byteOrder);
    for (uint32_t length : {0u, 0x7FFFFFFFu, 0xFFFFFFFFu})
        frames("payloadlength-" + Hex(length),
               [&](F& f, uint64_t at) { Put32(f, at + kFrameHeaderSize, length, payloadBig); });
    frames("audiotype-every", [&](F& f, uint64_t at) {
        f[at + frame_field::kAudioType] = uint8_t(f[at + frame_field::kAudioType] ^ 0x0F);
    });
    return out;
}

std::vector<Variant> DiskImageVariants(const std::vector<uint8_t>& image, uint32_t seed) {
    if (image.size() < kDiskInfoOffset + kDiskInfoSize) throw std::runtime_error("short image");
    auto info = parseDiskInfo(ByteView(image.data() + kDiskInfoOffset, kDiskInfoSize));
    if (!info) throw std::runtime_error("no DiskInfo");
    const bool big = headerIsBigEndian(info->byteOrder);
    const uint64_t d = kDiskInfoOffset;
    std::vector<Variant> out;
    auto change = [&](const std::string& name, auto edit) {
        Variant v{name, image};
        edit(v.bytes);
        out.push_back(std::move(v));
    };
    using F = std::vector<uint8_t>;
    change("disk-magic", [&](F& f) { f[d + disk_field::kMagic] ^= 0x01; });
    for (uint32_t size : {0u, 512u, 0xFFFFFFFFu, info->blockSize + 512})
        change("disk-blocksize-" + Hex(size),
               [&](F& f) { Put32(f, d + disk_field::kBlockSize, size, big); });
    for (uint64_t base : {uint64_t(0), uint64_t(image.size()), ~uint64_t(0)})
        change("disk-database-" + Hex(base),
               [&](F& f) { Put64(f, d + disk_field::kDataBase, base, big); });
    for (uint64_t at : {uint64_t(0), uint64_t(image.size()), ~uint64_t(0) - 4})
        change("disk-mhsoffset-" + Hex(at),
               [&](F& f) { Put64(f, d + disk_field::kMhsOffset, at, big); });
    for (uint32_t length : {0u, 15u, 0xFFFFFFFFu})
        change("disk-mhslength-" + Hex(length),
               [&](F& f) { Put32(f, d + disk_field::kMhsLength, length, big); });
    for (uint16_t channels : {uint16_t(0), uint16_t(0xFFFF)})
        change("disk-channels-" + Hex(channels),
               [&](F& f) { Put16(f, d + disk_field::kChannels, channels, big); });

    // The MHS slots: every slot claiming the whole time range, and times reversed.
    const uint64_t mhsEnd = std::min<uint64_t>(info->mhsOffset + info->mhsLength, image.size());
    change("mhs-times-huge", [&](F& f) {
        for (uint64_t at = info->mhsOffset; at + kMiniHeaderSize <= mhsEnd; at += kMiniHeaderSize)
            if (f[at + mini_field::kFlags] & 7) Put32(f, at + mini_field::kEndTime, ~0u, big);
    });
    change("mhs-times-reversed", [&](F& f) {
        for (uint64_t at = info->mhsOffset; at + kMiniHeaderSize <= mhsEnd; at += kMiniHeaderSize)
            if (f[at + mini_field::kFlags] & 7) {
                Put32(f, at + mini_field::kStartTime, 0xFFFFFF00u, big);
                Put32(f, at + mini_field::kEndTime, 1000000000u, big);
            }
    });

    // Cuts at the structures, and flips in the sector, the table and the blocks.
    for (uint64_t cut : {uint64_t(0), uint64_t(600), d + kDiskInfoSize, info->mhsOffset,
                         info->mhsOffset + 8, info->dataBase, info->dataBase + info->blockSize / 2,
                         info->dataBase + info->blockSize, uint64_t(image.size() - 1)})
        if (cut < image.size())
            out.push_back({"disk-cut-" + Hex(cut),
                           std::vector<uint8_t>(image.begin(), image.begin() + long(cut))});
    Lcg rng(seed);
    std::vector<Region> blocks;
    for (uint64_t at = info->dataBase; info->blockSize && at + info->blockSize <= image.size();
         at += info->blockSize)
        blocks.push_back({at, info->blockSize});
    AddFlips(out, image, "diskinfo", {{d, 256}}, 8, rng);
    AddFlips(out, image, "mhs", {{info->mhsOffset, mhsEnd - std::min(mhsEnd, info->mhsOffset)}}, 8,
             rng);
    AddFlips(out, image, "blocks", blocks, 10, rng);
    // Block headers at the end of each block.
    std::vector<Region> headers;
    for (const auto& b : blocks)
        headers.push_back({b.start + b.length - kBlockHeaderSize, 64});
    AddFlips(out, image, "diskblockheader", headers, 8, rng);
    return out;
}

} // namespace qm::evidence
