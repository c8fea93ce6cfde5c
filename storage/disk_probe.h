#pragma once
// Finding the DVR disks and memory cards attached to the computer, for the
// Load menu and `qmtool disks`: a drive is a DVR drive when its information
// sector (sector 1 on a hard disk, sector 0x12001 on a card) starts with the
// QmVd marker in either byte order.

#include "platform/block_devices.h"
#include "platform/raw_device.h"

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace qm {

enum ProbeResult : int {
    kProbeDvrDrive = 0,
    kProbeCannotOpen = 1,
    kProbeNoGeometry = 2,  // the size could not be read
    kProbeWrongMedium = 3, // neither a disk, a card nor an image of one
    kProbeNoMarker = 4,
};

// Drive kinds; the probe reports kDriveKindCard for a card and
// kDriveKindDisk for a hard disk. The Load menu keeps the four kinds.
constexpr int kDriveKindCard = 560;
constexpr int kDriveKindDisk = 2048;
bool IsDvrDriveKind(int kind);

struct DriveProbe {
    int result = kProbeCannotOpen;
    int kind = -1;
    std::array<uint8_t, 16> info{}; // bytes 192 to 207 of the information sector
    uint64_t sectors = 0;           // of 512 bytes
    float sizeGB = 0;               // 10^9 bytes
};

// 512-byte sectors in gigabytes of 10^9 bytes; 64-bit, so disks above 2 TiB
// keep their size.
float GigabytesOfSectors(uint64_t sectors);

// Probes an open device. An image is taken as a disk when its sector 1 holds
// the marker and as a card when only sector 0x12001 does.
DriveProbe ProbeRawDevice(IRawDevice& device, MediumKind medium);
DriveProbe ProbePhysicalDrive(const std::string& path);
// Probes drive n (the n-th whole disk); kProbeCannotOpen when there is none.
DriveProbe ProbeDriveNumber(int drive, const BlockDeviceRoots& roots = {});

constexpr int kMaxDvrDrives = 16;

// One DVR drive of the Load menu.
struct DiskEntry {
    int drive = 0; // n of drive n
    float sizeGB = 0;
    int kind = kDriveKindDisk;
};

using DriveProber = std::function<DriveProbe(int drive)>;
// Drives 0 to 15 in order, keeping those the probe finds to be DVR drives.
std::vector<DiskEntry> FindDvrDrives(const DriveProber& probe);
std::vector<DiskEntry> FindDvrDrives(const BlockDeviceRoots& roots = {});

// "SD #01\t7.9 GB", "HDD #01\t2000.4 GB": cards and disks numbered apart.
std::vector<std::string> DriveMenuLabels(const std::vector<DiskEntry>& drives);

} // namespace qm
