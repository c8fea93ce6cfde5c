#pragma once
// Texts the timeline and the volume slider show: times broken down in the
// computer's local time zone, and percentages of a range.

#include <QString>
#include <cstdint>

namespace qm {

// "%d-%02d-%02d %02d:%02d:%02d" of seconds since 1970 in local time. A time
// the C library cannot break down shows 0 for the date and -1 for the time
// fields, as the main window's information text does.
QString LocalDateTimeText(int64_t seconds);

// "%02d:%02d:%02d", the time of day of seconds since 1970 in local time
// (-1 fields when it cannot be broken down).
QString LocalTimeOfDayText(int64_t seconds);

// The status text after a time search landed past a gap of the recording:
// "No recording at HH:MM:SS; showing the next recorded moment HH:MM:SS"
// (local times of day), with the dates in front when the two days differ.
QString GapNoticeText(int64_t askedLocal, int64_t shownLocal);

// "%d%%" of (pos - min) * 100 / (max - min); "0%" for an empty range.
QString PercentText(int64_t pos, int64_t min, int64_t max);

} // namespace qm
