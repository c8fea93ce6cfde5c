// A DVR disk held in memory: the probe's markers, the information sector,
// the MHS table built into the disk's block index, the ring scanned for its
// blocks, and the disk opened by the storage reader and played forward for a
// while (the frames taken count as delivered).

#include "fuzz/fuzz_input.h"
#include "fuzz/memory_device.h"
#include "fuzz/reader_drive.h"
#include "storage/disk_index.h"
#include "storage/disk_probe.h"
#include "storage/disk_scan.h"
#include "storage/formats.h"
#include "storage/parse_index.h"

#include <cstdint>
#include <memory>

using namespace qm;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    auto device = std::make_shared<fuzz::MemoryDevice>(data, size);
    ProbeRawDevice(*device, MediumKind::kImage);

    ByteView all(data, size);
    if (auto sector = all.sub(kDiskInfoOffset, kDiskInfoSize)) {
        if (auto info = parseDiskInfo(*sector)) {
            if (info->mhsOffset <= size && info->mhsLength <= size - info->mhsOffset) {
                const uint64_t slots = info->blockSize && info->dataBase <= size
                                           ? (size - info->dataBase) / info->blockSize
                                           : 0;
                DiskIndex index =
                    BuildDiskIndex(ByteView(data + info->mhsOffset, info->mhsLength), slots);
                if (index.blocks.size() > index.slotCount) __builtin_trap();
                // The ring scan a damaged table falls back to.
                IndexError error;
                const ByteView table(data + info->mhsOffset, info->mhsLength);
                if (const auto scan = ScanDiskRing(*device, *info, table, error))
                    if (DiskIndexFromScan(*scan, index).blocks.size() > scan->blocks.size())
                        __builtin_trap();
            }
        }
    }

    CQMParseIndex reader;
    reader.SetDiskReadTimeouts(2000, 2000);
    if (reader.OpenDiskDevice(device, "fuzz-disk")) {
        fuzz::NoteDelivered(fuzz::DrainForward(reader, 300));
        reader.CloseFile();
    }
    return 0;
}
