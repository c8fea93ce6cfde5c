// qmtool disks: the DVR disks and memory cards attached to the computer, as
// the player's Load menu lists them.

#include "storage/disk_probe.h"
#include "tools/qmtool/commands.h"
#include "tools/qmtool/run_summary.h"

#include <cmath>
#include <cstdio>
#include <string>

namespace qmtool {

int RunDisks(const ParsedArgs& args) {
    if (!args.positionals.empty()) return UsageError("disks takes no SOURCE");
    const std::vector<qm::DiskEntry> drives = qm::FindDvrDrives();
    const std::vector<std::string> labels = qm::DriveMenuLabels(drives);
    const bool json = args.has("--json");
    Json list = Json::array();
    for (size_t i = 0; i < drives.size(); ++i) {
        const qm::DiskEntry& d = drives[i];
        const auto physical = qm::PhysicalDriveAt(d.drive);
        const std::string device = physical ? physical->path : "";
        if (json) {
            list.push_back({{"drive", d.drive},
                            {"device", device},
                            {"kind", d.kind},
                            {"card", d.kind == qm::kDriveKindCard},
                            {"size_gb", std::round(double(d.sizeGB) * 10) / 10},
                            {"label", labels[i]}});
        } else {
            std::string label = labels[i];
            const auto tab = label.find('\t');
            if (tab != std::string::npos) label.replace(tab, 1, "  ");
            std::printf("%-24s %s\n", label.c_str(), device.c_str());
        }
    }
    if (json)
        std::printf("%s\n", Dump(list).c_str());
    else if (drives.empty())
        std::printf("no DVR disk or card found\n");
    return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the listing");
}

} // namespace qmtool
