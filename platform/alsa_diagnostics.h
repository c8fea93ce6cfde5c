#pragma once
// alsa-lib prints its errors to stderr unless told otherwise; the engine's
// own lines go to the diagnostics sink, and so do ALSA's.

namespace qm {

// Installs alsa-lib's error handler that writes each message to the
// diagnostics sink as "[5][ALSA] file:line (function) message". Idempotent and
// safe from any thread; every ALSA user in the engine calls it before its
// first ALSA call.
void RouteAlsaErrorsToDiagnostics();

} // namespace qm
