// qmtool disks: the DVR disks and memory cards attached to the computer, as
// the player's Load menu lists them.

#include "storage/disk_probe.h"
#include "tools/qmtool/commands.h"

#include <cstdio>
#include <string>

namespace qmtool {

namespace {

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else if (c == '\t')
            out += "\\t";
        else if (static_cast<unsigned char>(c) < 0x20)
            out += ' ';
        else
            out += c;
    }
    return out + "\"";
}

} // namespace

int RunDisks(const ParsedArgs& args) {
    if (!args.positionals.empty()) return UsageError("disks takes no SOURCE");
    const std::vector<qm::DiskEntry> drives = qm::FindDvrDrives();
    const std::vector<std::string> labels = qm::DriveMenuLabels(drives);
    const bool json = args.has("--json");
    if (json) std::printf("[");
    for (size_t i = 0; i < drives.size(); ++i) {
        const qm::DiskEntry& d = drives[i];
        const auto physical = qm::PhysicalDriveAt(d.drive);
        const std::string device = physical ? physical->path : "";
        if (json) {
            std::printf("%s{\"drive\":%d,\"device\":%s,\"kind\":%d,\"card\":%s,\"size_gb\":%.1f,"
                        "\"label\":%s}",
                        i ? "," : "", d.drive, JsonString(device).c_str(), d.kind,
                        d.kind == qm::kDriveKindCard ? "true" : "false", double(d.sizeGB),
                        JsonString(labels[i]).c_str());
        } else {
            std::string label = labels[i];
            const auto tab = label.find('\t');
            if (tab != std::string::npos) label.replace(tab, 1, "  ");
            std::printf("%-24s %s\n", label.c_str(), device.c_str());
        }
    }
    if (json)
        std::printf("]\n");
    else if (drives.empty())
        std::printf("no DVR disk or card found\n");
    return std::fflush(stdout) == 0 ? 0 : Fail("cannot write the listing");
}

} // namespace qmtool
