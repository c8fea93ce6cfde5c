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
    "       qmtool COMMAND --help | qmtool --version\n"
    "\n"
    "SOURCE is an archive (.avr) file, an image of a DVR's disk or memory card, or\n"
    "the disk or card itself (a block device such as /dev/sdb), only ever read.\n"
    "Cameras are numbered from 1. Times are shown and read on the player's clock\n"
    "(this computer's time zone plus the recording's time offset); --utc uses the\n"
    "stored UTC values instead. Options also take the form --name=value.\n"
    "\n"
    "commands:\n"
    "  info       what the recording holds\n"
    "  frames     every frame in forward delivery order\n"
    "  decode     decodes every video frame; counts and timings, or MD5s\n"
    "  snapshot   the picture of a camera at a time, as .jpg, .bmp or .png\n"
    "  export     cameras as AVI, MP4 or Matroska files (and sound as WAV), with a\n"
    "             manifest\n"
    "  verify     checks an export's files and source against its manifest\n"
    "  disks      the DVR disks and cards attached\n"
    "\n"
    "Exit status: 0 success; 1 failure, with one line on stderr (verify: something\n"
    "differs); 2 usage error; 3 with --strict when the output was made but damaged\n"
    "frames were skipped.\n"
    "No command writes onto its SOURCE or replaces an existing file without\n"
    "--force. -debug on any command line writes the engine's diagnostics to stderr.\n";

struct Command {
    const char* name;
    qmtool::OptionTable options;
    int (*run)(const qmtool::ParsedArgs&);
    const char* help;
};

const Command kCommands[] = {
    {"info",
     {{"--json", "--utc"}, {}},
     qmtool::RunInfo,
     "usage: qmtool info [--json] [--utc] SOURCE\n"
     "\n"
     "What the recording holds: kind, codec, byte order, cameras, groups, the time\n"
     "range, the time offset, the block size and the blocks per group.\n"
     "  --json   one JSON object\n"
     "  --utc    times as stored (UTC) instead of the player's clock\n"},
    {"frames",
     {{"--json", "--utc", "--strict"}, {"--channel"}},
     qmtool::RunFrames,
     "usage: qmtool frames [--channel N] [--json] [--utc] [--strict] SOURCE\n"
     "\n"
     "Every frame in the order the player receives it (earliest first, then the\n"
     "lower camera): camera, type, time, sequence, index, size, video and sound\n"
     "bytes. A summary line on stderr ends the listing.\n"
     "  --channel N   camera N only\n"
     "  --json        one JSON object per frame (JSON Lines)\n"
     "  --utc         times as stored (UTC)\n"
     "  --strict      exit 3 when damaged frames were skipped\n"},
    {"decode",
     {{"--md5", "--json", "--utc", "--strict"}, {"--channel"}},
     qmtool::RunDecode,
     "usage: qmtool decode [--channel N] [--md5 | --json] [--utc] [--strict] SOURCE\n"
     "\n"
     "Decodes every video frame in delivery order with the player's decoders and\n"
     "prints counts and timings per camera. A summary line on stderr ends it.\n"
     "  --channel N   camera N only\n"
     "  --md5         instead one line CAMERA,SEQ,MD5 per picture (the MD5 of the\n"
     "                decoder's planes, as ffmpeg -f framemd5 computes it)\n"
     "  --json        instead the summary as one JSON object\n"
     "  --utc         times as stored (UTC)\n"
     "  --strict      exit 3 when damaged frames were skipped\n"},
    {"snapshot",
     {{"--force", "--utc", "--strict"}, {"--channel", "--time", "--out"}},
     qmtool::RunSnapshot,
     "usage: qmtool snapshot --channel N --time T --out FILE [--force] [--utc] SOURCE\n"
     "\n"
     "The picture of camera N at time T (the first frame at or after T, decoded\n"
     "from its key frame) as JPEG, BMP or PNG by FILE's extension. T is\n"
     "\"YYYY-MM-DD HH:MM:SS[.mmm]\" on the player's clock (also with 'T', or with a\n"
     "final Z for UTC), epoch seconds, or +SECONDS from the start. Says on stderr\n"
     "which frame it saved.\n"
     "  --force    replace FILE when it exists\n"
     "  --utc      read and show times as stored (UTC)\n"
     "  --strict   exit 3 when damaged frames were skipped\n"},
    {"export",
     {{"--no-audio", "--force", "--utc", "--json", "--strict", "--no-manifest", "--hash-source"},
      {"--channel", "--from", "--to", "--audio-wav", "--out", "--format", "--manifest"}},
     qmtool::RunExport,
     "usage: qmtool export --channel N|N,M,...|all [--from T] [--to T] [--no-audio]\n"
     "                     [--format avi|mp4|mkv] [--audio-wav FILE.wav]\n"
     "                     --out NAME.avi|NAME.mp4|NAME.mkv|FOLDER [--force] [--json]\n"
     "                     [--manifest FILE | --no-manifest] [--hash-source]\n"
     "                     [--utc] [--strict] SOURCE\n"
     "\n"
     "Camera N as the player's Save as AVI writes it: the recorded video as it is,\n"
     "with its sound, in NAME.avi, and after every change of picture size in\n"
     "NAME-002.avi, NAME-003.avi... NAME.mp4 or NAME.mkv get the same video in one\n"
     "file, each picture at its recorded time, with the recorder's clock as\n"
     "subtitles (and in .mkv the sound). Lists the files written. Without\n"
     "--from/--to the whole recording; --from begins at the key frame at or before\n"
     "T, so every frame from T on is there; --to T includes T (a whole second when\n"
     "written without milliseconds). Times as for snapshot.\n"
     "A list of cameras or all writes FOLDER/CH01.avi, FOLDER/CH02.avi... (the\n"
     "folder is created when missing).\n"
     "A manifest (NAME.avi.manifest.json, or FOLDER/manifest.json) records the\n"
     "command, the SHA-256 of the source and of every file written, and each\n"
     "picture's time and hash; it is listed last. A block device, or a disk image\n"
     "over 64 GiB, is recorded by the hashes of the pieces the export read.\n"
     "'qmtool verify' checks it.\n"
     "  --format F        avi, mp4 or mkv: the files' format (default: the --out\n"
     "                    name's extension; avi for a folder)\n"
     "  --no-audio        leave the sound out of the files\n"
     "  --audio-wav FILE  also write the sound as a WAV file (one camera)\n"
     "  --force           replace existing files (only once the new ones are complete)\n"
     "  --json            instead of the list, a summary JSON object with the files\n"
     "  --utc             read and show times as stored (UTC)\n"
     "  --strict          exit 3 when damaged frames were skipped\n"
     "  --manifest FILE   write the manifest as FILE\n"
     "  --no-manifest     write no manifest\n"
     "  --hash-source     hash the whole source even when it is a device or over 64 GiB\n"},
    {"verify",
     {{}, {"--source"}},
     qmtool::RunVerify,
     "usage: qmtool verify [--source SOURCE] MANIFEST\n"
     "\n"
     "Checks an export against its manifest: hashes every file again, reads each\n"
     "video file's pictures back with libavformat and compares them with the\n"
     "manifest's hashes, compares those with the camera's frames read again from\n"
     "the source, and hashes the source again as the manifest recorded it (whole\n"
     "or by the pieces read). Prints \"ok PATH\" or \"FAILED PATH: what differs\" for\n"
     "every file and the source. Files are found from the manifest's folder.\n"
     "Exit status 0 when everything matches, 1 when anything differs or cannot be\n"
     "read (or the manifest is no manifest), 2 for a usage error.\n"
     "  --source SOURCE   the source now at another place\n"},
    {"recover",
     {{"--json"}, {}},
     qmtool::RunRecover,
     "usage: qmtool recover [--json] SOURCE\n"
     "\n"
     "Scans an archive for its blocks without its index (the header in its last 512\n"
     "bytes and the mini header table), as a file cut short or with a damaged index\n"
     "needs: the sectors are looked at for block headers (once the first ones agree\n"
     "on a block size, one sector a block), the block size follows from where they\n"
     "lie, and each block's cameras and times come from the block itself. On a\n"
     "DVR disk or its image, every slot of the ring (from the data base, in steps\n"
     "of the block size) is looked at for its block header, whatever the block\n"
     "table (MHS) says. Prints whether the index is intact, the block\n"
     "size, the blocks found, how many the index lists and how many it does not\n"
     "(unindexed), each camera's recorded spans (UTC) with the gaps between them,\n"
     "and the byte ranges where no block could be read. A progress line on a\n"
     "terminal.\n"
     "  --json   one JSON object\n"},
    {"disks",
     {{"--json"}, {}},
     qmtool::RunDisks,
     "usage: qmtool disks [--json]\n"
     "\n"
     "The DVR disks and cards attached, numbered and sized as the player's Load menu\n"
     "shows them (drive n is the n-th whole disk under /sys/block, sorted by name).\n"},
};

bool IsHelp(const char* arg) {
    return !std::strcmp(arg, "--help") || !std::strcmp(arg, "-h");
}

} // namespace

int main(int argc, char** argv) {
    qm::EnableDiagnosticsFromArgs(argc, argv);
    const std::vector<std::string> commandLine(argv, argv + argc);
    // "-debug" may stand anywhere; the commands never see it.
    std::vector<char*> kept;
    for (int i = 0; i < argc; ++i)
        if (i == 0 || std::strcmp(argv[i], "-debug") != 0) kept.push_back(argv[i]);
    argc = int(kept.size());
    kept.push_back(nullptr);
    argv = kept.data();
    if (argc < 2 || IsHelp(argv[1])) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    if (!std::strcmp(argv[1], "--version")) {
        std::printf("qmtool %s\n", qmtool::QmVersion());
        return 0;
    }
    for (const auto& command : kCommands) {
        if (std::strcmp(argv[1], command.name) != 0) continue;
        for (int i = 2; i < argc; ++i)
            if (IsHelp(argv[i])) {
                std::fputs(command.help, stdout);
                return 0;
            }
        qmtool::ParsedArgs args;
        args.command = command.name;
        args.commandLine = commandLine;
        if (auto error = qmtool::parseArgs(argc, argv, 2, command.options, args))
            return qmtool::UsageError(*error);
        return command.run(args);
    }
    return qmtool::UsageError(std::string("unknown command '") + argv[1] + "'");
}
