#pragma once
// The playback state as the player announces it after every change: what the
// user last asked for, which way and how fast it plays, what the window shows.
// A small value, copied to whoever renders it (the main window's buttons,
// status text and timeline); only the player changes it.

#include "storage/formats.h"

#include <cstdint>
#include <string>

namespace qm {

// What the play thread does (the word it reads every loop).
enum PlayState : int {
    kPlayStatePlaying = 0,
    kPlayStatePaused = 1,
    kPlayStateStepping = 2, // show one frame, then pause
    kPlayStateFast = 3,
};

// The last transport command that took effect.
enum class Activity {
    kStopped,
    kPlaying,
    kPaused,
    kReversing,
    kFastForward,
    kFastReverse,
    kStepForward,
    kStepReverse,
    kEnded, // playing forward reached the end of the recording and paused there
};

struct PlaybackState {
    bool open = false;
    bool disk = false; // the open recording is a DVR disk (or an image of one)
    Activity activity = Activity::kStopped;
    bool reverse = false;
    int speed = 1;
    uint32_t currentTime = 0; // UTC seconds of the last frame shown when the state changed
    int split = 2;            // display mode: 1, 4, 9, 16 or 32 cameras (1 to 5)
    uint32_t shownMask = 0;   // the cameras the split shows (bit n: channel n)
    int selected = -1;        // the selected channel, -1 none
    // Recorded seconds per wall second while fast play falls short of its
    // speed (under 90% of it over the last two seconds); 0 while it keeps up.
    double reachedSpeed = 0;

    bool operator==(const PlaybackState&) const = default;
};

// The status text the main window shows for a state: "Play", "Pause",
// "Reverse Play", "Fast Forward 4X", "Step Forword"... Fast play that falls
// short adds what it reached: "Fast Forward 64X (reached 23X)".
std::string StatusTextOf(const PlaybackState& state);

// The play thread's word for an activity.
constexpr bool IsStepping(Activity a) {
    return a == Activity::kStepForward || a == Activity::kStepReverse;
}

} // namespace qm
