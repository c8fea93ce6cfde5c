#include "platform/block_devices.h"

#include <algorithm>
#include <dirent.h>
#include <fstream>

namespace qm {

namespace {

bool AllDigits(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool AllLetters(std::string_view s) {
    return !s.empty() &&
           std::all_of(s.begin(), s.end(), [](char c) { return c >= 'a' && c <= 'z'; });
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

} // namespace

bool IsWholeDiskName(std::string_view name) {
    if (StartsWith(name, "sd")) return AllLetters(name.substr(2));
    if (StartsWith(name, "vd")) return AllLetters(name.substr(2));
    // mmcblk0 is the card; mmcblk0boot0 and mmcblk0rpmb are the chip's own areas.
    if (StartsWith(name, "mmcblk")) return AllDigits(name.substr(6));
    if (StartsWith(name, "nvme")) {
        const std::string_view rest = name.substr(4);
        const size_t n = rest.find('n');
        return n != std::string_view::npos && AllDigits(rest.substr(0, n)) &&
               AllDigits(rest.substr(n + 1));
    }
    return false;
}

std::vector<std::string> ListWholeDisks(const BlockDeviceRoots& roots) {
    std::vector<std::string> names;
    DIR* dir = ::opendir(roots.sysBlock.c_str());
    if (!dir) return names;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (IsWholeDiskName(name)) names.push_back(name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<PhysicalDrive> PhysicalDriveAt(int n, const BlockDeviceRoots& roots) {
    const std::vector<std::string> names = ListWholeDisks(roots);
    if (n < 0 || size_t(n) >= names.size()) return std::nullopt;
    PhysicalDrive drive;
    drive.name = names[size_t(n)];
    drive.path = roots.dev + "/" + drive.name;
    std::ifstream flag(roots.sysBlock + "/" + drive.name + "/removable");
    int removable = 0;
    if (!(flag >> removable)) removable = 0;
    // Cards on an MMC host say they are fixed.
    if (removable || StartsWith(drive.name, "mmcblk")) drive.medium = MediumKind::kRemovable;
    return drive;
}

} // namespace qm
