#include "evidence_run.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/wait.h>

namespace qm::evidence {

RunResult RunWithTimeout(const std::string& command, int seconds, const std::string& errPath) {
    // -k: a program that ignores TERM is killed 5 s later; timeout then exits 124 or 137.
    const std::string line = "timeout -k 5 " + std::to_string(seconds) + " " + command +
                             " >/dev/null 2>'" + errPath + "'";
    RunResult r;
    const int status = std::system(line.c_str());
    if (status != -1 && WIFEXITED(status)) {
        r.status = WEXITSTATUS(status);
        r.timedOut = r.status == 124 || r.status == 137;
    }
    const auto err = ReadFile(errPath);
    r.err.assign(err.begin(), err.end());
    return r;
}

bool HasSanitizerReport(const std::string& text) {
    for (const char* mark : {"AddressSanitizer", "LeakSanitizer", "ThreadSanitizer",
                             "UndefinedBehaviorSanitizer", "runtime error:"})
        if (text.find(mark) != std::string::npos) return true;
    return false;
}

std::string JudgeTool(const RunResult& r) {
    if (HasSanitizerReport(r.err)) return "sanitizer report:\n" + r.err.substr(0, 4000);
    if (r.timedOut) return "did not end in time";
    // A shell reports a death by signal as 128 + the signal.
    if (r.status < 0 || r.status >= 128)
        return "ended abnormally (" + std::to_string(r.status) + ")";
    if (r.status != 0 && r.err.find_first_not_of(" \n") == std::string::npos)
        return "failed (" + std::to_string(r.status) + ") without a message";
    return {};
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return {};
    return {std::istreambuf_iterator<char>(in), {}};
}

void WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

uint64_t HashOf(const std::vector<uint8_t>& bytes) {
    uint64_t h = 1469598103934665603ull;
    for (uint8_t b : bytes) {
        h ^= b;
        h *= 1099511628211ull;
    }
    return h;
}

std::string Program(const char* env, const char* fallback) {
    const char* value = std::getenv(env);
    return value && *value ? value : fallback;
}

} // namespace qm::evidence
