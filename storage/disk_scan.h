#pragma once
// Finding a DVR disk's blocks without its block table. The disk's blocks lie
// in a ring from the data base in steps of the block size, and each carries
// its own header (QmBh) in its last sector, so a disk whose MHS is zeroed or
// overwritten can still be read: every slot's header sector is looked at, and
// the blocks found are put in the order they were recorded.
//
// The same pass finds blocks the table does not list (left from before a
// reset, or past the ring's current end): they are kept and counted as
// unindexed.

#include "platform/raw_device.h"
#include "storage/archive_scan.h"
#include "storage/disk_index.h"
#include "storage/formats.h"

#include <atomic>
#include <optional>

namespace qm {

// Whether the table needs the scan: it names no block, or it refuses more
// slots (in use, with impossible times, group or cameras) than it accepts.
bool DiskTableDamaged(const DiskIndex& table);

// Looks at every slot of the ring that lies on the device (or that the MHS
// has, when the device's size is unknown). `mhs` is the table as read, empty
// when it could not be; it tells the blocks that are indexed. `percent`
// (optional) follows the pass. The result's block numbers are slot numbers;
// its damage lists the slots the table names that hold no block header.
std::optional<ArchiveScan> ScanDiskRing(IRawDevice& device, const DiskInfo& info, ByteView mhs,
                                        IndexError& error, std::atomic<int>* percent = nullptr);

// The index the disk reader plays from the scan: the first group's blocks in
// the order recorded (by time, then by the table's sequence where it has one,
// then by slot). The table's slot counts are kept for the log.
DiskIndex DiskIndexFromScan(const ArchiveScan& scan, const DiskIndex& table);

} // namespace qm
