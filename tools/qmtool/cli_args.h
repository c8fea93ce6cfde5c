#pragma once
// Command-line parsing for qmtool: one command word, its options, one SOURCE.

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace qmtool {

struct OptionTable {
    std::set<std::string> flags;  // options without a value, e.g. "--json"
    std::set<std::string> valued; // options that take the next argument, e.g. "--channel"
};

struct ParsedArgs {
    std::string command;
    std::set<std::string> flags;
    std::map<std::string, std::string> values;
    std::vector<std::string> positionals;

    bool has(const std::string& flag) const { return flags.count(flag) != 0; }
    std::optional<std::string> value(const std::string& name) const;
};

// Parses argv[first..argc). Returns an error text for a usage error.
std::optional<std::string> parseArgs(int argc, char** argv, int first, const OptionTable& options,
                                     ParsedArgs& out);

// A camera number 1..32 as the user writes it; nullopt when it is anything else.
std::optional<int> parseCamera(const std::string& text);

// UTC seconds since 1970, given either as a number or as "YYYY-MM-DD HH:MM:SS" (UTC).
std::optional<uint32_t> parseTime(const std::string& text);

// "YYYY-MM-DD HH:MM:SS" for UTC seconds.
std::string formatTime(uint32_t seconds);

} // namespace qmtool
