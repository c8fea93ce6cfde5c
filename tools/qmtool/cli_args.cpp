#include "tools/qmtool/cli_args.h"

#include "storage/formats.h"

#include <algorithm>
#include <cctype>
#include <charconv>

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
            const auto equals = arg.find('=');
            const std::string name = arg.substr(0, equals);
            if (options.flags.count(name)) {
                if (equals != std::string::npos) return "option " + name + " takes no value";
                out.flags.insert(name);
            } else if (options.valued.count(name)) {
                if (equals != std::string::npos) {
                    out.values[name] = arg.substr(equals + 1);
                } else {
                    if (i + 1 >= argc) return "option " + name + " needs a value";
                    out.values[name] = argv[++i];
                }
            } else {
                return "unknown option " + name;
            }
        } else {
            out.positionals.push_back(arg);
        }
    }
    return std::nullopt;
}

std::optional<int> parseCamera(const std::string& text) {
    int v = 0;
    const char* b = text.data();
    const char* e = b + text.size();
    auto [p, ec] = std::from_chars(b, e, v);
    if (text.empty() || ec != std::errc() || p != e || v < 1 || v > 32) return std::nullopt;
    return v;
}

std::string CameraListText(uint32_t channelMask) {
    std::string text;
    for (int c = 0; c < 32; ++c)
        if (channelMask & (1u << c)) text += (text.empty() ? "" : ", ") + std::to_string(c + 1);
    return text.empty() ? "none" : text;
}

std::string NotRecordedText(int camera, uint32_t channelMask) {
    return qm::CameraNotRecordedText(camera, channelMask);
}

std::string LowerExtension(const std::string& path) {
    const auto slash = path.rfind('/');
    const auto dot = path.rfind('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return {};
    std::string ext = path.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return ext;
}

} // namespace qmtool
