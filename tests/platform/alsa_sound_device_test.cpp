// The ALSA sound device: buffers come back in order with sound (ALSA's
// "null" PCM) and without (a PCM that does not exist), a reset flushes at
// once, and ALSA's messages stay off the terminal.

#include "platform/alsa_sound_device.h"
#include "platform/diagnostics.h"

#include <alsa/asoundlib.h>
#include <chrono>
#include <condition_variable>
#include <gtest/gtest.h>
#include <mutex>
#include <vector>

namespace qm {
namespace {

constexpr const char* kMissingPcm = "qm_no_such_pcm";

// count buffers of `bytes` bytes with their headers in front, written to the
// device, and the order in which it reports them.
class Buffers {
public:
    Buffers(size_t count, size_t bytes) : m_memory(count) {
        for (auto& memory : m_memory) {
            memory.assign(kSoundHeaderBytes + bytes, 0x11);
            SoundHeader(memory.data()).Fill(memory.data() + kSoundHeaderBytes, uint32_t(bytes));
            m_headers.push_back(memory.data());
        }
    }
    ISoundDevice::DoneCallback Callback() {
        return [this](uint8_t* header) {
            std::lock_guard<std::mutex> guard(m_lock);
            m_reported.push_back(header);
            m_changed.notify_all();
        };
    }
    void WriteTo(ISoundDevice& device) {
        for (uint8_t* header : m_headers) {
            ASSERT_TRUE(device.PrepareHeader(header));
            ASSERT_TRUE(device.Write(header));
        }
    }
    // All of them, in write order (waiting a generous while for loaded machines).
    bool AllReported() {
        std::unique_lock<std::mutex> lock(m_lock);
        m_changed.wait_for(lock, std::chrono::seconds(30),
                           [&] { return m_reported.size() >= m_headers.size(); });
        return m_reported == m_headers;
    }
    std::vector<uint8_t*> m_headers;

private:
    std::vector<std::vector<uint8_t>> m_memory;
    std::mutex m_lock;
    std::condition_variable m_changed;
    std::vector<uint8_t*> m_reported;
};

TEST(AlsaSoundDevice, PlaysAndReportsBuffersInOrder) {
    for (const char* pcm : {kMissingPcm, "null"}) {
        SCOPED_TRACE(pcm);
        const bool silent = pcm == kMissingPcm;
        snd_pcm_t* probe = nullptr;
        if (!silent && snd_pcm_open(&probe, pcm, SND_PCM_STREAM_PLAYBACK, SND_PCM_NONBLOCK) < 0)
            GTEST_SKIP() << "ALSA has no null PCM here";
        if (probe) snd_pcm_close(probe);
        Buffers buffers(6, 160); // 10 ms each
        TAlsaSoundDevice device(pcm);
        EXPECT_EQ(device.Open(SoundFormat{}, buffers.Callback()), !silent);
        EXPECT_EQ(device.IsSilent(), silent);
        device.SetVolume(0x80808080);
        buffers.WriteTo(device);
        EXPECT_TRUE(buffers.AllReported());
        for (uint8_t* header : buffers.m_headers) {
            EXPECT_EQ(SoundHeader(header).Flags(), kSoundHeaderDone | kSoundHeaderPrepared);
            EXPECT_TRUE(device.UnprepareHeader(header));
        }
        EXPECT_EQ(device.PlayedBytes(), 6u * 160);
    }
}

// Ten buffers of ten seconds: a reset reports all of them before it returns,
// none played to its end. Close does the same, and the device then refuses
// buffers; writes also need an open device and a prepared header.
TEST(AlsaSoundDevice, ResetAndCloseReportEveryQueuedBufferAtOnce) {
    Buffers buffers(10, 160000);
    TAlsaSoundDevice device(kMissingPcm);
    EXPECT_FALSE(device.Write(buffers.m_headers[0])); // not open
    EXPECT_FALSE(device.Open(SoundFormat{8000, 1, 8}, buffers.Callback()));
    device.Open(SoundFormat{}, buffers.Callback());
    EXPECT_FALSE(device.Write(buffers.m_headers[0])); // not prepared
    buffers.WriteTo(device);
    EXPECT_FALSE(device.Write(buffers.m_headers[0])); // already queued
    EXPECT_FALSE(device.UnprepareHeader(buffers.m_headers[9]));
    device.Reset();
    EXPECT_TRUE(buffers.AllReported());
    EXPECT_EQ(device.PlayedBytes(), 0u);

    Buffers more(3, 160000);
    TAlsaSoundDevice second(kMissingPcm);
    second.Open(SoundFormat{}, more.Callback());
    more.WriteTo(second);
    second.Close();
    EXPECT_TRUE(more.AllReported());
    EXPECT_FALSE(second.Write(more.m_headers[0]));
}

// ALSA's complaint about the missing PCM and the device's own line go to the
// diagnostics sink; nothing reaches the terminal.
TEST(AlsaSoundDevice, MessagesGoToDiagnosticsNotTheTerminal) {
    DiagnosticsCapture capture;
    testing::internal::CaptureStderr();
    {
        Buffers buffers(1, 16);
        TAlsaSoundDevice device(kMissingPcm);
        device.Open(SoundFormat{}, buffers.Callback());
    }
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    bool alsa = false, own = false;
    for (const std::string& line : capture.Lines()) {
        alsa |= line.rfind("[5][ALSA] ", 0) == 0 && line.find(kMissingPcm) != std::string::npos;
        own |= line.rfind("[5][AlsaSound] (Open) PCM \"qm_no_such_pcm\"", 0) == 0;
    }
    EXPECT_TRUE(alsa);
    EXPECT_TRUE(own);
}

} // namespace
} // namespace qm
