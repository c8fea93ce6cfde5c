#pragma once
// The program's command line: "[options] [FileName/Mode/CameraMap]".
//
//   -path FILE   the recording to open
//   -m N         display mode (1, 2, 3, 4: the 1-, 4-, 9-, 16-channel split)
//   -c LIST      camera map, comma-separated camera numbers 1..32
//   -h, -help    show the command help instead of the player
//
// Options may start with "/" as well, are case-sensitive, and take the
// argument that follows them as their value. Everything else is accepted and
// ignored, so a bare file name opens nothing. Plain C++: no window system is
// needed to parse.

#include "storage/formats.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qm {

using CamMap = std::array<int, kMaxChannels>;

// Leading decimal integer, as atoi reads it: leading blanks and a sign are
// accepted, reading stops at the first non-digit, no digits give 0. Values
// beyond int saturate.
int LeadingInt(std::string_view text);

class CQMCommandLineInfo {
public:
    CQMCommandLineInfo();
    virtual ~CQMCommandLineInfo() = default;

    // Called once for every argument after the program name, in order. A flag
    // (an argument starting with '-' or '/') arrives without that character.
    // An option's value is read from the argument list the parse was started
    // with (see ParseCommandLine), at the position after the current one.
    virtual void ParseParam(const char* param, bool isFlag, bool isLast);

    // True when the map names at least one camera and no camera twice.
    bool ValidateCamMap() const;

    int m_nMode = 0;
    CamMap m_nCamMap{};
    std::string m_strAvrFile;
    bool m_bCamMapValid = false;
    bool m_bShowHelp = false;
    // Options starting with '-' that are none of ours (nor a value of one),
    // as written; they have no effect but are worth a word on stderr.
    std::vector<std::string> m_unknownOptions;

    // Feeds every argument (those after the program name) to ParseParam,
    // which reads an option's value from them.
    void ParseArguments(const std::vector<std::string>& args);

private:
    void ParseCamList(std::string_view list);
    const std::string* ValueOfCurrent(bool isLast) const;

    const std::vector<std::string>* m_pArgs = nullptr; // during ParseCommandLine only
    size_t m_nArgIndex = 0;
    size_t m_nValueIndex = SIZE_MAX; // the argument the last option took as its value
};

// The usage text `-h` prints on a terminal.
extern const char kCommandLineUsage[];

// Feeds every argument to info.ParseParam. args holds the arguments after the
// program name.
void ParseCommandLine(CQMCommandLineInfo& info, const std::vector<std::string>& args);
// argv[0] is the program name and is skipped.
void ParseCommandLine(CQMCommandLineInfo& info, int argc, const char* const* argv);

} // namespace qm
