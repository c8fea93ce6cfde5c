#pragma once
// The texts the main window shows about the open recording, broken down in
// the computer's local time zone.

#include <QString>
#include <cstdint>

namespace qm {

// Control 1084: the recording's range (local seconds, the time offset already
// added), and under "Current:" the lines of `current` when there are any.
QString FormatInfoText(int64_t localStart, int64_t localEnd, const QString& current = {});

// What the selected camera shows: its recorded time to the millisecond (local
// seconds), key or predicted, picture size and coding, as the "Current:" lines.
struct CurrentFrameFacts {
    int camera = 0; // from 1
    int64_t localTime = 0;
    uint32_t milliseconds = 0;
    bool key = false;
    int width = 0;
    int height = 0;
    uint32_t codec = 0; // four-character code
};
QString FormatCurrentFacts(const CurrentFrameFacts& facts);

// A saved picture's proposed name: "CH01_2023-11-14_22-13-24.360.png" for
// camera 1's picture recorded then (local seconds).
QString ProposedPictureName(int camera, int64_t localTime, uint32_t milliseconds);
// "2023-11-14 22:13:24.360" (local seconds).
QString FormatRecordedTime(int64_t localTime, uint32_t milliseconds);
// Control 1086: the playing time (local seconds).
QString FormatClockText(int64_t localTime);
// The name a snapshot proposes: "CH%02d.jpg" in the single view, else empty.
QString ProposedSnapshotName(int displayMode, int singleChannel);

} // namespace qm
