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
    h.codecByte = storedKnown ? stored->codecByte : 0;
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
