// The sound output: pre-roll, the in-flight limit and its re-arming, block
// recycling, failing devices and teardown, over a device the test drives, and
// with real threads over the silent ALSA device.

#include "fake_sound_device.h"
#include "platform/alsa_sound_device.h"
#include "render/wave_out_render_impl.h"

#include <chrono>
#include <gtest/gtest.h>
#include <memory>
#include <thread>

namespace qm {
namespace {

using test::FakeSoundDevice;
using test::FakeSoundRecord;

struct Output {
    FakeSoundRecord record; // outlives the output and its device
    std::unique_ptr<CWaveOutRenderImpl> output =
        std::make_unique<CWaveOutRenderImpl>(std::make_unique<FakeSoundDevice>(record));

    void Write(uint8_t fill, uint32_t bytes = 640) {
        const std::vector<uint8_t> pcm(bytes, fill);
        output->Write(bytes, pcm.data());
    }
    // Completes n blocks and waits until the output's thread has taken them back.
    void Complete(size_t n) {
        record.Complete(n);
        output->Sync();
    }
    size_t InFlight() const { return output->InFlightCount(); }
};

// The device is opened for 8 kHz 16-bit mono at half volume. The first three
// writes make no sound; the fourth releases all four, in order. Each block is
// length word, 32-byte header, samples.
TEST(WaveOut, PrerollReleasesFourBlocksInOrder) {
    Output out;
    EXPECT_EQ(out.record.format.nSampleRate, 8000);
    EXPECT_EQ(out.record.format.nChannels, 1);
    EXPECT_EQ(out.record.format.nBitsPerSample, 16);
    EXPECT_EQ(out.record.volume, 0x80808080u);
    for (uint8_t i = 1; i <= 3; ++i) {
        out.Write(i, 640 + i);
        EXPECT_EQ(out.output->PrerollCount(), size_t(i));
        EXPECT_EQ(out.record.Count("write"), 0u);
    }
    EXPECT_FALSE(out.output->IsStarted());
    out.Write(4, 644);
    EXPECT_TRUE(out.output->IsStarted());
    EXPECT_EQ(out.output->PrerollCount(), 0u);
    out.Write(5, 645);
    EXPECT_EQ(out.InFlight(), 5u);
    std::lock_guard<std::mutex> guard(out.record.lock);
    EXPECT_EQ(out.record.firstBytes, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    for (uint32_t i = 0; i < 5; ++i) {
        uint8_t* header = out.record.written[i];
        EXPECT_EQ(SoundHeader(header).Data(), header + 32);
        EXPECT_EQ(SoundHeader(header).Length(), 641 + i);
        EXPECT_EQ(loadLE32(header - 4), 32 + 641 + i);
    }
}

// With the device stalled, the eleventh block (10 in flight) is refused; the
// following ones are queued until the device has returned enough that 4 or
// fewer are in flight, which re-arms the limit.
TEST(WaveOut, InFlightLimitDropsOneBlockAndRearmsAtFour) {
    Output out;
    for (uint8_t i = 0; i < 11; ++i)
        out.Write(i);
    EXPECT_EQ(out.InFlight(), 10u);
    EXPECT_TRUE(out.output->IsThrottled());
    EXPECT_EQ(out.output->FreePoolCount(), 1u); // the refused block
    out.Write(11);
    out.Write(12);
    EXPECT_EQ(out.InFlight(), 12u);
    out.Complete(7);
    out.Write(13); // 5 in flight: still throttled
    EXPECT_TRUE(out.output->IsThrottled());
    out.Complete(2);
    out.Write(14); // 4 in flight: re-armed
    EXPECT_FALSE(out.output->IsThrottled());
    for (uint8_t i = 15; i < 21; ++i)
        out.Write(i);
    EXPECT_EQ(out.InFlight(), 10u);
    EXPECT_TRUE(out.output->IsThrottled());
    std::lock_guard<std::mutex> guard(out.record.lock);
    std::vector<uint8_t> expected; // the sound of blocks 10 and 20 was dropped
    for (uint8_t i = 0; i < 20; ++i)
        if (i != 10) expected.push_back(i);
    EXPECT_EQ(out.record.firstBytes, expected);
}

// Completed blocks are unprepared on the output's own thread and pooled; the
// pool hands back the most recently freed block first, so steady playback
// allocates nothing. Unknown headers are ignored.
TEST(WaveOut, CompletedBlocksAreRecycledLastInFirstOut) {
    const int before = TSysData::LiveBlocks();
    Output out;
    for (uint8_t i = 0; i < 6; ++i)
        out.Write(i);
    out.Complete(2);
    EXPECT_EQ(out.InFlight(), 4u);
    EXPECT_EQ(out.output->FreePoolCount(), 2u);
    out.Write(6);
    out.Write(7);
    EXPECT_EQ(TSysData::LiveBlocks() - before, 6);
    uint8_t stray[64] = {};
    {
        std::lock_guard<std::mutex> guard(out.record.lock);
        EXPECT_EQ(out.record.written[6], out.record.written[1]);
        EXPECT_EQ(out.record.written[7], out.record.written[0]);
        ASSERT_EQ(out.record.unprepareThreads.size(), 2u);
        EXPECT_NE(out.record.unprepareThreads[0], std::this_thread::get_id());
        out.record.queued.insert(out.record.queued.begin(), stray + 4);
    }
    out.Complete(1);
    EXPECT_EQ(out.InFlight(), 6u);
    EXPECT_EQ(out.output->FreePoolCount(), 0u);
}

// A block the device cannot prepare or write is never reported, so it goes
// straight back to the pool: nothing piles up in flight.
TEST(WaveOut, BlocksTheDeviceRefusesGoBackToThePool) {
    for (const bool failPrepare : {true, false}) {
        const int before = TSysData::LiveBlocks();
        Output out;
        out.record.failPrepare = failPrepare;
        out.record.failWrite = !failPrepare;
        for (uint8_t i = 0; i < 30; ++i)
            out.Write(i);
        EXPECT_EQ(out.InFlight(), 0u);
        EXPECT_EQ(out.output->FreePoolCount(), 4u);
        EXPECT_EQ(TSysData::LiveBlocks() - before, 4);
        // Prepared but not written: unprepared again.
        EXPECT_EQ(out.record.Count("unprepare"), failPrepare ? 0u : 30u);
    }
}

// Teardown resets the device before closing it; every queued block comes
// back, none is unprepared after the reset, and every block is freed,
// including those still in the pre-roll.
TEST(WaveOut, TeardownStopsTheDeviceAndFreesEveryBlock) {
    const int before = TSysData::LiveBlocks();
    FakeSoundRecord record;
    {
        CWaveOutRenderImpl output(std::make_unique<FakeSoundDevice>(record));
        const std::vector<uint8_t> pcm(640, 1);
        for (int i = 0; i < 8; ++i)
            output.Write(uint32_t(pcm.size()), pcm.data());
        record.Complete(1);
        output.Sync();
        EXPECT_EQ(output.InFlightCount(), 7u);
    }
    EXPECT_EQ(TSysData::LiveBlocks(), before);
    EXPECT_EQ(record.reported, 8u);
    EXPECT_EQ(record.unpreparesAfterReset, 0);
    EXPECT_EQ(record.calls.back(), "close");
    EXPECT_EQ(record.calls[record.calls.size() - 2], "reset");
    {
        Output out;
        out.Write(1);
        out.Write(2);
        const uint8_t byte = 0;
        out.output->Write(100, nullptr); // dropped, as is a write beyond the limit
        out.output->Write(CWaveOutRenderImpl::kMaxWriteBytes + 1, &byte);
        EXPECT_EQ(out.output->PrerollCount(), 2u);
    }
    EXPECT_EQ(TSysData::LiveBlocks(), before);
}

// Real threads: the silent ALSA device reports blocks from its own thread at
// playing pace while the writer goes on; in the end every block is back in
// the pool. Destroying an output with seconds of sound queued returns
// without playing it.
TEST(WaveOut, SilentAlsaDeviceRecyclesEveryBlock) {
    const int before = TSysData::LiveBlocks();
    {
        CWaveOutRenderImpl output(std::make_unique<TAlsaSoundDevice>("qm_no_such_pcm"));
        const std::vector<uint8_t> pcm(16, 0); // 1 ms
        for (int i = 0; i < 200; ++i) {
            output.Write(uint32_t(pcm.size()), pcm.data());
            if (i % 20 == 0) std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
        while (output.InFlightCount() > 0 && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        output.Sync();
        EXPECT_EQ(output.InFlightCount(), 0u);
        EXPECT_EQ(int(output.FreePoolCount()), TSysData::LiveBlocks() - before);
    }
    {
        CWaveOutRenderImpl output(std::make_unique<TAlsaSoundDevice>("qm_no_such_pcm"));
        const std::vector<uint8_t> pcm(80000, 0); // 5 s
        for (int i = 0; i < 8; ++i)
            output.Write(uint32_t(pcm.size()), pcm.data());
        EXPECT_GE(output.InFlightCount(), 7u);
    }
    EXPECT_EQ(TSysData::LiveBlocks(), before);
}

} // namespace
} // namespace qm
