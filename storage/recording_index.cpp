#include "storage/recording_index.h"

#include "storage/disk_scan.h"
#include "storage/file_reader.h"
#include "storage/recovered_archive.h"

#include <cerrno>
#include <cstring>
#include <new>
#include <unistd.h>

namespace qm {

namespace {

bool Fail(IndexError& error, IndexFault fault, std::string text, int code = 0) {
    error.fault = fault;
    error.code = code;
    error.text = std::move(text);
    return false;
}

} // namespace

std::optional<ArchiveHeader> ReadArchiveHeader(int fd, uint64_t fileLength, IndexError& error) {
    auto stored = ReadStoredArchiveHeader(fd, fileLength, error);
    if (stored && stored->hasMagic() && StoredIndexUsable(fd, *stored, fileLength)) return stored;
    if (auto recovered = RecoveredArchiveHeader(fd, fileLength, stored)) return recovered;
    return stored;
}

std::optional<ArchiveHeader> ReadStoredArchiveHeader(int fd, uint64_t fileLength,
                                                     IndexError& error) {
    std::array<uint8_t, kArchiveHeaderSize> bytes{};
    if (fileLength < bytes.size() ||
        !ReadExact(fd, fileLength - bytes.size(), bytes.data(), bytes.size())) {
        Fail(error, IndexFault::kHeaderUnreadable, "the archive header cannot be read");
        return std::nullopt;
    }
    return parseArchiveHeader(ByteView(bytes.data(), bytes.size()));
}

std::optional<ArchiveHeader> ReadArchiveHeader(const std::string& path, IndexError& error) {
    const int fd = OpenReadOnly(path);
    if (fd < 0) {
        const int code = errno;
        Fail(error, IndexFault::kCannotOpen, std::strerror(code), code);
        return std::nullopt;
    }
    auto header = ReadArchiveHeader(fd, FileLength(fd), error);
    ::close(fd);
    if (header && !header->hasMagic()) {
        Fail(error, IndexFault::kNotRecording, kArchiveFormatError);
        return std::nullopt;
    }
    return header;
}

bool CheckArchiveLayout(const ArchiveHeader& header, uint64_t fileLength, IndexError& error) {
    // A block size that is not whole sectors or a table that does not lie
    // inside the file means an archive we cannot read: refuse it rather than guess.
    const uint64_t B = header.blockSize;
    if (B == 0 || B % kSectorSize != 0 || B > fileLength || B > kMaxBlockSize)
        return Fail(error, IndexFault::kBlockSize, "the archive's block size is damaged");
    const uint64_t tableBytes = uint64_t(header.miniHeaderCount) * kMiniHeaderSize;
    if (header.miniTableOffset > fileLength || tableBytes > fileLength - header.miniTableOffset)
        return Fail(error, IndexFault::kTablePlace,
                    "the archive's block table lies outside the file");
    return true;
}

std::optional<std::vector<ArchiveBlock>> ReadArchiveBlocks(int fd, const ArchiveHeader& header,
                                                           uint64_t fileLength, int group,
                                                           IndexError& error) {
    if (header.recovered) return RecoveredArchiveBlocks(fd, fileLength, group);
    return ReadStoredArchiveBlocks(fd, header, fileLength, group, error);
}

std::optional<std::vector<ArchiveBlock>> ReadStoredArchiveBlocks(int fd,
                                                                 const ArchiveHeader& header,
                                                                 uint64_t fileLength, int group,
                                                                 IndexError& error) {
    if (!CheckArchiveLayout(header, fileLength, error)) return std::nullopt;
    const uint64_t count = header.miniHeaderCount;
    const uint64_t B = header.blockSize;
    std::vector<uint8_t> table;
    try {
        table.resize(count * kMiniHeaderSize); // no longer than the file, checked above
    } catch (const std::bad_alloc&) {
        Fail(error, IndexFault::kNoMemory, "no memory for the archive's block table");
        return std::nullopt;
    }
    if (!table.empty() && !ReadExact(fd, header.miniTableOffset, table.data(), table.size())) {
        Fail(error, IndexFault::kTableUnreadable, "the archive's block table cannot be read");
        return std::nullopt;
    }
    const bool oneGroup = header.groups() == 1;
    const ByteView all(table.data(), table.size());
    std::vector<ArchiveBlock> blocks;
    for (uint64_t i = 0; i < count; ++i) {
        const auto bytes = all.sub(size_t(i * kMiniHeaderSize), kMiniHeaderSize);
        auto mini = bytes ? parseMiniHeader(*bytes, header.byteOrder) : std::nullopt;
        if (!mini) break;
        // Recorders leave the byte undefined when there is one group.
        if (oneGroup) mini->group = 0;
        if (group == kEveryGroup ? mini->group >= kMaxGroups : mini->group != group) continue;
        // A block that does not lie inside the file cannot be loaded; keeping
        // no entry for it bounds the index by the file's size.
        if ((i + 1) * B > fileLength) continue;
        blocks.push_back({uint32_t(i), *mini});
    }
    return blocks;
}

std::optional<DiskInfoSector> FindDiskInfo(IRawDevice& device, IndexError& error) {
    const uint64_t size = device.Size(); // 0: unknown, the reads will tell
    int sectorOneError = 0;
    uint32_t sectorOneWord = 0;
    // A hard disk keeps its information sector in sector 1; a memory card
    // keeps it in sector 0x12001, after the area its file system uses.
    for (const uint64_t at : {kDiskInfoOffset, kCardDiskInfoOffset}) {
        DiskInfoSector found;
        if (size && (at > size || size - at < found.bytes.size())) continue;
        const int32_t read = ReadAt(found.bytes.data(), at, found.bytes.size(), device);
        if (read < 0) {
            if (at == kDiskInfoOffset) sectorOneError = ReadErrorCode(read);
            continue;
        }
        const uint32_t word = loadLE32(found.bytes.data());
        if (at == kDiskInfoOffset) sectorOneWord = word;
        if (!isDiskMagic(word)) continue;
        found.info = *parseDiskInfo(ByteView(found.bytes.data(), found.bytes.size()));
        found.position = at;
        return found;
    }
    // A card whose sector 1 cannot be read may still have its own sector; only
    // when neither is found does the read error explain why.
    if (sectorOneError)
        Fail(error, IndexFault::kHeaderUnreadable,
             std::string("cannot read the disk's information sector: ") +
                 std::strerror(sectorOneError),
             sectorOneError);
    else
        Fail(error, IndexFault::kNotRecording,
             "no DVR information sector (QmVd) in sector 1 or sector 0x12001");
    error.marker = sectorOneWord;
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> ReadDiskTable(IRawDevice& device, const DiskInfo& info,
                                                  IndexError& error) {
    const uint64_t size = device.Size(); // 0: unknown, the read will tell
    if (info.mhsLength < kMiniHeaderSize || info.mhsLength > kMaxMhsBytes ||
        (size && (info.mhsOffset > size || info.mhsLength > size - info.mhsOffset))) {
        Fail(error, IndexFault::kTablePlace,
             "the block table (MHS) of " + std::to_string(info.mhsLength) + " bytes at " +
                 std::to_string(info.mhsOffset) + " does not lie on the disk");
        return std::nullopt;
    }
    std::vector<uint8_t> mhs;
    try {
        mhs.resize(info.mhsLength);
    } catch (const std::bad_alloc&) {
        Fail(error, IndexFault::kNoMemory, "no memory for the block table (MHS)");
        return std::nullopt;
    }
    const int32_t read = ReadAt(mhs.data(), info.mhsOffset, mhs.size(), device);
    if (read < 0) {
        Fail(error, IndexFault::kTableUnreadable,
             std::string("cannot read the block table (MHS): ") +
                 std::strerror(ReadErrorCode(read)),
             ReadErrorCode(read));
        return std::nullopt;
    }
    return mhs;
}

bool ReadDiskIndex(IRawDevice& device, const DiskInfo& info, DiskIndex& index, IndexError& error) {
    index = DiskIndex{};
    const uint64_t B = info.blockSize;
    if (B <= kBlockHeaderSize || B % kSectorSize != 0 || B > kMaxBlockSize)
        return Fail(error, IndexFault::kBlockSize,
                    "the information sector gives an impossible block size of " +
                        std::to_string(info.blockSize) + " bytes");
    const auto mhs = ReadDiskTable(device, info, error);
    if (!mhs && error.fault == IndexFault::kNoMemory) return false;
    const ByteView table = mhs ? ByteView(mhs->data(), mhs->size()) : ByteView();
    const uint64_t size = device.Size();
    uint64_t usableSlots = UINT64_MAX;
    if (size) usableSlots = size > info.dataBase ? (size - info.dataBase) / B : 0;
    index = BuildDiskIndex(table, usableSlots);
    if (mhs && !DiskTableDamaged(index)) return true;
    // The blocks carry their own headers: a table that is gone or damaged
    // is rebuilt from them.
    IndexError scanError;
    if (const auto scan = ScanDiskRing(device, info, table, scanError)) {
        DiskIndex found = DiskIndexFromScan(*scan, index);
        if (!found.blocks.empty()) {
            index = std::move(found);
            error = IndexError{};
            return true;
        }
    }
    if (!mhs) return false; // the table's own failure says why
    return Fail(error, IndexFault::kNoBlock, "the disk holds no recorded block");
}

std::span<const MiniHeader> DiskBlocksOfGroup(const DiskIndex& index, int group) {
    if (group != 0) return {};
    return index.blocks;
}

} // namespace qm
