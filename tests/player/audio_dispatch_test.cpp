// The selected camera's sound while playing: decoded by its audio type and
// handed to the sound output, at 1x forward only.

#include "platform/sound_device.h"
#include "player/player_ex.h"
#include "tests/process_temp_dir.h"
#include "tools/mkrec/recording_generator.h"
#include "tools/mkrec/recording_plan.h"
#include "tools/mkrec/video_encoder.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qm {
namespace {

// Keeps every sample it is given and reports each buffer done at once.
struct CapturedSound {
    std::mutex lock;
    std::vector<int16_t> samples;
};

class CapturingDevice : public ISoundDevice {
public:
    explicit CapturingDevice(std::shared_ptr<CapturedSound> sink) : m_sink(std::move(sink)) {}
    bool Open(const SoundFormat& format, DoneCallback done) override {
        EXPECT_EQ(format.nSampleRate, 8000);
        EXPECT_EQ(format.nChannels, 1);
        EXPECT_EQ(format.nBitsPerSample, 16);
        m_done = std::move(done);
        return true;
    }
    bool SetVolume(uint32_t) override { return true; }
    bool PrepareHeader(uint8_t* header) override {
        SoundHeader h(header);
        h.SetFlags(h.Flags() | kSoundHeaderPrepared);
        return true;
    }
    bool UnprepareHeader(uint8_t* header) override {
        SoundHeader h(header);
        h.SetFlags(h.Flags() & ~uint32_t(kSoundHeaderPrepared));
        return true;
    }
    bool Write(uint8_t* header) override {
        SoundHeader h(header);
        {
            std::lock_guard guard(m_sink->lock);
            const auto* pcm = h.Data();
            for (uint32_t i = 0; i + 1 < h.Length(); i += 2)
                m_sink->samples.push_back(int16_t(pcm[i] | (pcm[i + 1] << 8)));
        }
        h.SetFlags(h.Flags() | kSoundHeaderDone);
        m_done(header);
        return true;
    }
    void Reset() override {}
    void Close() override {}

private:
    std::shared_ptr<CapturedSound> m_sink;
    DoneCallback m_done;
};

// Zero crossings per second of a stretch of samples: about 2000 for a 1 kHz tone.
double CrossingsPerSecond(const std::vector<int16_t>& s) {
    int crossings = 0;
    for (size_t i = 1; i < s.size(); ++i)
        if ((s[i - 1] < 0) != (s[i] < 0)) ++crossings;
    return s.empty() ? 0 : crossings * 8000.0 / double(s.size());
}

class AudioDispatch : public testing::TestWithParam<int> {};

TEST_P(AudioDispatch, SelectedCameraPlaysItsToneAtNormalSpeedOnly) {
    const int audioType = GetParam();
    mkrec::quietCodecLog();
    mkrec::RecordingPlan plan;
    plan.channels = {0, 1};
    plan.durationSeconds = 3;
    plan.fps = 8;
    plan.defaultSize = {96, 64};
    plan.blockSize = 65536;
    plan.audio = {{0, uint8_t(audioType)}};
    static const test::ProcessTempDir process("player_audio");
    const auto path = process.ForCurrentTest() / "tone.avr";
    mkrec::writeArchive(plan, path.string());

    auto sound = std::make_shared<CapturedSound>();
    {
        CQMPlayerEx player;
        player.resize(192, 64);
        player.SetChannelMask(0x3);
        player.UpdateLayout();
        player.SetSoundDeviceFactory([sound] { return std::make_unique<CapturingDevice>(sound); });
        ASSERT_TRUE(player.OpenArchive(path.string()));
        ASSERT_EQ(player.SelectedChannel(), 0);
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (std::chrono::steady_clock::now() < end &&
               player.CurrentTime() < player.Recording().end) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        player.Shutdown();
        EXPECT_GT(player.SoundBytesWritten(), 0u);
    }
    std::lock_guard guard(sound->lock);
    // About a second of sound per second played (the first frames wait for a key frame).
    EXPECT_GT(sound->samples.size(), 8000u);
    EXPECT_NEAR(CrossingsPerSecond(sound->samples), 2000, 200);
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(BothSoundTypes, AudioDispatch, testing::Values(2, 5));

TEST(AudioDispatchRules, NothingIsDueForAnotherChannelOrInReverseOrAtSpeed) {
    CQMPlayerEx player;
    player.SetSettleLimitMs(10); // nothing is open: a re-seek waits for nothing
    player.SelectChannel(1);
    EXPECT_EQ(player.PlayChannelAudio(0), 0);
    player.SelectChannel(0);
    player.ReverseOrPause();
    EXPECT_EQ(player.PlayChannelAudio(0), 0);
    player.Faster(); // forward again at twice the speed
    ASSERT_EQ(player.Speed(), 2);
    EXPECT_EQ(player.PlayChannelAudio(0), 0);
    player.PlayOrPause(); // pause
    player.PlayOrPause(); // play at 1x
    ASSERT_EQ(player.Speed(), 1);
    EXPECT_EQ(player.PlayChannelAudio(0), 1); // due, though nothing is open to play
    EXPECT_EQ(player.SoundBytesWritten(), 0u);
}

} // namespace
} // namespace qm
