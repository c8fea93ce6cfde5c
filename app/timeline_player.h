#pragma once
// What the timeline needs of the main window and its player: the playing
// time, the open recording, and the steps of a jump in time. The main window
// implements it over CQMPlayerEx and its reader; tests use a fake.

#include <cstdint>

namespace qm {

class ITimelinePlayer {
public:
    virtual ~ITimelinePlayer() = default;

    // An archive or a disk is open.
    virtual bool IsOpen() const = 0;
    // The main window's busy flag: a command is in progress.
    virtual bool IsBusy() const = 0;
    virtual void SetBusy(bool busy) = 0;

    // The player's playing time (m_nCurTime), UTC seconds, 0 before the first frame.
    virtual uint32_t CurrentTime() const = 0;
    // Playing in reverse (m_bReverse).
    virtual bool IsReverse() const = 0;
    // The reader's start and end time of the open recording.
    virtual uint32_t RecordingStart() const = 0;
    virtual uint32_t RecordingEnd() const = 0;
    // Seconds added to the reader's times for display (0 for a disk).
    virtual int64_t TimeOffset() const = 0;

    // Holds playback (m_nPlayState := pause).
    virtual void Pause() = 0;
    // Forward at normal speed from `time`: direction forward, pause, speed 1,
    // reader seek forward to `time` (waiting for it), ClearStarted(), a short
    // settle (10 ms).
    virtual void SeekTo(uint32_t time) = 0;
    // Plays from the seek: clock base 0, play state play, status text "Play",
    // every channel repainted.
    virtual void Play() = 0;
    // After a seek from the timeline: let the first frames arrive (200 ms),
    // hand the reader's pass handshake back (0), transport skin state 1.
    virtual void SettleAfterSeek() = 0;
};

} // namespace qm
