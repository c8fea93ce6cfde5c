#include "export/disk_export_source.h"

#include "platform/diagnostics.h"

#include <array>
#include <cstring>
#include <new>
#include <vector>

namespace qm {

namespace {

// The same bounds the player's disk open applies: anything beyond them comes
// from a damaged information sector and would cost memory for nothing.
constexpr uint64_t kMaxBlockSize = uint64_t(256) << 20;
constexpr uint64_t kMaxMhsBytes = uint64_t(256) << 20;

std::string ReadError(int32_t result) {
    return std::strerror(ReadErrorCode(result));
}

bool FindInfoSector(IRawDevice& device, DiskExportSource& disk, std::string& error) {
    // A hard disk keeps it in sector 1, a memory card in sector 0x12001.
    for (const uint64_t at : {kDiskInfoOffset, kCardDiskInfoOffset}) {
        std::array<uint8_t, kDiskInfoSize> sector{};
        if (device.Size() && (at > device.Size() || device.Size() - at < sector.size())) continue;
        const int32_t read = ReadAt(sector.data(), at, sector.size(), device);
        if (read < 0) {
            if (at == kDiskInfoOffset) continue; // a card may still have its own
            error = "cannot read the disk's information sector: " + ReadError(read);
            return false;
        }
        if (!isDiskMagic(loadLE32(sector.data()))) continue;
        disk.info = *parseDiskInfo(ByteView(sector.data(), sector.size()));
        disk.infoPosition = at;
        return true;
    }
    error = "no DVR information sector (QmVd) in sector 1 or sector 0x12001";
    return false;
}

bool LoadIndex(IRawDevice& device, DiskExportSource& disk, std::string& error) {
    const DiskInfo& info = disk.info;
    const uint64_t B = info.blockSize;
    if (B <= kBlockHeaderSize || B % kSectorSize != 0 || B > kMaxBlockSize) {
        error = "the information sector gives an impossible block size of " +
                std::to_string(info.blockSize) + " bytes";
        return false;
    }
    const uint64_t size = device.Size(); // 0: unknown, the reads will tell
    if (info.mhsLength < kMiniHeaderSize || info.mhsLength > kMaxMhsBytes ||
        (size && (info.mhsOffset > size || info.mhsLength > size - info.mhsOffset))) {
        error = "the block table (MHS) of " + std::to_string(info.mhsLength) + " bytes at " +
                std::to_string(info.mhsOffset) + " does not lie on the disk";
        return false;
    }
    std::vector<uint8_t> mhs;
    try {
        mhs.resize(info.mhsLength);
    } catch (const std::bad_alloc&) {
        error = "no memory for the block table (MHS)";
        return false;
    }
    const int32_t read = ReadAt(mhs.data(), info.mhsOffset, mhs.size(), device);
    if (read < 0) {
        error = "cannot read the block table (MHS): " + ReadError(read);
        return false;
    }
    uint64_t usableSlots = UINT64_MAX;
    if (size) usableSlots = size > info.dataBase ? (size - info.dataBase) / B : 0;
    disk.index = BuildDiskIndex(ByteView(mhs.data(), mhs.size()), usableSlots);
    if (disk.index.blocks.empty()) {
        error = "the disk holds no recorded block";
        return false;
    }
    return true;
}

} // namespace

std::shared_ptr<const DiskExportSource> LoadDiskForExport(std::shared_ptr<IRawDevice> device,
                                                          std::string& error) {
    if (!device) {
        error = "no device";
        return nullptr;
    }
    auto disk = std::make_shared<DiskExportSource>();
    if (!FindInfoSector(*device, *disk, error) || !LoadIndex(*device, *disk, error)) {
        qmLogAt(6, "QMPlayerEx", "(OpenDiskForExport) %s", error.c_str());
        return nullptr;
    }
    disk->codec = disk->info.codec.value_or(kCodecH264);
    disk->device = std::move(device);
    return disk;
}

std::shared_ptr<const DiskExportSource> OpenDiskForExport(const std::string& path,
                                                          std::string& error) {
    int code = 0;
    auto device = OpenRawDevice(path, &code);
    if (!device) {
        error = std::strerror(code);
        return nullptr;
    }
    return LoadDiskForExport(std::move(device), error);
}

} // namespace qm
