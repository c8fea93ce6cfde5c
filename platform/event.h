#pragma once
// A waitable event in the manner of the threads' hand-over protocol: auto-reset
// events release exactly one waiter per Set, manual-reset events stay signalled
// until Reset.

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace qm {

class Event {
public:
    static constexpr int64_t kInfinite = -1;

    explicit Event(bool manualReset = false, bool initiallySignalled = false);
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    void Set();
    void Reset();

    // Waits until the event is signalled or timeoutMs has passed (kInfinite:
    // no limit, 0: just test). Returns true when signalled; an auto-reset
    // event is then consumed by this waiter.
    bool Wait(int64_t timeoutMs = kInfinite);

    bool IsManualReset() const { return m_bManualReset; }

private:
    std::mutex m_lock;
    std::condition_variable m_cond;
    bool m_bSignalled;
    const bool m_bManualReset;
};

} // namespace qm
