#pragma once
// The one time model (docs/TIME.md). Recordings store UTC seconds and
// milliseconds. The player shows them on its clock: the computer's local time
// zone, after adding the recording's time offset (an archive's header byte
// 185 x 1800 s; a disk has none). qmtool shows and reads that same clock by
// default, and the stored UTC values when asked (--utc).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qm {

// Milliseconds since 1970-01-01 UTC, as stored (seconds * 1000 + ms).
using StoredMs = int64_t;

constexpr StoredMs ToStoredMs(uint32_t seconds, uint32_t milliseconds = 0) {
    return StoredMs(seconds) * 1000 + milliseconds;
}

struct ClockView {
    int offsetSeconds = 0; // the recording's time offset
    bool utc = false;      // the stored values instead of the player's clock
};

// "YYYY-MM-DD HH:MM:SS.mmm" (without ".mmm" when withMs is false) on the
// view's clock; "?" for a time the C library cannot break down.
std::string FormatClock(const ClockView& view, StoredMs t, bool withMs = true);

// A time as the user wrote it, read before the recording is known:
//   "YYYY-MM-DD HH:MM:SS[.mmm]" (also with '/' or 'T' as qmtool and the
//   player's dialogs write it), on the view's clock, or in UTC with a final
//   "Z"; plain epoch seconds "1700000000[.mmm]", which are stored values;
//   "+SECONDS[.mmm]" from the recording's start.
struct ClockArgument {
    enum class Kind { kCalendar, kCalendarUtc, kEpoch, kFromStart };
    Kind kind = Kind::kEpoch;
    // Calendar kinds: the written fields as if they were UTC; epoch: the
    // stored time; from start: the distance. All in milliseconds.
    int64_t ms = 0;
    bool hasMs = false; // milliseconds were written
};
std::optional<ClockArgument> ParseClockArgument(std::string_view text);

// The stored time an argument names on `view` for a recording that starts
// at `start`. nullopt when the local time does not exist (a daylight-saving
// gap) or lies outside what the recordings can hold.
std::optional<StoredMs> ResolveClock(const ClockArgument& argument, const ClockView& view,
                                     StoredMs start);

} // namespace qm
