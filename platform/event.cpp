#include "platform/event.h"

#include <chrono>

namespace qm {

Event::Event(bool manualReset, bool initiallySignalled)
    : m_bSignalled(initiallySignalled), m_bManualReset(manualReset) {}

void Event::Set() {
    // Notifying under the lock lets a waiter destroy the event as soon as its
    // Wait returns without racing this call.
    std::lock_guard<std::mutex> guard(m_lock);
    m_bSignalled = true;
    if (m_bManualReset)
        m_cond.notify_all();
    else
        m_cond.notify_one();
}

void Event::Reset() {
    std::lock_guard<std::mutex> guard(m_lock);
    m_bSignalled = false;
}

bool Event::Wait(int64_t timeoutMs) {
    std::unique_lock<std::mutex> guard(m_lock);
    const auto signalled = [this] { return m_bSignalled; };
    if (timeoutMs < 0) {
        m_cond.wait(guard, signalled);
    } else if (!m_cond.wait_for(guard, std::chrono::milliseconds(timeoutMs), signalled)) {
        return false;
    }
    if (!m_bManualReset) m_bSignalled = false;
    return true;
}

} // namespace qm
