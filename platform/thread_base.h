#pragma once
// Base of the engine's worker threads (prefetch, preparation, play, display,
// sound). A derived class supplies Run(); its owner starts it once with a
// priority and stops it by clearing the derived class's running flag,
// signalling its events and calling Stop(), which waits without a time limit.
//
// Priorities use the levels the engine was written against (-15 idle,
// -2 lowest, -1 below normal, 0 normal, 1 above normal, 2 highest,
// 15 time critical). They are applied as the thread's nice value relative to
// the main thread's; the system may refuse a raise, which is ignored.

#include <atomic>
#include <mutex>
#include <sys/types.h>
#include <thread>

namespace qm {

enum ThreadPriority : int {
    kPriorityIdle = -15,
    kPriorityLowest = -2,
    kPriorityBelowNormal = -1,
    kPriorityNormal = 0,
    kPriorityAboveNormal = 1,
    kPriorityHighest = 2,
    kPriorityTimeCritical = 15,
};

class TQMThreadBase {
public:
    TQMThreadBase() = default;
    TQMThreadBase(const TQMThreadBase&) = delete;
    TQMThreadBase& operator=(const TQMThreadBase&) = delete;

    // Stops the thread as Stop() does. A derived class whose Run() uses its
    // own members must stop the thread in its own destructor: by the time
    // this one runs, the derived part is gone.
    virtual ~TQMThreadBase();

    // True when a new thread was started; false when one already exists
    // (started and not yet stopped) or the system cannot create one. A
    // priority that is not one of the levels above is replaced by the
    // calling thread's level.
    virtual bool Start(int priority);

    // Waits for the thread to end and releases it. Of several concurrent
    // callers exactly one waits. Called from the thread itself, the thread is
    // released without waiting (it would wait for itself) and runs on to the
    // end of Run(); the object must outlive that.
    virtual void Stop();

    bool HasThread() const { return m_pThread.load(std::memory_order_acquire) != nullptr; }
    int Priority() const { return m_nPriority.load(std::memory_order_relaxed); }
    // The system's id of the running thread, 0 before it has begun.
    pid_t ThreadId() const { return m_nThreadId.load(std::memory_order_acquire); }

    static bool IsPriorityLevel(int priority);
    // The level of the calling thread: the one it was started with, or normal
    // for threads not started through this class.
    static int CurrentThreadPriority();

protected:
    virtual void Run() = 0;

private:
    static void Entry(TQMThreadBase* self, int priority);

    std::atomic<std::thread*> m_pThread{nullptr};
    std::atomic<pid_t> m_nThreadId{0};
    std::atomic<int> m_nPriority{kPriorityNormal};
    std::mutex m_startLock; // one Start at a time; the new thread waits for it
};

} // namespace qm
