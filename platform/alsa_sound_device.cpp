#include "platform/alsa_sound_device.h"

#include "platform/alsa_diagnostics.h"
#include "platform/diagnostics.h"

#include <algorithm>
#include <alsa/asoundlib.h>

namespace qm {

namespace {

// The PCM may run this far ahead of the sound that has been heard.
constexpr unsigned kLatencyUs = 100000;
// Samples are handed to the PCM in pieces of at most this many frames, so
// that a reset is seen between them.
constexpr size_t kChunkFrames = 1024;
// How long the thread waits for room in the PCM before looking for a reset.
constexpr int kWaitMs = 20;

} // namespace

TAlsaSoundDevice::TAlsaSoundDevice(std::string pcmName) : m_strPcmName(std::move(pcmName)) {}

TAlsaSoundDevice::~TAlsaSoundDevice() {
    Close();
}

bool TAlsaSoundDevice::Open(const SoundFormat& format, DoneCallback done) {
    if (format.nBitsPerSample != 16 || format.nChannels < 1 || format.nChannels > 2 ||
        format.nSampleRate < 1000 || format.nSampleRate > 192000 || !done)
        return false;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_bOpen || m_bStop) return false;
        m_bOpen = true;
    }
    RouteAlsaErrorsToDiagnostics();
    m_format = format;
    m_nFrameBytes = size_t(format.nChannels) * 2;
    m_done = std::move(done);

    snd_pcm_t* pcm = nullptr;
    int err = snd_pcm_open(&pcm, m_strPcmName.c_str(), SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK);
    if (err >= 0) {
        err = snd_pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED,
                                 unsigned(format.nChannels), unsigned(format.nSampleRate), 1,
                                 kLatencyUs);
        if (err < 0) snd_pcm_close(pcm);
    }
    if (err < 0) {
        qmLogAt(5, log_tag::kAlsaSound, "(Open) PCM \"%s\": %s, playing silently\n",
                m_strPcmName.c_str(), snd_strerror(err));
        pcm = nullptr;
    }
    m_pPcm = pcm;
    m_bSound.store(pcm != nullptr, std::memory_order_release);
    m_nextFree = Clock::now();
    m_thread = std::thread([this] { Run(); });
    return pcm != nullptr;
}

bool TAlsaSoundDevice::SetVolume(uint32_t volume) {
    m_nVolume.store(volume, std::memory_order_relaxed);
    return true;
}

bool TAlsaSoundDevice::PrepareHeader(uint8_t* header) {
    if (!header) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    SoundHeader h(header);
    if (h.Flags() & kSoundHeaderInQueue) return false;
    h.SetFlags(h.Flags() | kSoundHeaderPrepared);
    return true;
}

bool TAlsaSoundDevice::UnprepareHeader(uint8_t* header) {
    if (!header) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    SoundHeader h(header);
    if (h.Flags() & kSoundHeaderInQueue) return false;
    h.SetFlags(h.Flags() & ~uint32_t(kSoundHeaderPrepared));
    return true;
}

bool TAlsaSoundDevice::Write(uint8_t* header) {
    if (!header) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    SoundHeader h(header);
    const uint32_t flags = h.Flags();
    if (!m_bOpen || m_bStop || !(flags & kSoundHeaderPrepared) || (flags & kSoundHeaderInQueue) ||
        (!h.Data() && h.Length() > 0))
        return false;
    h.SetFlags((flags | kSoundHeaderInQueue) & ~uint32_t(kSoundHeaderDone));
    m_queue.push_back(header);
    m_wake.notify_all();
    return true;
}

void TAlsaSoundDevice::Reset() {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_thread.joinable()) {
        std::deque<uint8_t*> flushed;
        flushed.swap(m_queue);
        lock.unlock();
        for (uint8_t* header : flushed)
            Report(header);
        return;
    }
    // The thread cuts the current buffer short, drops what the PCM holds and
    // reports every buffer before it acknowledges.
    const uint64_t target = ++m_nResetRequested;
    m_wake.notify_all();
    m_idle.wait(lock, [&] { return m_nResetDone >= target; });
}

void TAlsaSoundDevice::Close() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_bStop = true;
    }
    m_wake.notify_all();
    if (m_thread.joinable()) m_thread.join();
    std::deque<uint8_t*> left;
    {
        std::lock_guard<std::mutex> guard(m_lock);
        left.swap(m_queue);
    }
    for (uint8_t* header : left)
        Report(header);
    ClosePcm();
}

void TAlsaSoundDevice::Run() {
    std::unique_lock<std::mutex> lock(m_lock);
    for (;;) {
        m_wake.wait(
            lock, [&] { return m_bStop || m_nResetRequested != m_nResetDone || !m_queue.empty(); });
        if (m_nResetRequested != m_nResetDone) {
            const uint64_t target = m_nResetRequested;
            std::deque<uint8_t*> flushed;
            flushed.swap(m_queue);
            lock.unlock();
            if (m_pPcm) {
                snd_pcm_drop(m_pPcm);
                snd_pcm_prepare(m_pPcm);
            }
            m_nextFree = Clock::now();
            for (uint8_t* header : flushed)
                Report(header);
            lock.lock();
            m_nResetDone = target;
            m_idle.notify_all();
            continue;
        }
        if (m_bStop) break;
        uint8_t* header = m_queue.front();
        m_queue.pop_front();
        const SoundHeader h(header);
        const uint8_t* data = h.Data();
        const size_t bytes = h.Length();
        lock.unlock();
        if (Play(data, bytes)) m_nPlayedBytes.fetch_add(bytes, std::memory_order_relaxed);
        Report(header);
        lock.lock();
    }
}

bool TAlsaSoundDevice::Interrupted() {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bStop || m_nResetRequested != m_nResetDone;
}

bool TAlsaSoundDevice::Play(const uint8_t* data, size_t bytes) {
    if (m_pPcm) {
        if (PlayToPcm(data, bytes)) return true;
        if (m_pPcm) return false; // interrupted
        // The PCM failed for good: from here on the device is silent.
    }
    return HoldFor(bytes);
}

// False when interrupted, or when the PCM failed for good (then it is closed).
bool TAlsaSoundDevice::PlayToPcm(const uint8_t* data, size_t bytes) {
    size_t frames = bytes / m_nFrameBytes;
    const uint32_t volume = m_nVolume.load(std::memory_order_relaxed);
    const int levels[2] = {int(volume & 0xFFFF), int(volume >> 16)};
    while (frames > 0) {
        if (Interrupted()) return false;
        const size_t chunk = std::min(frames, kChunkFrames);
        const size_t chunkBytes = chunk * m_nFrameBytes;
        m_scratch.resize(chunkBytes);
        for (size_t i = 0; i < chunkBytes; i += 2) {
            const int level = levels[(i / 2) % size_t(m_format.nChannels)];
            const int sample = int16_t(loadLE16(data + i));
            storeLE16(&m_scratch[i], uint16_t(int16_t(sample * level / 0xFFFF)));
        }
        snd_pcm_sframes_t written = snd_pcm_writei(m_pPcm, m_scratch.data(), chunk);
        if (written == -EAGAIN) {
            const int waited = snd_pcm_wait(m_pPcm, kWaitMs);
            if (waited < 0) snd_pcm_recover(m_pPcm, waited, 1);
            continue;
        }
        if (written < 0) {
            const int err = snd_pcm_recover(m_pPcm, int(written), 1);
            if (err < 0) {
                qmLogAt(5, log_tag::kAlsaSound, "(Play) PCM \"%s\" failed: %s, playing silently\n",
                        m_strPcmName.c_str(), snd_strerror(err));
                ClosePcm();
                return false;
            }
            continue;
        }
        frames -= size_t(written);
        data += size_t(written) * m_nFrameBytes;
    }
    return true;
}

bool TAlsaSoundDevice::HoldFor(size_t bytes) {
    const auto duration = std::chrono::microseconds(int64_t(bytes / m_nFrameBytes) * 1000000 /
                                                    std::max(m_format.nSampleRate, 1));
    const Clock::time_point now = Clock::now();
    if (m_nextFree < now) m_nextFree = now;
    m_nextFree += duration;
    std::unique_lock<std::mutex> lock(m_lock);
    return !m_wake.wait_until(lock, m_nextFree,
                              [&] { return m_bStop || m_nResetRequested != m_nResetDone; });
}

void TAlsaSoundDevice::Report(uint8_t* header) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        SoundHeader h(header);
        h.SetFlags((h.Flags() & ~uint32_t(kSoundHeaderInQueue)) | kSoundHeaderDone);
    }
    m_done(header);
}

void TAlsaSoundDevice::ClosePcm() {
    if (m_pPcm) snd_pcm_close(m_pPcm);
    m_pPcm = nullptr;
    m_bSound.store(false, std::memory_order_release);
}

} // namespace qm
