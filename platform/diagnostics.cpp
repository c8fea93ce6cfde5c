#include "platform/diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace qm {

namespace {

std::atomic<bool> g_toStderr{false};
std::atomic<int> g_captureCount{0};

std::mutex& SinkLock() {
    static std::mutex lock;
    return lock;
}

DiagnosticsCapture* g_innermost = nullptr; // guarded by SinkLock()

std::string FormatV(const char* fmt, va_list args) {
    va_list probe;
    va_copy(probe, args);
    const int length = std::vsnprintf(nullptr, 0, fmt, probe);
    va_end(probe);
    if (length <= 0) return {};
    std::string text(size_t(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), fmt, args);
    text.resize(size_t(length));
    return text;
}

} // namespace

struct DiagnosticsSink {
    static void Deliver(const std::string& line) {
        std::lock_guard<std::mutex> guard(SinkLock());
        if (g_innermost) g_innermost->m_lines.push_back(line);
        if (g_toStderr.load(std::memory_order_relaxed)) {
            std::fputs(line.c_str(), stderr);
            if (line.empty() || line.back() != '\n') std::fputc('\n', stderr);
        }
    }
};

bool DiagnosticsActive() {
    return g_toStderr.load(std::memory_order_relaxed) ||
           g_captureCount.load(std::memory_order_relaxed) > 0;
}

void qmLog(const char* fmt, ...) {
    if (!DiagnosticsActive()) return;
    va_list args;
    va_start(args, fmt);
    std::string line = FormatV(fmt, args);
    va_end(args);
    DiagnosticsSink::Deliver(line);
}

void qmLogAt(int level, const char* tag, const char* fmt, ...) {
    if (!DiagnosticsActive()) return;
    va_list args;
    va_start(args, fmt);
    std::string text = FormatV(fmt, args);
    va_end(args);
    char head[96];
    std::snprintf(head, sizeof head, "[%d][%s] ", level, tag ? tag : "");
    DiagnosticsSink::Deliver(head + text);
}

void EnableDiagnosticsToStderr(bool enable) {
    g_toStderr.store(enable);
}

bool EnableDiagnosticsFromArgs(int argc, const char* const* argv) {
    for (int i = 1; i < argc && argv; ++i) {
        if (argv[i] && std::strcmp(argv[i], "-debug") == 0) {
            EnableDiagnosticsToStderr(true);
            return true;
        }
    }
    return false;
}

DiagnosticsCapture::DiagnosticsCapture() {
    std::lock_guard<std::mutex> guard(SinkLock());
    m_pOuter = g_innermost;
    g_innermost = this;
    g_captureCount.fetch_add(1);
}

DiagnosticsCapture::~DiagnosticsCapture() {
    std::lock_guard<std::mutex> guard(SinkLock());
    // Captures are scoped, so the one going away is normally the innermost;
    // unlink it wherever it sits all the same.
    for (DiagnosticsCapture** link = &g_innermost; *link; link = &(*link)->m_pOuter) {
        if (*link == this) {
            *link = m_pOuter;
            break;
        }
    }
    g_captureCount.fetch_sub(1);
}

std::vector<std::string> DiagnosticsCapture::Lines() const {
    std::lock_guard<std::mutex> guard(SinkLock());
    return m_lines;
}

} // namespace qm
