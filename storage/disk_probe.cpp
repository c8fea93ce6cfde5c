#include "storage/disk_probe.h"

#include "storage/formats.h"

#include <cstdio>
#include <cstring>

namespace qm {

namespace {

constexpr double kSectorsPerGigabyte = 1953125.0; // 10^9 / 512

bool MarkerAt(IRawDevice& device, uint64_t offset, std::array<uint8_t, kDiskInfoSize>& sector) {
    if (device.Size() && (offset > device.Size() || device.Size() - offset < kDiskInfoSize))
        return false;
    if (ReadAt(sector.data(), offset, sector.size(), device) < 0) return false;
    return isDiskMagicAnyOrder(loadLE32(sector.data()));
}

} // namespace

bool IsDvrDriveKind(int kind) {
    return kind == 512 || kind == kDriveKindCard || kind == 1024 || kind == kDriveKindDisk;
}

float GigabytesOfSectors(uint64_t sectors) {
    return float(double(sectors) / kSectorsPerGigabyte);
}

DriveProbe ProbeRawDevice(IRawDevice& device, MediumKind medium) {
    DriveProbe probe;
    if (medium == MediumKind::kOther) {
        probe.result = kProbeWrongMedium;
        return probe;
    }
    if (device.Size() == 0) {
        probe.result = kProbeNoGeometry;
        return probe;
    }
    probe.sectors = device.Size() / kSectorSize;
    probe.sizeGB = GigabytesOfSectors(probe.sectors);

    std::array<uint8_t, kDiskInfoSize> sector{};
    bool found = false;
    if (medium == MediumKind::kRemovable) {
        found = MarkerAt(device, kCardDiskInfoOffset, sector);
        probe.kind = kDriveKindCard;
    } else {
        found = MarkerAt(device, kDiskInfoOffset, sector);
        probe.kind = kDriveKindDisk;
        if (!found && medium == MediumKind::kImage) {
            found = MarkerAt(device, kCardDiskInfoOffset, sector);
            probe.kind = kDriveKindCard;
        }
    }
    if (!found) {
        probe.kind = -1;
        probe.result = kProbeNoMarker;
        return probe;
    }
    std::memcpy(probe.info.data(), sector.data() + 192, probe.info.size());
    probe.result = kProbeDvrDrive;
    return probe;
}

DriveProbe ProbePhysicalDrive(const std::string& path) {
    auto device = OpenRawDevice(path);
    if (!device) return DriveProbe{};
    return ProbeRawDevice(*device, MediumOfPath(path));
}

DriveProbe ProbeDriveNumber(int drive, const BlockDeviceRoots& roots) {
    const auto physical = PhysicalDriveAt(drive, roots);
    if (!physical) return DriveProbe{};
    auto device = OpenRawDevice(physical->path);
    if (!device) return DriveProbe{};
    return ProbeRawDevice(*device, physical->medium);
}

std::vector<DiskEntry> FindDvrDrives(const DriveProber& probe) {
    std::vector<DiskEntry> drives;
    for (int n = 0; n < kMaxDvrDrives; ++n) {
        const DriveProbe p = probe(n);
        if (p.result == kProbeDvrDrive && IsDvrDriveKind(p.kind))
            drives.push_back({n, p.sizeGB, p.kind});
    }
    return drives;
}

std::vector<DiskEntry> FindDvrDrives(const BlockDeviceRoots& roots) {
    return FindDvrDrives([&roots](int n) { return ProbeDriveNumber(n, roots); });
}

std::vector<std::string> DriveMenuLabels(const std::vector<DiskEntry>& drives) {
    std::vector<std::string> labels;
    int cards = 0, disks = 0;
    for (const DiskEntry& d : drives) {
        const bool card = d.kind == kDriveKindCard;
        char text[64];
        std::snprintf(text, sizeof text, card ? "SD #%02d\t%.1f GB" : "HDD #%02d\t%.1f GB",
                      card ? ++cards : ++disks, double(d.sizeGB));
        labels.push_back(text);
    }
    return labels;
}

} // namespace qm
