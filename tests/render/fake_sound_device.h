#pragma once
// A sound device the test drives: written buffers stay queued until the test
// completes them (standing in for the device's thread). What it saw is kept
// in a record that outlives the device, which the sound output deletes.

#include "platform/sound_device.h"

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qm::test {

struct FakeSoundRecord {
    std::mutex lock;
    SoundFormat format{0, 0, 0};
    uint32_t volume = 0;
    bool failPrepare = false, failWrite = false;
    std::vector<std::string> calls;  // "open", "prepare", "write", "reset", ...
    std::vector<uint8_t*> written;   // headers of accepted writes, in order
    std::vector<uint8_t> firstBytes; // the first sample byte of each
    std::vector<uint8_t*> queued;    // written and not yet reported
    std::vector<std::thread::id> unprepareThreads;
    int unpreparesAfterReset = 0;
    size_t reported = 0;
    ISoundDevice::DoneCallback done;

    // Reports the n oldest queued buffers done.
    void Complete(size_t n) {
        std::vector<uint8_t*> finished;
        {
            std::lock_guard<std::mutex> guard(lock);
            n = std::min(n, queued.size());
            finished.assign(queued.begin(), queued.begin() + long(n));
            queued.erase(queued.begin(), queued.begin() + long(n));
            reported += n;
        }
        for (uint8_t* header : finished)
            done(header);
    }
    size_t Count(const std::string& call) {
        std::lock_guard<std::mutex> guard(lock);
        return size_t(std::count(calls.begin(), calls.end(), call));
    }
};

class FakeSoundDevice : public ISoundDevice {
public:
    explicit FakeSoundDevice(FakeSoundRecord& record) : m_r(record) {}

    bool Open(const SoundFormat& format, DoneCallback done) override {
        Log("open");
        m_r.format = format;
        m_r.done = std::move(done);
        return true;
    }
    bool SetVolume(uint32_t volume) override {
        Log("volume");
        m_r.volume = volume;
        return true;
    }
    bool PrepareHeader(uint8_t*) override { return Log("prepare") && !m_r.failPrepare; }
    bool UnprepareHeader(uint8_t*) override {
        std::lock_guard<std::mutex> guard(m_r.lock);
        m_r.calls.push_back("unprepare");
        m_r.unprepareThreads.push_back(std::this_thread::get_id());
        m_r.unpreparesAfterReset += std::count(m_r.calls.begin(), m_r.calls.end(), "reset") > 0;
        return true;
    }
    bool Write(uint8_t* header) override {
        std::lock_guard<std::mutex> guard(m_r.lock);
        m_r.calls.push_back("write");
        if (m_r.failWrite) return false;
        m_r.written.push_back(header);
        m_r.firstBytes.push_back(SoundHeader(header).Data()[0]);
        m_r.queued.push_back(header);
        return true;
    }
    void Reset() override {
        Log("reset");
        m_r.Complete(SIZE_MAX);
    }
    void Close() override {
        Log("close");
        m_r.Complete(SIZE_MAX);
    }

private:
    bool Log(const char* call) {
        std::lock_guard<std::mutex> guard(m_r.lock);
        m_r.calls.push_back(call);
        return true;
    }
    FakeSoundRecord& m_r;
};

} // namespace qm::test
