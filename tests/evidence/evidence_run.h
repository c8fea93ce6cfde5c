#pragma once
// Runs the programs over a damaged recording and judges the outcome: each
// must end on its own within its time, by a normal exit, with a message on
// stderr when it fails, and with no sanitizer report.

#include <cstdint>
#include <string>
#include <vector>

namespace qm::evidence {

struct RunResult {
    int status = -1; // exit status; -1 when ended by a signal
    bool timedOut = false;
    std::string err; // stderr
};

// `command` is run by the shell under `timeout` (seconds).
RunResult RunWithTimeout(const std::string& command, int seconds, const std::string& errPath);

// Empty when the outcome is acceptable, else what went wrong.
std::string JudgeTool(const RunResult& r);

// The sanitizers' report headers.
bool HasSanitizerReport(const std::string& text);

std::vector<uint8_t> ReadFile(const std::string& path);
void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes);
uint64_t HashOf(const std::vector<uint8_t>& bytes);

// An executable the tests start, from the environment (set by the test
// registration) or the build's fallback path.
std::string Program(const char* env, const char* fallback);

} // namespace qm::evidence
