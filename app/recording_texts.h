#pragma once
// The texts the main window shows about the open recording, broken down in
// the computer's local time zone.

#include <QString>
#include <cstdint>

namespace qm {

// Control 1084: the recording's range (local seconds, the time offset already added).
QString FormatInfoText(int64_t localStart, int64_t localEnd);
// Control 1086: the playing time (local seconds).
QString FormatClockText(int64_t localTime);
// The name a snapshot proposes: "CH%02d.jpg" in the single view, else empty.
QString ProposedSnapshotName(int displayMode, int singleChannel);

} // namespace qm
