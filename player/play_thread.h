#pragma once
// The play thread: takes frames from the storage reader in recorded order
// (forward or reverse), waits until each is due at the current speed and hands
// it to its channel's display thread. A channel's slot event is signalled while
// the channel's copy buffer and last video record may be overwritten.

#include "platform/event.h"
#include "platform/thread_base.h"
#include "storage/frame_record.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace qm {

class CQMPlayerEx;

class TPlayThread : public TQMThreadBase {
public:
    explicit TPlayThread(CQMPlayerEx* owner);
    ~TPlayThread() override;

    // Starts the thread below normal priority.
    bool Begin();
    // Clears the running flag, frees every slot and waits for the thread.
    void End();

    void SignalSlot(int channel) { m_evSlot[channel].Set(); }
    void SignalAllSlots();

protected:
    void Run() override;

private:
    enum class Next { Again, Show, Stop };
    // One pass of the loop; Stop when the thread must end.
    Next Step();
    // Tells a waiting command that the thread holds (or no longer holds).
    void AcknowledgePause(bool paused);
    // Waits until the frame is due. Returns the wall clock at release, with
    // elapsed time since the anchor in k and wall minus frame time in e.
    int64_t Pace(int64_t frameMs, int64_t& e, int64_t& k);

    CQMPlayerEx* const m_pOwner;
    std::array<Event, 32> m_evSlot; // auto-reset; signalled = slot free
    std::atomic<bool> m_bRunning{true};

    FrameRecord m_recA{}; // video, or audio of type 48
    FrameRecord m_recB{}; // the audio that goes with A
    FrameRecord m_recC{}; // extra data, not used
    std::unique_ptr<uint8_t[]> m_pReadA, m_pReadB, m_pReadC;
    std::array<std::unique_ptr<uint8_t[]>, 32> m_pVideoCopy;
    std::array<std::unique_ptr<uint8_t[]>, 32> m_pAudioCopy;
    std::array<int, 32> m_nSkip{};
    bool m_bAcknowledged = false; // the play thread's own view of its last acknowledgement
};

} // namespace qm
