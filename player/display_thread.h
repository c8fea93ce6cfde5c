#pragma once
// A display thread: decodes and draws its channel's last video frame each time
// the play thread hands one over, then frees the channel's slot.

#include "platform/event.h"
#include "platform/thread_base.h"

#include <atomic>

namespace qm {

class CQMPlayerEx;

class TDisplayPlayThread : public TQMThreadBase {
public:
    TDisplayPlayThread(CQMPlayerEx* owner, int channel);
    ~TDisplayPlayThread() override;

    bool Begin();
    void End();
    void SignalFrame() { m_evFrame.Set(); }
    int Channel() const { return m_nChannel; }

protected:
    void Run() override;

private:
    CQMPlayerEx* const m_pOwner;
    const int m_nChannel;
    Event m_evFrame{false, false};
    std::atomic<bool> m_bRunning{true};
};

} // namespace qm
