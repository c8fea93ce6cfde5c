#include "export/disk_export_source.h"

#include "platform/diagnostics.h"
#include "storage/recording_index.h"

#include <cstring>

namespace qm {

std::shared_ptr<const DiskExportSource> LoadDiskForExport(std::shared_ptr<IRawDevice> device,
                                                          std::string& error) {
    if (!device) {
        error = "no device";
        return nullptr;
    }
    auto disk = std::make_shared<DiskExportSource>();
    IndexError why;
    const auto sector = FindDiskInfo(*device, why);
    if (sector) {
        disk->info = sector->info;
        disk->infoPosition = sector->position;
    }
    if (!sector || !ReadDiskIndex(*device, disk->info, disk->index, why)) {
        error = why.text;
        qmLogAt(6, log_tag::kPlayer, "(OpenDiskForExport) %s", error.c_str());
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
