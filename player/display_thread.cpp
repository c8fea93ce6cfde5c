#include "player/display_thread.h"

#include "player/play_thread.h"
#include "player/player_ex.h"

namespace qm {

TDisplayPlayThread::TDisplayPlayThread(CQMPlayerEx* owner, int channel)
    : m_pOwner(owner), m_nChannel(channel) {}

TDisplayPlayThread::~TDisplayPlayThread() {
    End();
}

bool TDisplayPlayThread::Begin() {
    return Start(kPriorityNormal);
}

void TDisplayPlayThread::End() {
    m_bRunning = false;
    m_evFrame.Set();
    Stop();
}

void TDisplayPlayThread::Run() {
    while (m_bRunning) {
        m_evFrame.Wait();
        if (!m_bRunning) break;
        m_pOwner->bProcessVideoFrame(m_nChannel);
        if (TPlayThread* play = m_pOwner->m_pPlayThread.load(std::memory_order_acquire)) {
            if (m_nChannel >= 32)
                play->SignalAllSlots();
            else
                play->SignalSlot(m_nChannel);
        }
    }
}

} // namespace qm
