#pragma once
// What the timeline needs of the main window and its player: the playing
// time, the open recording, and the jump in time. The main window implements
// it over its player; tests use a fake.

#include "app/recorded_spans.h"

#include <cstdint>
#include <vector>

namespace qm {

class ITimelinePlayer {
public:
    virtual ~ITimelinePlayer() = default;

    // An archive or a disk is open.
    virtual bool IsOpen() const = 0;
    // The main window's busy flag: a command is in progress.
    virtual bool IsBusy() const = 0;
    virtual void SetBusy(bool busy) = 0;

    // The player's playing time, UTC seconds, 0 before the first frame.
    virtual uint32_t CurrentTime() const = 0;
    // Playing in reverse.
    virtual bool IsReverse() const = 0;
    // The range the window plays, reader times.
    virtual uint32_t RecordingStart() const = 0;
    virtual uint32_t RecordingEnd() const = 0;
    // Seconds added to the reader's times for display (0 for a disk).
    virtual int64_t TimeOffset() const = 0;

    // Holds playback while the slider is dragged.
    virtual void HoldForSeek() = 0;
    // Plays forward at normal speed from `time`, once the reader has settled
    // there, every channel starting at its next key frame.
    virtual void SeekAndPlay(uint32_t time) = 0;
    // The spans of the recording's blocks, reader times; empty when they are
    // not known, and then every time in the range counts as recorded.
    virtual std::vector<RecordedSpan> RecordedSpans() const { return {}; }
};

} // namespace qm
