#include "platform/thread_base.h"

#include "platform/diagnostics.h"

#include <algorithm>
#include <cerrno>
#include <sys/resource.h>
#include <system_error>
#include <unistd.h>

namespace qm {

namespace {

thread_local int t_priorityLevel = kPriorityNormal;

// The nice value of "normal": the main thread's when the first worker starts.
int BaseNice() {
    static const int base = [] {
        errno = 0;
        const int nice = getpriority(PRIO_PROCESS, id_t(getpid()));
        return errno == 0 ? nice : 0;
    }();
    return base;
}

int NiceOffset(int level) {
    switch (level) {
    case kPriorityIdle:
        return 19;
    case kPriorityLowest:
        return 10;
    case kPriorityBelowNormal:
        return 5;
    case kPriorityAboveNormal:
        return -5;
    case kPriorityHighest:
        return -10;
    case kPriorityTimeCritical:
        return -20;
    default:
        return 0;
    }
}

} // namespace

bool TQMThreadBase::IsPriorityLevel(int priority) {
    switch (priority) {
    case kPriorityIdle:
    case kPriorityLowest:
    case kPriorityBelowNormal:
    case kPriorityNormal:
    case kPriorityAboveNormal:
    case kPriorityHighest:
    case kPriorityTimeCritical:
        return true;
    default:
        return false;
    }
}

int TQMThreadBase::CurrentThreadPriority() {
    return t_priorityLevel;
}

TQMThreadBase::~TQMThreadBase() {
    Stop();
}

bool TQMThreadBase::Start(int priority) {
    std::lock_guard<std::mutex> guard(m_startLock);
    if (m_pThread.load(std::memory_order_acquire) != nullptr) return false;
    if (!IsPriorityLevel(priority)) priority = CurrentThreadPriority();
    BaseNice(); // fixed before any worker can change its own nice value
    m_nPriority.store(priority, std::memory_order_relaxed);
    m_nThreadId.store(0, std::memory_order_release);
    std::thread* thread = nullptr;
    try {
        thread = new std::thread(&TQMThreadBase::Entry, this, priority);
    } catch (const std::system_error& e) {
        qmLog("TQMThreadBase::Start cannot create a thread: %s\n", e.what());
        return false;
    }
    m_pThread.store(thread, std::memory_order_release);
    return true;
}

void TQMThreadBase::Stop() {
    std::thread* thread = m_pThread.exchange(nullptr, std::memory_order_acq_rel);
    if (thread == nullptr) return;
    if (thread->get_id() == std::this_thread::get_id())
        thread->detach();
    else if (thread->joinable())
        thread->join();
    delete thread;
}

void TQMThreadBase::Entry(TQMThreadBase* self, int priority) {
    // Held by Start() until the handle is published: Run() must see the
    // thread as existing, e.g. so that a Stop() from inside it releases it.
    { std::lock_guard<std::mutex> started(self->m_startLock); }
    const pid_t tid = gettid();
    t_priorityLevel = priority;
    const int nice = std::clamp(BaseNice() + NiceOffset(priority), -20, 19);
    if (setpriority(PRIO_PROCESS, id_t(tid), nice) != 0)
        qmLog("TQMThreadBase priority %d (nice %d) refused\n", priority, nice);
    self->m_nThreadId.store(tid, std::memory_order_release);
    self->Run();
    // Nothing of *self may be touched from here on: a Stop() from inside
    // Run() lets the owner destroy the object while this thread winds down.
}

} // namespace qm
