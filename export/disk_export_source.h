#pragma once
// A DVR disk (a block device or an image of one) opened for an export: its own
// read-only device handle, its information sector and its own block index.
// The export never borrows the storage reader's lists, which its threads keep
// changing while the recording plays.

#include "platform/raw_device.h"
#include "storage/disk_index.h"
#include "storage/formats.h"

#include <cstdint>
#include <memory>
#include <string>

namespace qm {

// A failing disk can keep one read in the kernel for minutes; the export
// gives up on a read after this long.
constexpr int64_t kExportDiskReadTimeoutMs = 10000;

struct DiskExportSource {
    std::shared_ptr<IRawDevice> device;
    DiskInfo info;
    uint64_t infoPosition = 0; // sector 1 on a disk, sector 0x12001 on a card
    uint32_t codec = kCodecH264;
    DiskIndex index; // blocks in recording order, each sequence field its slot

    // 1-based camera n is recorded somewhere on the disk.
    bool Records(int channel) const {
        return channel >= 0 && channel < 32 && (index.channelMask >> channel) & 1u;
    }
};

// Opens `path` read-only and loads its index. Null with `error` set (a few
// words for a message) when it is no readable DVR disk.
std::shared_ptr<const DiskExportSource> OpenDiskForExport(const std::string& path,
                                                          std::string& error);
// The same over a device already open (the player's, or a test's).
std::shared_ptr<const DiskExportSource> LoadDiskForExport(std::shared_ptr<IRawDevice> device,
                                                          std::string& error);

} // namespace qm
