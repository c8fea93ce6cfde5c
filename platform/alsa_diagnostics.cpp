#include "platform/alsa_diagnostics.h"

#include "platform/diagnostics.h"

#include <alsa/asoundlib.h>
#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace qm {

namespace {

void AlsaErrorToDiagnostics(const char* file, int line, const char* function, int err,
                            const char* fmt, ...) {
    if (!DiagnosticsActive()) return;
    char message[512] = "";
    if (fmt) {
        va_list args;
        va_start(args, fmt);
        std::vsnprintf(message, sizeof message, fmt, args);
        va_end(args);
    }
    qmLogAt(5, log_tag::kAlsa, "%s:%d (%s) %s%s%s\n", file ? file : "?", line,
            function ? function : "?", message, err ? ": " : "", err ? snd_strerror(err) : "");
}

} // namespace

void RouteAlsaErrorsToDiagnostics() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(&AlsaErrorToDiagnostics); });
}

} // namespace qm
