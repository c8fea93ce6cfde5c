#include "storage/recovered_archive.h"

#include "storage/file_reader.h"

#include <algorithm>
#include <array>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <tuple>

namespace qm {

namespace {

using FileKey = std::tuple<dev_t, ino_t, off_t>;

struct Remembered {
    std::shared_ptr<const ArchiveScan> scan;
    uint64_t fingerprint = 0;
};

std::mutex g_lock;
std::map<FileKey, Remembered> g_scans;

// What the scan's result rests on: the file's last sector and, for every
// block found, its header sector and its first frame header. A file written
// again in place (a test's variants, a copy finished later) within the
// clock's resolution keeps its size and times; these bytes tell it apart.
uint64_t Fingerprint(int fd, uint64_t fileLength, const ArchiveScan& scan) {
    uint64_t h = 1469598103934665603ull;
    auto mix = [&](uint64_t at, size_t length) {
        std::array<uint8_t, kSectorSize> bytes{};
        length = std::min<size_t>(length, bytes.size());
        if (at > fileLength || fileLength - at < length || !ReadExact(fd, at, bytes.data(), length))
            length = 0;
        for (size_t i = 0; i < length; ++i)
            h = (h ^ bytes[i]) * 1099511628211ull;
        h = (h ^ length) * 1099511628211ull;
    };
    mix(fileLength - std::min<uint64_t>(fileLength, kSectorSize), kSectorSize);
    const uint64_t B = scan.blockSize;
    for (const ScannedBlock& block : scan.blocks) {
        mix((uint64_t(block.number) + 1) * B - kBlockHeaderSize, kBlockHeaderSize);
        mix(uint64_t(block.number) * B, kFrameHeaderSize);
    }
    return h;
}

} // namespace

bool StoredIndexUsable(int fd, const ArchiveHeader& stored, uint64_t fileLength) {
    IndexError error;
    if (!CheckArchiveLayout(stored, fileLength, error)) return false;
    const auto blocks = ReadStoredArchiveBlocks(fd, stored, fileLength, kEveryGroup, error);
    if (!blocks) return false;
    // An archive without blocks says so itself; a table whose every entry is
    // empty or without a time is a damaged one.
    if (stored.miniHeaderCount == 0) return true;
    return std::any_of(blocks->begin(), blocks->end(), [](const ArchiveBlock& b) {
        return b.mini.startTime != 0 && b.mini.startTime <= b.mini.endTime;
    });
}

std::shared_ptr<const ArchiveScan> ScanOf(int fd, uint64_t fileLength) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return nullptr;
    const FileKey key{st.st_dev, st.st_ino, st.st_size};
    Remembered known;
    {
        std::lock_guard lock(g_lock);
        if (const auto found = g_scans.find(key); found != g_scans.end()) known = found->second;
    }
    if (known.scan && known.scan->fileLength == fileLength &&
        Fingerprint(fd, fileLength, *known.scan) == known.fingerprint)
        return known.scan;
    // Scanned outside the lock: two readers opening the file at once may
    // both scan it, and get the same result.
    IndexError error;
    auto scan = ScanArchive(fd, fileLength, error);
    if (!scan) return nullptr;
    auto shared = std::make_shared<const ArchiveScan>(std::move(*scan));
    const uint64_t fingerprint = Fingerprint(fd, fileLength, *shared);
    std::lock_guard lock(g_lock);
    g_scans[key] = Remembered{shared, fingerprint};
    return shared;
}

namespace {

// The byte after a start code at `at`, when one lies there.
std::optional<uint8_t> AfterStartCode(ByteView video, size_t at) {
    const auto bytes = video.sub(at, 5);
    if (!bytes) return std::nullopt;
    const uint8_t* b = bytes->data();
    if (b[0] != 0 || b[1] != 0) return std::nullopt;
    if (b[2] == 1) return b[3];
    if (b[2] == 0 && b[3] == 1) return b[4];
    return std::nullopt;
}

// An H.264 unit a stream can begin with (parameter sets, a delimiter, a
// slice...), not the zeros a wrapper's header is padded with.
bool H264UnitAt(ByteView video, size_t at) {
    const auto nal = AfterStartCode(video, at);
    return nal && (*nal & 0x80) == 0 && (*nal & 0x1F) >= 1 && (*nal & 0x1F) <= 23;
}

// An MPEG-4 Part 2 start: visual object sequence, visual object, object
// layer or picture.
bool Mpeg4StartAt(ByteView video, size_t at) {
    const auto code = AfterStartCode(video, at);
    return code && (*code <= 0x2F || *code == 0xB0 || *code == 0xB5 || *code == 0xB6);
}

// The recording's video coding told by its first key frame, for an archive
// whose header no longer names it: JPEG's start marker, or where the stream's
// first start code lies behind the prefix or chip section each coding adds.
uint8_t GuessCodecByte(int fd, const ArchiveScan& scan) {
    constexpr uint8_t kH264 = 0x20;
    if (scan.blocks.empty()) return kH264;
    const ScannedBlock& first = scan.blocks.front();
    const auto geometry =
        blockGeometry(first.number, scan.blockSize, first.header.iSectors, first.header.pSectors);
    if (!geometry) return kH264;
    // The first frames are enough; a block's first key frame comes early.
    std::vector<uint8_t> data(size_t(std::min<uint64_t>(geometry->dataLength, 1u << 20)));
    if (!ReadExact(fd, geometry->dataPosition(), data.data(), data.size())) return kH264;
    const ByteView all(data.data(), data.size());
    for (size_t at = 0; at + kFrameHeaderSize <= data.size();) {
        const auto frame = parseFrameHeader(*all.sub(at, kFrameHeaderSize), scan.byteOrder);
        if (!frame || !frame->hasMarker() || frame->length == 0) break;
        const size_t payloadAt = at + kFrameHeaderSize;
        const auto payload =
            all.sub(payloadAt, std::min<size_t>(frame->payloadBytes(), data.size() - payloadAt));
        if (frame->isKey() && payload) {
            if (frame->isMjpeg()) return 0x40;
            const FrameAreas areas = locateFrameAreas(*frame, *payload, scan.byteOrder);
            const ByteView video = areas.video.bytes;
            if (areas.video.present && areas.video.valid && video.size() >= 4) {
                if (video.data()[0] == 0xFF && video.data()[1] == 0xD8) return 0x40;
                if (H264UnitAt(video, 0)) return kH264;
                if (H264UnitAt(video, kChipPrefixHISI)) return 0x21;
                if (Mpeg4StartAt(video, kChipPrefixSOLO)) return 0x10;
                if (H264UnitAt(video, kChipSectionSize)) return 0x30;
                return kH264;
            }
        }
        at += frame->frameBytes();
    }
    return kH264;
}

} // namespace

std::optional<ArchiveHeader> RecoveredArchiveHeader(int fd, uint64_t fileLength,
                                                    const std::optional<ArchiveHeader>& stored) {
    const auto scan = ScanOf(fd, fileLength);
    if (!scan || scan->blocks.empty()) return std::nullopt;
    ArchiveHeader h;
    h.magic = kMagicArchive;
    h.byteOrder = scan->byteOrder;
    // Only a header that is still an archive header is trusted for what the
    // blocks do not tell.
    const bool storedKnown = stored && stored->hasMagic();
    h.codecByte = storedKnown ? stored->codecByte : GuessCodecByte(fd, *scan);
    h.codec = archiveCodecCode(h.codecByte);
    h.timeOffsetUnits = storedKnown ? stored->timeOffsetUnits : 0;
    h.blockSize = scan->blockSize;
    h.startTime = UINT32_MAX;
    for (const ScannedBlock& block : scan->blocks) {
        h.channelMask |= block.channelMask;
        if (block.header.startTime > block.header.endTime) continue;
        h.startTime = std::min(h.startTime, block.header.startTime);
        h.endTime = std::max(h.endTime, block.header.endTime);
    }
    if (h.startTime > h.endTime) h.startTime = h.endTime;
    // No table: CheckArchiveLayout finds an empty one at the file's end.
    h.miniHeaderCount = 0;
    h.miniTableOffset = fileLength;
    h.recovered = true;
    h.recoveredBlocks = uint32_t(scan->blocks.size());
    return h;
}

std::optional<std::vector<ArchiveBlock>> RecoveredArchiveBlocks(int fd, uint64_t fileLength,
                                                                int group) {
    const auto scan = ScanOf(fd, fileLength);
    if (!scan) return std::nullopt;
    std::vector<ArchiveBlock> blocks;
    for (const ScannedBlock& block : scan->blocks) {
        if (group != kEveryGroup && block.group != group) continue;
        ArchiveBlock b;
        b.number = block.number;
        b.mini.flags = uint8_t(std::max<int>(block.header.type & 7, 1));
        b.mini.group = uint8_t(block.group);
        b.mini.channelMask = block.header.channelMask;
        b.mini.startTime = block.header.startTime;
        b.mini.endTime = block.header.endTime;
        blocks.push_back(b);
    }
    return blocks;
}

} // namespace qm
