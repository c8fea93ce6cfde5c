// qmtool: the player's engine on the command line.

#include "platform/diagnostics.h"
#include "tools/qmtool/commands.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace qmtool {

int Fail(const std::string& message) {
    std::fprintf(stderr, "qmtool: %s\n", message.c_str());
    return 1;
}

int UsageError(const std::string& message) {
    std::fprintf(stderr, "qmtool: %s\nRun 'qmtool --help' for usage.\n", message.c_str());
    return 2;
}

} // namespace qmtool

namespace {

const char kUsage[] =
    "usage: qmtool COMMAND [options] SOURCE\n"
    "\n"
    "SOURCE is an archive (.avr) file, an image of a DVR's disk or memory card, or\n"
    "the disk or card itself (a block device such as /dev/sdb). Cameras are\n"
    "numbered from 1.\n"
    "\n"
    "commands:\n"
    "  info [--json] SOURCE                 what the recording holds\n"
    "  frames [--channel N] [--json] SOURCE every frame in forward delivery order\n"
    "  decode [--channel N] [--md5] SOURCE  decodes every video frame; counts and timings,\n"
    "                                       or with --md5 CAMERA,SEQ,MD5 per picture\n"
    "  snapshot --channel N --time T --out FILE SOURCE\n"
    "                                       the picture at time T as .jpg, .bmp or .png\n"
    "  export --channel N [--from T] [--to T] [--no-audio] [--audio-wav FILE]\n"
    "         --out NAME.avi SOURCE         camera N as AVI files (NAME-002.avi, ... after\n"
    "                                       each change of picture size), the sound also as\n"
    "                                       WAV; lists the files written\n"
    "  disks [--json]                       the DVR disks and cards attached, as the\n"
    "                                       player's Load menu lists them\n"
    "\n"
    "-debug on any command line writes the engine's diagnostics to stderr.\n";

struct Command {
    const char* name;
    qmtool::OptionTable options;
    int (*run)(const qmtool::ParsedArgs&);
};

} // namespace

int main(int argc, char** argv) {
    qm::EnableDiagnosticsFromArgs(argc, argv);
    // "-debug" may stand anywhere; the commands never see it.
    std::vector<char*> kept;
    for (int i = 0; i < argc; ++i)
        if (i == 0 || std::strcmp(argv[i], "-debug") != 0) kept.push_back(argv[i]);
    argc = int(kept.size());
    kept.push_back(nullptr);
    argv = kept.data();
    if (argc < 2 || !std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h")) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    const Command commands[] = {
        {"info", {{"--json"}, {}}, qmtool::RunInfo},
        {"frames", {{"--json"}, {"--channel"}}, qmtool::RunFrames},
        {"decode", {{"--md5"}, {"--channel"}}, qmtool::RunDecode},
        {"snapshot", {{}, {"--channel", "--time", "--out"}}, qmtool::RunSnapshot},
        {"disks", {{"--json"}, {}}, qmtool::RunDisks},
        {"export",
         {{"--no-audio"}, {"--channel", "--from", "--to", "--audio-wav", "--out"}},
         qmtool::RunExport},
    };
    for (const auto& command : commands) {
        if (std::strcmp(argv[1], command.name) != 0) continue;
        qmtool::ParsedArgs args;
        args.command = command.name;
        if (auto error = qmtool::parseArgs(argc, argv, 2, command.options, args))
            return qmtool::UsageError(*error);
        return command.run(args);
    }
    return qmtool::UsageError(std::string("unknown command '") + argv[1] + "'");
}
