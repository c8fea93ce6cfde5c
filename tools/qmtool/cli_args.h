#pragma once
// Command-line parsing for qmtool: one command word, its options, one SOURCE.

#include "platform/recorded_time.h"

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qmtool {

struct OptionTable {
    std::set<std::string> flags;  // options without a value, e.g. "--json"
    std::set<std::string> valued; // options that take a value, e.g. "--channel"
};

struct ParsedArgs {
    std::string command;
    std::set<std::string> flags;
    std::map<std::string, std::string> values;
    std::vector<std::string> positionals;
    // The whole command line as typed, the program's name first.
    std::vector<std::string> commandLine;

    bool has(const std::string& flag) const { return flags.count(flag) != 0; }
    std::optional<std::string> value(const std::string& name) const;
};

// Parses argv[first..argc): flags, "--name value" and "--name=value".
// Returns an error text for a usage error.
std::optional<std::string> parseArgs(int argc, char** argv, int first, const OptionTable& options,
                                     ParsedArgs& out);

// A camera number 1..32 as the user writes it; nullopt when it is anything else.
std::optional<int> parseCamera(const std::string& text);

// "1, 2, 3, 4": the cameras of a channel mask, numbered from 1.
std::string CameraListText(uint32_t channelMask);
// "camera 7 is not in this recording (recorded: 1, 2, 3, 4)"
std::string NotRecordedText(int camera, uint32_t channelMask);

// What a time option accepts, for usage messages.
constexpr char kTimeForms[] =
    "\"YYYY-MM-DD HH:MM:SS[.mmm]\" (as the player shows it), the same with 'T', "
    "epoch seconds, or +SECONDS from the start";

// The extension of a file name in lower case, without the dot ("" without one).
std::string LowerExtension(const std::string& path);

} // namespace qmtool
