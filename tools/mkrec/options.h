#pragma once
// Command-line parsing for mkrec. Kept in the library so the same rules are
// used by the program and checked by the tests.

#include "tools/mkrec/disk_image_writer.h"
#include "tools/mkrec/recording_plan.h"

#include <optional>
#include <string>
#include <vector>

namespace qm::mkrec {

struct ParsedOptions {
    RecordingPlan plan;
    std::string outPath;
    bool help = false;
    // Set when a disk image is written instead of an archive.
    std::optional<DiskImageOptions> disk;
};

// Returns the options, or sets `error` to a one-line message and returns nullopt.
std::optional<ParsedOptions> parseOptions(const std::vector<std::string>& args, std::string& error);

// Checks the combination of settings (sizes, block size, audio channels...).
bool validatePlan(const RecordingPlan& plan, std::string& error);

const char* usageText();

} // namespace qm::mkrec
