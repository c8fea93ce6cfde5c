#include "app/command_line_info.h"

#include <climits>
#include <cstring>

namespace qm {

int LeadingInt(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r')))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1) {
            value = static_cast<long long>(INT_MAX) + 1;
            break;
        }
    }
    if (negative) return static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

CQMCommandLineInfo::CQMCommandLineInfo() = default;

const std::string* CQMCommandLineInfo::ValueOfCurrent(bool isLast) const {
    // An option at the end of the line has no value and counts as not given.
    if (isLast || m_pArgs == nullptr || m_nArgIndex + 1 >= m_pArgs->size()) return nullptr;
    return &(*m_pArgs)[m_nArgIndex + 1];
}

void CQMCommandLineInfo::ParseParam(const char* param, bool isFlag, bool isLast) {
    // Anything that is not one of our options, including the value arguments
    // when they are visited in their own turn, has no effect.
    if (!isFlag || param == nullptr) return;
    const std::string_view flag(param);
    const bool isValue = m_pArgs && m_nArgIndex == m_nValueIndex;
    if (flag == "h" || flag == "help") {
        m_bShowHelp = true;
    } else if (flag == "path") {
        if (const std::string* value = ValueOfCurrent(isLast)) {
            m_strAvrFile = *value;
            m_nValueIndex = m_nArgIndex + 1;
        }
    } else if (flag == "m") {
        if (const std::string* value = ValueOfCurrent(isLast)) {
            m_nMode = LeadingInt(*value);
            m_nValueIndex = m_nArgIndex + 1;
        }
    } else if (flag == "c") {
        if (const std::string* value = ValueOfCurrent(isLast)) {
            ParseCamList(*value);
            m_bCamMapValid = ValidateCamMap();
            m_nValueIndex = m_nArgIndex + 1;
        }
    } else if (!isValue && m_pArgs && (*m_pArgs)[m_nArgIndex].front() == '-' && flag != "debug" &&
               flag != "-version") {
        // "/name" is left alone: on this system it is far more often a path.
        m_unknownOptions.push_back((*m_pArgs)[m_nArgIndex]);
    }
}

const char kCommandLineUsage[] =
    "usage: qmplayer [-path FILE] [-m MODE] [-c CAMERAS] [-h] [-debug] [--version]\n"
    "\n"
    "  -path FILE   open a recording: an archive (.avr), an image of a DVR's disk\n"
    "               or card, or the disk or card itself (/dev/sdb)\n"
    "  -m MODE      the split: 1, 2, 3 or 4 for 1, 4, 9 or 16 cameras (with -path)\n"
    "  -c LIST      the cameras in the split, e.g. 1,2,5 (with -path and -m)\n"
    "  -h, -help    this help, and the help window\n"
    "  -debug       the engine's diagnostic lines on stderr\n"
    "  --version    the program's version\n"
    "\n"
    "Options are case-sensitive and may also be written with '/'. A value that is\n"
    "missing or wrong is ignored.\n";

void CQMCommandLineInfo::ParseCamList(std::string_view list) {
    // The map describes the latest list only.
    m_nCamMap.fill(0);
    size_t next = 0;
    while (!list.empty()) {
        const size_t comma = list.find(',');
        const std::string_view element = list.substr(0, comma);
        list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
        if (element.empty()) continue;
        const int camera = LeadingInt(element);
        if (camera < 1 || camera > kMaxChannels) continue;
        // The map has room for every camera once; numbers beyond the 32nd are
        // dropped and what was kept is validated as usual.
        if (next < m_nCamMap.size()) m_nCamMap[next++] = camera;
    }
}

bool CQMCommandLineInfo::ValidateCamMap() const {
    bool seen[kMaxChannels + 1] = {};
    bool any = false;
    for (int camera : m_nCamMap) {
        if (camera == 0) continue;
        if (camera < 0 || camera > kMaxChannels || seen[camera]) return false;
        seen[camera] = true;
        any = true;
    }
    return any;
}

void CQMCommandLineInfo::ParseArguments(const std::vector<std::string>& args) {
    m_pArgs = &args;
    for (size_t i = 0; i < args.size(); ++i) {
        m_nArgIndex = i;
        const std::string& arg = args[i];
        const bool isFlag = !arg.empty() && (arg[0] == '-' || arg[0] == '/');
        const bool isLast = i + 1 == args.size();
        ParseParam(arg.c_str() + (isFlag ? 1 : 0), isFlag, isLast);
    }
    m_pArgs = nullptr;
    m_nArgIndex = 0;
    m_nValueIndex = SIZE_MAX;
}

void ParseCommandLine(CQMCommandLineInfo& info, const std::vector<std::string>& args) {
    info.ParseArguments(args);
}

void ParseCommandLine(CQMCommandLineInfo& info, int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc && argv; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    ParseCommandLine(info, args);
}

} // namespace qm
