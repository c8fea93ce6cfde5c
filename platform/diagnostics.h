#pragma once
// The diagnostics sink. Engine and window code write one line per event; the
// lines are for developers only and are dropped unless the program was started
// with -debug (then they go to stderr) or a test has installed a capture.

#include <string>
#include <vector>

namespace qm {

// Writes the formatted text as it is, e.g. "CQMParseIndex::CloseFile Start\n".
void qmLog(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

// The tags of qmLogAt's lines, one per part of the engine. Some read as the
// recorder's software has always written them (its disk lines say
// "ParseIndex", its disk seek "QMParseInex"): tools that read the lines
// expect them so.
namespace log_tag {
inline constexpr char kParseIndex[] = "QMParseIndex";
inline constexpr char kDiskOpen[] = "ParseIndex";
inline constexpr char kDiskSeek[] = "QMParseInex";
inline constexpr char kPlayer[] = "QMPlayerEx";
inline constexpr char kSaveAviJob[] = "SaveAviJob";
inline constexpr char kQmtool[] = "qmtool";
inline constexpr char kFfmpeg[] = "FFmpeg";
inline constexpr char kAlsa[] = "ALSA";
inline constexpr char kAlsaMixer[] = "AlsaMixer";
inline constexpr char kAlsaSound[] = "AlsaSound";
} // namespace log_tag

// Writes "[level][tag] " followed by the formatted text; level 3 is for
// frequent lines, 9 for rare ones.
void qmLogAt(int level, const char* tag, const char* fmt, ...)
    __attribute__((format(printf, 3, 4)));

// True when a line would go anywhere; lets hot paths skip the formatting.
bool DiagnosticsActive();

void EnableDiagnosticsToStderr(bool enable);

// Turns stderr output on when an argument is exactly "-debug"; returns whether it did.
bool EnableDiagnosticsFromArgs(int argc, const char* const* argv);

// While alive, every line written (from any thread) is also kept here, in
// order, exactly as written. Captures nest; the innermost one receives.
class DiagnosticsCapture {
public:
    DiagnosticsCapture();
    ~DiagnosticsCapture();
    DiagnosticsCapture(const DiagnosticsCapture&) = delete;
    DiagnosticsCapture& operator=(const DiagnosticsCapture&) = delete;

    std::vector<std::string> Lines() const;

private:
    friend struct DiagnosticsSink;
    DiagnosticsCapture* m_pOuter = nullptr;
    std::vector<std::string> m_lines; // guarded by the sink's lock
};

} // namespace qm
