#pragma once
// The sound output of one opened recording: decoded PCM (16-bit mono, 8000
// samples per second) is copied into blocks and queued on a sound device.
// Playback starts once four blocks have been written (the pre-roll); at most
// ten blocks are kept in flight, and blocks the device reports done are
// recycled through a free pool on the output's own thread.
//
// Two threads meet here: the writer (the player's audio dispatch, never two
// Writes at once) and the output's thread, which handles the device's
// completions. The in-flight list and the free pool each have a lock, always
// taken in that order.

#include "platform/sound_device.h"
#include "platform/thread_base.h"
#include "render/sys_data.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

namespace qm {

class Event;

class CSoundBase {
public:
    virtual ~CSoundBase() = default;
};

class CWaveOutRenderImpl : public TQMThreadBase, public CSoundBase {
public:
    static constexpr size_t kPrerollBlocks = 4;
    static constexpr size_t kMaxInFlight = 10;
    static constexpr size_t kRearmInFlight = 4;
    // Left and right at 0x8080 of 0xFFFF, about half.
    static constexpr uint32_t kVolume = 0x80808080;
    // Longer writes are dropped (more than 17 minutes of sound at once).
    static constexpr uint32_t kMaxWriteBytes = 16u << 20;

    // Plays through ALSA's "default" PCM, silently when there is none.
    CWaveOutRenderImpl();
    // Plays through the given device.
    explicit CWaveOutRenderImpl(std::unique_ptr<ISoundDevice> device);
    // Stops the sound at once and frees every block.
    ~CWaveOutRenderImpl() override;

    // Copies byteCount bytes of PCM into a block and queues it (after the
    // pre-roll). A block refused by the in-flight limit, or one that cannot
    // be allocated, is dropped.
    virtual void Write(uint32_t byteCount, const uint8_t* data);

    // The writer's view (call on the writing thread).
    size_t PrerollCount() const { return m_preroll.size(); }
    bool IsStarted() const { return m_bStarted; }

    size_t InFlightCount() const;
    size_t FreePoolCount() const;
    bool IsThrottled() const;
    // Waits until the output's thread has handled every completion posted
    // before the call.
    void Sync();

protected:
    void Run() override;

private:
    using Block = std::unique_ptr<TSysData>;

    struct Message {
        enum Kind { kDone, kSync, kQuit } kind;
        uint8_t* header = nullptr;
        Event* handled = nullptr;
    };

    bool Submit(Block block);
    void OnDone(uint8_t* header);
    void Recycle(Block block); // with the in-flight lock held or not, never the pool's
    bool Post(const Message& message);

    std::unique_ptr<ISoundDevice> m_pDevice;
    std::atomic<int> m_nClosing{0};

    mutable std::mutex m_inFlightLock;
    std::vector<Block> m_inFlight; // written to the device, in write order
    bool m_bThrottled = false;     // guarded by m_inFlightLock

    mutable std::mutex m_freePoolLock;
    std::vector<Block> m_freePool; // a stack: the last freed is reused first

    // The writer's alone.
    std::vector<Block> m_preroll;
    bool m_bStarted = false;

    // The output thread's message queue.
    std::mutex m_messageLock;
    std::condition_variable m_messageReady;
    std::deque<Message> m_messages;
    bool m_bAccepting = false;
};

} // namespace qm
