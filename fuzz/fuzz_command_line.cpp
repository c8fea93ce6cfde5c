// The command lines: the player's, the input split at NUL bytes into
// arguments, and every argument read as a time the way qmtool reads one.

#include "app/command_line_info.h"
#include "platform/recorded_time.h"

#include <cstdint>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> args{"qmplayer"};
    std::string current;
    for (size_t i = 0; i < size && args.size() < 64; ++i) {
        if (data[i] == 0) {
            args.push_back(current);
            current.clear();
        } else {
            current.push_back(char(data[i]));
        }
    }
    if (!current.empty()) args.push_back(current);

    qm::CQMCommandLineInfo info;
    qm::ParseCommandLine(info, args);
    (void)info.ValidateCamMap();
    (void)qm::LeadingInt(std::string_view(reinterpret_cast<const char*>(data), size));

    std::vector<const char*> argv;
    for (const auto& a : args)
        argv.push_back(a.c_str());
    qm::CQMCommandLineInfo again;
    qm::ParseCommandLine(again, int(argv.size()), argv.data());

    for (const auto& a : args) {
        const auto time = qm::ParseClockArgument(a);
        if (!time) continue;
        for (const bool utc : {false, true}) {
            const qm::ClockView view{int(size % 97) * 1800 - 43200, utc};
            if (const auto stored = qm::ResolveClock(*time, view, qm::StoredMs(1700000000) * 1000))
                (void)qm::FormatClock(view, *stored);
        }
    }
    return 0;
}
