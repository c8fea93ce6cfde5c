#pragma once
// The sound device on ALSA: one playback thread takes the written buffers in
// order, writes their samples to the PCM (the "default" one unless told
// otherwise) and reports each buffer done once the PCM has taken all of it.
//
// Without a sound card (the PCM cannot be opened, or fails for good later)
// the device stays usable and silent: the thread then holds each buffer for
// as long as it would play and reports it done, so callers see the same
// pace, queue and completions as with sound.

#include "platform/sound_device.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

typedef struct _snd_pcm snd_pcm_t;

namespace qm {

class TAlsaSoundDevice : public ISoundDevice {
public:
    explicit TAlsaSoundDevice(std::string pcmName = "default");
    ~TAlsaSoundDevice() override;
    TAlsaSoundDevice(const TAlsaSoundDevice&) = delete;
    TAlsaSoundDevice& operator=(const TAlsaSoundDevice&) = delete;

    // Starts the playback thread, with sound when the PCM opens for the
    // format (then true) and silent otherwise. A second Open fails.
    bool Open(const SoundFormat& format, DoneCallback done) override;
    bool SetVolume(uint32_t volume) override;
    bool PrepareHeader(uint8_t* header) override;
    bool UnprepareHeader(uint8_t* header) override;
    bool Write(uint8_t* header) override;
    void Reset() override;
    void Close() override;

    // True while buffers are only paced, not played.
    bool IsSilent() const { return !m_bSound.load(std::memory_order_acquire); }
    // Bytes of samples that were played (or held for their full time) to the end.
    uint64_t PlayedBytes() const { return m_nPlayedBytes.load(std::memory_order_relaxed); }

private:
    using Clock = std::chrono::steady_clock;

    void Run();
    // Plays one buffer; false when a reset or the close cut it short.
    bool Play(const uint8_t* data, size_t bytes);
    bool PlayToPcm(const uint8_t* data, size_t bytes);
    bool HoldFor(size_t bytes);
    bool Interrupted();
    void Report(uint8_t* header);
    void ClosePcm();

    const std::string m_strPcmName;
    SoundFormat m_format;
    size_t m_nFrameBytes = 2;
    DoneCallback m_done; // set by Open before the thread starts

    std::mutex m_lock;
    std::condition_variable m_wake; // the thread waits for buffers, resets and the close
    std::condition_variable m_idle; // Reset waits for the thread to acknowledge
    std::deque<uint8_t*> m_queue;   // written and not yet taken by the thread
    uint64_t m_nResetRequested = 0;
    uint64_t m_nResetDone = 0;
    bool m_bStop = false;
    bool m_bOpen = false;
    std::atomic<bool> m_bInterrupt{false}; // a reset or the close is waiting
    std::thread m_thread;

    // Used by the playback thread only (and by Open/Close around it).
    snd_pcm_t* m_pPcm = nullptr;
    Clock::time_point m_nextFree; // when the silent device's queue has played out
    std::vector<uint8_t> m_scratch;

    std::atomic<bool> m_bSound{false};
    std::atomic<uint32_t> m_nVolume{0xFFFFFFFF};
    std::atomic<uint64_t> m_nPlayedBytes{0};
};

} // namespace qm
