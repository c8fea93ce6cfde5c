#pragma once
// The computer's whole disks, numbered as DVR drives are: drive n is the n-th
// whole-disk block device listed under /sys/block (SCSI/SATA/USB disks sd*,
// NVMe namespaces nvme*n*, memory cards mmcblk*, virtual disks vd*), sorted by
// name. Partitions, loop and RAM devices, optical drives and device-mapper
// volumes are never DVR drives and are left out.

#include "platform/raw_device.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

// Where the system lists block devices and where their nodes are; tests point
// these at prepared trees.
struct BlockDeviceRoots {
    std::string sysBlock = "/sys/block";
    std::string dev = "/dev";
};

bool IsWholeDiskName(std::string_view name);

// Names of the whole disks, sorted.
std::vector<std::string> ListWholeDisks(const BlockDeviceRoots& roots = {});

struct PhysicalDrive {
    std::string name; // "sdb"
    std::string path; // "/dev/sdb"
    MediumKind medium = MediumKind::kFixed;
};
// Drive n, or nullopt when there are not that many disks.
std::optional<PhysicalDrive> PhysicalDriveAt(int n, const BlockDeviceRoots& roots = {});

} // namespace qm
