#include "tools/qmtool/cli_args.h"

#include <charconv>
#include <cstdio>
#include <ctime>

namespace qmtool {

std::optional<std::string> ParsedArgs::value(const std::string& name) const {
    auto it = values.find(name);
    if (it == values.end()) return std::nullopt;
    return it->second;
}

std::optional<std::string> parseArgs(int argc, char** argv, int first, const OptionTable& options,
                                     ParsedArgs& out) {
    for (int i = first; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg.size() > 2 && arg.compare(0, 2, "--") == 0) {
            if (options.flags.count(arg)) {
                out.flags.insert(arg);
            } else if (options.valued.count(arg)) {
                if (i + 1 >= argc) return "option " + arg + " needs a value";
                out.values[arg] = argv[++i];
            } else {
                return "unknown option " + arg;
            }
        } else {
            out.positionals.push_back(arg);
        }
    }
    return std::nullopt;
}

namespace {
template <typename T> std::optional<T> parseWhole(const std::string& text) {
    T v{};
    const char* b = text.data();
    const char* e = b + text.size();
    auto [p, ec] = std::from_chars(b, e, v);
    if (ec != std::errc() || p != e || text.empty()) return std::nullopt;
    return v;
}
} // namespace

std::optional<int> parseCamera(const std::string& text) {
    auto v = parseWhole<int>(text);
    if (!v || *v < 1 || *v > 32) return std::nullopt;
    return v;
}

std::optional<uint32_t> parseTime(const std::string& text) {
    if (auto v = parseWhole<uint32_t>(text)) return v;
    int y, mo, d, h, mi, s;
    char tail;
    if (std::sscanf(text.c_str(), "%4d-%2d-%2d %2d:%2d:%2d%c", &y, &mo, &d, &h, &mi, &s, &tail) !=
        6)
        return std::nullopt;
    if (y < 1970 || y > 2105 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 ||
        s > 59 || h < 0 || mi < 0 || s < 0)
        return std::nullopt;
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    time_t t = timegm(&tm);
    if (t < 0 || t > time_t(UINT32_MAX) || tm.tm_mday != d) return std::nullopt;
    return uint32_t(t);
}

std::string formatTime(uint32_t seconds) {
    time_t t = time_t(seconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", tm.tm_year + 1900,
                  tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

} // namespace qmtool
