#include "player/play_thread.h"

#include "platform/wall_clock.h"
#include "player/display_thread.h"
#include "player/player_ex.h"
#include "storage/parse_index.h"

#include <cstring>
#include <thread>

namespace qm {

namespace {

void SleepMs(int ms) {
    if (ms <= 0)
        std::this_thread::yield();
    else
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

// A frame later than this (media ms) is released at once; from 3000 ms on the
// clock is anchored again.
constexpr int64_t kLateRelease = 5000;
constexpr int64_t kLateReanchor = 3000;
// A frame still not due this long (wall ms) after the last one was shown ends
// the wait: gaps in the recording are crossed after 5 s.
constexpr int32_t kWatchdogMs = 5000;
// Fast play drops a channel's P frames once it is this far (media ms) behind.
constexpr int64_t kCatchUpMs = 500;

} // namespace

TPlayThread::TPlayThread(CQMPlayerEx* owner) : m_pOwner(owner) {
    m_pReadA.reset(new uint8_t[kVideoPayloadCapacity]);
    m_pReadB.reset(new uint8_t[kAudioPayloadCapacity]);
    m_pReadC.reset(new uint8_t[kExtraPayloadCapacity]);
    // Left uninitialised: a channel's buffers cost memory once it has frames.
    for (auto& p : m_pVideoCopy)
        p.reset(new uint8_t[kVideoPayloadCapacity]);
    for (auto& p : m_pAudioCopy)
        p.reset(new uint8_t[kAudioPayloadCapacity]);
    m_pOwner->m_nCurTime = 0;
}

TPlayThread::~TPlayThread() {
    End();
}

bool TPlayThread::Begin() {
    return Start(kPriorityBelowNormal);
}

void TPlayThread::End() {
    m_bRunning = false;
    SignalAllSlots();
    Stop();
}

void TPlayThread::SignalAllSlots() {
    for (auto& ev : m_evSlot)
        ev.Set();
}

void TPlayThread::Run() {
    while (m_bRunning) {
        if (Step() == Next::Stop) break;
    }
}

int64_t TPlayThread::Pace(int64_t frameMs, int64_t& e, int64_t& k) {
    CQMPlayerEx& p = *m_pOwner;
    int64_t now = WallClockMs();
    if (p.m_llClockBase == 0) {
        p.m_llClockBase = now - frameMs;
        p.m_llRefNow = now;
        p.m_nLastShownTick = uint32_t(now);
    }
    e = now - frameMs;
    k = now - p.m_llRefNow;
    if (p.m_nPlayState == kPlayStateStepping) return now;
    const bool reverse = p.m_bReverse;
    for (;;) {
        now = WallClockMs();
        e = now - frameMs;
        k = now - p.m_llRefNow;
        const int64_t speed = p.m_nSpeed;
        const int64_t base = p.m_llClockBase;
        const int64_t late = reverse ? base - (e - k * (speed + 1)) : k * (speed - 1) + e - base;
        if (late >= 0) {
            if (late >= kLateRelease) {
                if (reverse) {
                    p.ClearStarted();
                    p.m_llClockBase = 0;
                    SleepMs(0);
                }
            } else if (late >= kLateReanchor) {
                p.m_llClockBase = 0;
            } else if (speed == 1) { // fast play does not yield (see Step)
                SleepMs(0);
            }
            return now;
        }
        SleepMs(1);
        const int32_t sinceShown = int32_t(uint32_t(now) - p.m_nLastShownTick.load());
        if (sinceShown >= kWatchdogMs) {
            p.ClearStarted();
            p.m_llClockBase = 0;
            return now;
        }
        SleepMs(0);
        if (p.m_nPlayState == kPlayStateStepping) return now;
    }
}

void TPlayThread::AcknowledgePause(bool paused) {
    // Only a change takes the lock: the loop runs for every frame.
    if (m_bAcknowledged == paused) return;
    m_bAcknowledged = paused;
    CQMPlayerEx& p = *m_pOwner;
    {
        std::lock_guard lock(p.m_csPauseAck);
        p.m_bPauseAck = paused;
    }
    if (paused) p.m_cvPauseAck.notify_all();
}

TPlayThread::Next TPlayThread::Step() {
    CQMPlayerEx& p = *m_pOwner;
    CQMParseIndex& reader = p.m_reader;

    if (p.m_nPlayState == kPlayStatePaused) {
        SleepMs(10);
        AcknowledgePause(true);
        return Next::Again;
    }
    AcknowledgePause(false);

    const int speed = p.m_nSpeed;
    const int keyOnly = speed >= 4 ? 1 : 0;
    p.m_nSkipLevel = speed >= 64 ? 3 : speed >= 16 ? 2 : speed >= 8 ? 1 : 0;

    const bool reverse = p.m_bReverse;
    const uint64_t progress = reader.Progress();
    int got;
    if (!reverse) {
        m_recC.Clear();
        m_recA.payload = m_pReadA.get();
        m_recB.payload = m_pReadB.get();
        m_recC.payload = m_pReadC.get();
        m_recB.size = 0;
        got = reader.GetNextFrame(&m_recA, keyOnly, &m_recB, 1, &m_recC, 1);
    } else {
        m_recA.payload = m_pReadA.get();
        m_recB.size = 0;
        got = reader.GetPrevFrame(&m_recA);
    }
    if (got == -1 || got == 0) {
        if (!p.m_bActive) return Next::Stop;
        if (!reverse && reader.AllBlocksFinished()) p.m_bAtEnd = true;
        // Woken as soon as the preparation has a frame rather than after a
        // fixed sleep: at 64x a 10 ms nap per empty slot capped fast play
        // near 4x.
        reader.SignalPrepare();
        reader.WaitForProgress(progress, reverse ? 5 : 10);
        return Next::Again;
    }
    if (reverse && m_recA.type != kFrameTypeKey) {
        reader.SignalPrepare();
        return Next::Again;
    }

    p.m_bAtEnd = false;
    const int ch = m_recA.channel;
    if (ch < 0 || ch >= 32) {
        reader.SignalPrepare();
        return Next::Again;
    }
    if (ch == p.m_nSelCh && m_recB.size != 0 && m_recB.size <= kAudioPayloadCapacity) {
        FrameRecord& audio = p.m_lastAudio[ch];
        audio = m_recB;
        std::memcpy(m_pAudioCopy[ch].get(), m_recB.payload, m_recB.size);
        audio.payload = m_pAudioCopy[ch].get();
        if (m_recB.type == kFrameTypeAudio && p.m_bStarted[ch]) p.PlayChannelAudio(ch);
    }

    const int type = m_recA.type;
    if (type != kFrameTypeKey && type != kFrameTypeOther && type != kFrameTypeAudio) {
        reader.SignalPrepare();
        return Next::Again;
    }
    if (!p.m_bStarted[ch]) {
        if (type != kFrameTypeKey) return Next::Again;
        p.m_bStarted[ch] = true;
    }

    const int64_t frameMs = FrameTimeMs(m_recA.time, m_recA.microseconds);
    const uint32_t frameSeconds = m_recA.time;

    const bool video = type != kFrameTypeAudio;
    if (video) {
        m_evSlot[ch].Wait();
        if (!m_bRunning) return Next::Stop;
        const uint32_t delivered = m_recA.size; // packed field: copied, not bound
        const uint32_t size = std::min(delivered, kVideoPayloadCapacity);
        FrameRecord& last = p.m_lastVideo[ch];
        last = m_recA;
        last.size = size;
        last.payload = m_pVideoCopy[ch].get();
        std::memcpy(last.payload, m_recA.payload, size);
        p.m_nStored[ch].fetch_add(1, std::memory_order_relaxed);
    }
    reader.SignalPrepare();
    // A yield lets a decoding thread have the core for as long as its
    // picture takes. Faster play hands on a frame every millisecond or less
    // and fell behind on those waits (64x reached about 50x, 32 cameras at
    // 2x showed 82-94 % of their frames), so only 1x yields.
    if (speed == 1) SleepMs(0);

    if (!p.m_bDisplayed[ch]) {
        if (video) m_evSlot[ch].Set();
        return Next::Again;
    }

    int64_t e = 0, k = 0;
    const int64_t now = Pace(frameMs, e, k);
    p.m_nLastShownTick = uint32_t(now);

    if (keyOnly) {
        if (m_nSkip[ch] != 0) {
            --m_nSkip[ch];
            // Key frames of the recording's last seconds are always shown, so
            // that fast play ends on the last picture rather than short of it.
            if (frameSeconds + 1 < reader.m_nEndTime) {
                if (video) m_evSlot[ch].Set();
                return Next::Again;
            }
        } else {
            m_nSkip[ch] += p.m_nSkipLevel;
        }
    }

    TDisplayPlayThread* display = p.m_pDisplay[ch].load(std::memory_order_acquire);
    if (video && p.m_bStarted[ch] && display) {
        display->SignalFrame();
        p.m_nCurTime = frameSeconds;
        p.m_llShownMs = frameMs;
        int stepping = kPlayStateStepping;
        p.m_nPlayState.compare_exchange_strong(stepping, kPlayStatePaused);
    } else if (video) {
        m_evSlot[ch].Set();
    }

    // Catch-up: a channel that falls behind waits for its next key frame.
    if (reverse) {
        p.m_bStarted[ch] = false;
    } else if (p.m_nPlayState != kPlayStatePaused && p.m_nSpeed != 1 && p.m_nSpeed != 3) {
        if (k * (p.m_nSpeed - 1) + e - kCatchUpMs >= p.m_llClockBase) p.m_bStarted[ch] = false;
    }
    return Next::Show;
}

} // namespace qm
