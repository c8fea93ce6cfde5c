#pragma once
// A sound output device in the manner of a wave output: the caller hands it
// buffers of PCM, each described by a 32-byte header kept in the caller's
// memory; the device plays them in order and reports every buffer back when
// it is done with it, played or flushed.

#include "platform/byte_order.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>

namespace qm {

struct SoundFormat {
    int nSampleRate = 8000;
    int nChannels = 1;
    int nBitsPerSample = 16; // signed little-endian
};

constexpr size_t kSoundHeaderBytes = 32;

enum SoundHeaderFlag : uint32_t {
    kSoundHeaderDone = 0x01,     // the device has finished with the buffer
    kSoundHeaderPrepared = 0x02, // PrepareHeader succeeded, UnprepareHeader not yet
    kSoundHeaderInQueue = 0x10,  // written and not yet reported done
};

// A view on a 32-byte buffer header: the samples' address (8 bytes), their
// length in bytes (4), the flags (4), 16 bytes unused. The header may sit at
// any alignment, so it is read and written by copying.
class SoundHeader {
public:
    explicit SoundHeader(uint8_t* header) : m_p(header) {}

    uint8_t* Address() const { return m_p; }

    const uint8_t* Data() const {
        const uint8_t* data;
        std::memcpy(&data, m_p, sizeof data);
        return data;
    }
    void SetData(const uint8_t* data) { std::memcpy(m_p, &data, sizeof data); }
    uint32_t Length() const { return loadLE32(m_p + 8); }
    void SetLength(uint32_t length) { storeLE32(m_p + 8, length); }
    uint32_t Flags() const { return loadLE32(m_p + 12); }
    void SetFlags(uint32_t flags) { storeLE32(m_p + 12, flags); }

    // A fresh header for `length` bytes at `data`, flags 0.
    void Fill(const uint8_t* data, uint32_t length) {
        std::memset(m_p, 0, kSoundHeaderBytes);
        SetData(data);
        SetLength(length);
    }

private:
    uint8_t* m_p;
};

class ISoundDevice {
public:
    // Receives each header the device is done with. Called on the device's
    // own thread, or on the caller's thread inside Reset and Close; it must
    // not call back into the device.
    using DoneCallback = std::function<void(uint8_t* header)>;

    virtual ~ISoundDevice() = default;

    // Opens the device for the format; false when no device can be opened
    // (a device may still accept buffers then, playing them silently).
    virtual bool Open(const SoundFormat& format, DoneCallback done) = 0;
    // Output level, low 16 bits left and high 16 bits right, 0xFFFF full.
    virtual bool SetVolume(uint32_t volume) = 0;
    virtual bool PrepareHeader(uint8_t* header) = 0;
    // Fails while the buffer is still queued.
    virtual bool UnprepareHeader(uint8_t* header) = 0;
    // Queues a prepared buffer; false when it was not queued (and so will
    // never be reported).
    virtual bool Write(uint8_t* header) = 0;
    // Stops the sound at once: every queued buffer is reported done before
    // Reset returns.
    virtual void Reset() = 0;
    // Ends playback; buffers still queued are reported done first.
    virtual void Close() = 0;
};

} // namespace qm
