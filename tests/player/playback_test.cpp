// Headless playback of generated archives: which frame of which channel each
// cell of the composed surface shows over time, read back from the stamp that
// the generator puts into every picture.

#include "platform/output_files.h"
#include "player/player_ex.h"
#include "tests/process_temp_dir.h"
#include "tools/mkrec/frame_pattern.h"
#include "tools/mkrec/recording_generator.h"
#include "tools/mkrec/recording_plan.h"
#include "tools/mkrec/video_encoder.h"

#include <QCoreApplication>
#include <QFile>
#include <QImage>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

namespace qm {
namespace {

constexpr int kChannels = 4;
constexpr int kFps = 8;
constexpr int kGop = 4;
constexpr int kSeconds = 4;
constexpr int kFrames = kFps * kSeconds;
constexpr int kWidth = 176, kHeight = 144;
constexpr uint32_t kGapStart = 2, kGapEnd = 62;

// Sanitizer builds run several times slower, and unevenly: the pace they keep
// is held to a loose bound only. (The ThreadSanitizer stage does not run the
// pace check at all: scripts/setup.sh, tsan_skip.)
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitizerBuild = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool kSanitizerBuild = true;
#else
constexpr bool kSanitizerBuild = false;
#endif
#else
constexpr bool kSanitizerBuild = false;
#endif
// Wall time between a channel's first and last frame shown over the recorded
// time between them. An ordinary build keeps within a few per cent of 1; a
// two-core machine crowded with other players and busy loops was seen at
// 0.90 to 1.45.
constexpr double kPaceLow = kSanitizerBuild ? 0.6 : 0.8;
constexpr double kPaceHigh = kSanitizerBuild ? 3.0 : 1.5;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

struct Seen {
    int64_t ms;
    uint32_t frame;
};

// Sees every composed surface the player presents and logs each change of a
// cell's stamp. Present runs on the drawing threads, under the drawing lock.
class WatchedPlayer : public CQMPlayerEx {
public:
    ~WatchedPlayer() override { Shutdown(); } // no draw may reach a half-destroyed watcher

    void Present(const QImage& back) override {
        Observe(back);
        CQMPlayerEx::Present(back);
    }

    // Polls until done() holds or the time is up; true when done() held.
    bool RunUntil(const std::function<bool()>& done, int64_t timeoutMs) {
        const int64_t end = NowMs() + timeoutMs;
        while (NowMs() < end) {
            QCoreApplication::processEvents();
            if (done()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return false;
    }
    void RunFor(int64_t ms) {
        RunUntil([] { return false; }, ms);
    }

    bool AllReached(uint32_t frame) const {
        std::lock_guard lock(m_csLog);
        for (int ch = 0; ch < kChannels; ++ch)
            if (!m_current[ch] || *m_current[ch] != frame) return false;
        return true;
    }
    bool AllAtLeast(uint32_t frame) const {
        std::lock_guard lock(m_csLog);
        for (int ch = 0; ch < kChannels; ++ch)
            if (!m_current[ch] || *m_current[ch] < frame) return false;
        return true;
    }
    std::optional<uint32_t> Current(int ch) const {
        std::lock_guard lock(m_csLog);
        return m_current[ch];
    }
    std::vector<Seen> Log(int ch) const {
        std::lock_guard lock(m_csLog);
        return m_log[ch];
    }
    std::vector<uint32_t> Frames(int ch, size_t from = 0) const {
        std::lock_guard lock(m_csLog);
        std::vector<uint32_t> out;
        for (size_t i = from; i < m_log[ch].size(); ++i)
            out.push_back(m_log[ch][i].frame);
        return out;
    }
    int WrongChannel() const { return m_nWrongChannel.load(); }

private:
    void Observe(const QImage& back) {
        // The quad split of Open(): cells of 2 x 2 picture sizes, sampled back
        // to picture size (cheap: this runs inside every draw).
        const QImage rgb = back.format() == QImage::Format_RGB32
                               ? back
                               : back.convertToFormat(QImage::Format_RGB32);
        std::vector<uint8_t> luma(kWidth * kHeight);
        for (int ch = 0; ch < kChannels; ++ch) {
            const int left = (ch % 2) * 2 * kWidth, top = (ch / 2) * 2 * kHeight;
            for (int y = 0; y < kHeight; ++y) {
                const auto* row = reinterpret_cast<const QRgb*>(rgb.constScanLine(top + 2 * y + 1));
                for (int x = 0; x < kWidth; ++x)
                    luma[y * kWidth + x] = uint8_t(qGray(row[left + 2 * x + 1]));
            }
            const auto stamp = mkrec::decodePattern(luma.data(), kWidth, kWidth, kHeight);
            if (!stamp) continue;
            if (stamp->channel != ch) ++m_nWrongChannel;
            std::lock_guard lock(m_csLog);
            if (!m_current[ch] || *m_current[ch] != stamp->frame) {
                m_current[ch] = stamp->frame;
                m_log[ch].push_back({NowMs(), stamp->frame});
            }
        }
    }

    mutable std::mutex m_csLog;
    std::array<std::optional<uint32_t>, kChannels> m_current;
    std::array<std::vector<Seen>, kChannels> m_log;
    std::atomic<int> m_nWrongChannel{0};
};

class Playback : public testing::Test {
protected:
    static void SetUpTestSuite() {
        mkrec::quietCodecLog();
        mkrec::RecordingPlan plan;
        plan.channels = {0, 1, 2, 3};
        plan.durationSeconds = kSeconds;
        plan.fps = kFps;
        plan.gop = kGop;
        plan.defaultSize = {kWidth, kHeight};
        plan.blockSize = 65536;
        plan.quality = 30;
        // This process's own folder, emptied before use: ctest runs the cases
        // of this suite in parallel processes.
        static const test::ProcessTempDir process("player_playback");
        const auto dir = process.ForCurrentTest();
        s_path = (dir / "four.avr").string();
        mkrec::writeArchive(plan, s_path);

        plan.durationSeconds = kGapEnd + 2;
        plan.gaps = {{kGapStart, kGapEnd}};
        s_gapPath = (dir / "gap.avr").string();
        mkrec::writeArchive(plan, s_gapPath);
    }

    static void TearDownTestSuite() {
        std::filesystem::remove(s_path);
        std::filesystem::remove(s_gapPath);
        std::filesystem::remove(s_path + ".png");
    }

    // Opens the archive in the 2 x 2 split, each cell twice the picture size,
    // at `speed` (fast forward pressed before the open, so that the first
    // frames come at that speed already).
    void Open(CQMPlayerEx& player, int speed = 1, const std::string& path = s_path) {
        player.resize(2 * 2 * kWidth, 2 * 2 * kHeight);
        player.SetChannelMask(0xF);
        player.UpdateLayout();
        while (player.Speed() < speed)
            player.Faster();
        ASSERT_TRUE(player.OpenArchive(path));
        ASSERT_EQ(player.Speed(), speed);
        EXPECT_TRUE(player.TimersRunning());
    }

    static std::string s_path;
    static std::string s_gapPath; // frames before kGapStart and from kGapEnd seconds
};
std::string Playback::s_path;
std::string Playback::s_gapPath;

bool StrictlyIncreasing(const std::vector<uint32_t>& v) {
    for (size_t i = 1; i < v.size(); ++i)
        if (v[i] <= v[i - 1]) return false;
    return true;
}

TEST_F(Playback, NormalAndDoubleSpeedShowFramesInOrderAtTheRecordedPace) {
    for (const int speed : {1, 2}) {
        SCOPED_TRACE(speed);
        WatchedPlayer player;
        Open(player, speed);
        WatchedPlayer& watcher = player;
        EXPECT_TRUE(watcher.RunUntil([&] { return watcher.AllReached(kFrames - 1); }, 20000));
        for (int ch = 0; ch < kChannels; ++ch) {
            const auto frames = watcher.Frames(ch);
            SCOPED_TRACE(ch);
            EXPECT_TRUE(StrictlyIncreasing(frames));
            if (speed == 1)
                EXPECT_EQ(frames.size(), size_t(kFrames)); // every frame is drawn
            else // above 1x a channel that falls behind waits for its next key frame
                EXPECT_GE(frames.size(), size_t(kFrames) * 3 / 4);
            ASSERT_GE(frames.size(), 2u);
            const auto& log = watcher.Log(ch);
            const double wall = double(log.back().ms - log.front().ms);
            const double media = (log.back().frame - log.front().frame) * 1000.0 / kFps / speed;
            EXPECT_GT(wall, media * kPaceLow);
            EXPECT_LT(wall, media * kPaceHigh);
        }
        EXPECT_EQ(player.CurrentTime() - player.Recording().start, uint32_t(kSeconds - 1));
        EXPECT_EQ(player.WrongChannel(), 0);
    }
}

TEST_F(Playback, AOneMinuteGapIsCrossedAfterAboutFiveSeconds) {
    WatchedPlayer player;
    Open(player, 1, s_gapPath);
    WatchedPlayer& watcher = player;
    const uint32_t firstAfterGap = kGapEnd * kFps;
    ASSERT_TRUE(watcher.RunUntil([&] { return watcher.AllAtLeast(firstAfterGap); }, 20000));
    for (int ch = 0; ch < kChannels; ++ch) {
        SCOPED_TRACE(ch);
        const auto log = watcher.Log(ch);
        size_t after = 0;
        while (after < log.size() && log[after].frame < firstAfterGap)
            ++after;
        ASSERT_GT(after, 0u);
        ASSERT_LT(after, log.size());
        EXPECT_EQ(log[after - 1].frame, uint32_t(kGapStart * kFps - 1));
        const int64_t crossing = log[after].ms - log[after - 1].ms;
        EXPECT_GE(crossing, 4000);
        EXPECT_LE(crossing, 12000);
    }
}

TEST_F(Playback, AHiddenChannelIsStoredButNotDecoded) {
    WatchedPlayer player;
    player.resize(2 * 2 * kWidth, 2 * 2 * kHeight);
    player.SetChannelMask(0xF);
    player.ToggleSingleView(0); // channel 0 alone
    ASSERT_EQ(player.DisplayedMask(), 1u);
    ASSERT_TRUE(player.OpenArchive(s_path));
    WatchedPlayer& watcher = player;
    EXPECT_TRUE(watcher.RunUntil(
        [&] {
            for (int ch = 1; ch < kChannels; ++ch)
                if (player.StoredCount(ch) < uint64_t(kFrames)) return false;
            return player.DecodedCount(0) >= uint64_t(kFrames);
        },
        20000));
    for (int ch = 1; ch < kChannels; ++ch) {
        SCOPED_TRACE(ch);
        EXPECT_EQ(player.StoredCount(ch), uint64_t(kFrames));
        EXPECT_EQ(player.DecodedCount(ch), 0u);
    }
    EXPECT_EQ(player.StoredCount(0), uint64_t(kFrames));
}

TEST_F(Playback, FastForwardShowsKeyFramesWithTheSkipLevels) {
    // The recording's end time is the second of its last frames (start + 3),
    // so the key frames of its last two seconds (frames 16 to 28) are always
    // shown and fast play ends on the last one; the others follow the skip
    // counter: 4x every key frame, 8x every second one, 16x every third, 64x
    // every fourth.
    const std::map<int, std::set<uint32_t>> shown = {
        {4, {0, 4, 8, 12, 16, 20, 24, 28}},
        {8, {0, 8, 16, 20, 24, 28}},
        {16, {0, 12, 16, 20, 24, 28}},
        {64, {0, 16, 20, 24, 28}},
    };
    for (const auto& [speed, expected] : shown) {
        SCOPED_TRACE(speed);
        WatchedPlayer player;
        Open(player, speed);
        WatchedPlayer& watcher = player;
        ASSERT_EQ(player.Recording().end - player.Recording().start, uint32_t(kSeconds - 1));
        const uint32_t last = *expected.rbegin();
        EXPECT_TRUE(watcher.RunUntil([&] { return watcher.AllReached(last); }, 5000));
        watcher.RunFor(300); // nothing after the last expected frame
        for (int ch = 0; ch < kChannels; ++ch) {
            const auto frames = watcher.Frames(ch);
            EXPECT_TRUE(StrictlyIncreasing(frames)) << "channel " << ch;
            for (uint32_t f : frames)
                EXPECT_TRUE(expected.count(f)) << "channel " << ch << " showed frame " << f;
            EXPECT_EQ(frames.size(), expected.size()) << "channel " << ch;
        }
        EXPECT_EQ(player.WrongChannel(), 0);
    }
}

TEST_F(Playback, ReverseShowsEarlierKeyFramesOnly) {
    WatchedPlayer player;
    Open(player);
    WatchedPlayer& watcher = player;
    ASSERT_TRUE(watcher.RunUntil([&] { return watcher.AllAtLeast(10); }, 5000));
    // Let the frames already released be drawn before turning round.
    player.Pause();
    for (uint64_t draws = ~0ull; draws != player.DrawCount();) {
        draws = player.DrawCount();
        watcher.RunFor(300);
    }
    std::array<size_t, kChannels> from{};
    std::array<uint32_t, kChannels> reached{};
    for (int ch = 0; ch < kChannels; ++ch) {
        reached[ch] = *watcher.Current(ch);
        from[ch] = watcher.Log(ch).size();
    }
    player.ReverseOrPause();
    EXPECT_TRUE(player.IsReverse());
    EXPECT_EQ(player.PlayStateNow(), kPlayStatePlaying);
    EXPECT_TRUE(watcher.RunUntil([&] { return watcher.AllReached(0); }, 10000));
    for (int ch = 0; ch < kChannels; ++ch) {
        SCOPED_TRACE(ch);
        const auto frames = watcher.Frames(ch, from[ch]);
        ASSERT_FALSE(frames.empty());
        uint32_t previous = reached[ch] + kFps; // the seek restarts within the current second
        for (uint32_t f : frames) {
            EXPECT_EQ(f % kGop, 0u) << f;
            EXPECT_LT(f, previous);
            previous = f;
        }
    }
}

using Frames = std::array<uint32_t, kChannels>;

Frames Shown(const WatchedPlayer& watcher) {
    Frames f{};
    for (int ch = 0; ch < kChannels; ++ch)
        f[ch] = watcher.Current(ch).value_or(UINT32_MAX);
    return f;
}

Frames AllAt(uint32_t frame) {
    Frames f;
    f.fill(frame);
    return f;
}

// A cell of half the picture's size is drawn from a picture halved by
// averaging, which fills it pixel for pixel; the picture a held camera gives
// for saving is still the recorded one, whole.
TEST_F(Playback, SmallCellsDrawHalvedPicturesButTheShownPictureStaysWhole) {
    CQMPlayerEx player;
    player.resize(kWidth, kHeight); // the 2 x 2 split: cells of half a picture
    player.SetChannelMask(0xF);
    player.UpdateLayout();
    ASSERT_TRUE(player.OpenArchive(s_path));
    const CellRect cell = player.CellOf(0);
    ASSERT_LE(cell.right - cell.left, kWidth / 2);
    ASSERT_LE(cell.bottom - cell.top, kHeight / 2);
    auto runFor = [](int64_t ms, const std::function<bool()>& done) {
        const int64_t end = NowMs() + ms;
        while (NowMs() < end && !done()) {
            QCoreApplication::processEvents();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    };
    runFor(5000, [&] { return player.DrawCount() >= 12 && player.ShownFrame(0); });
    player.Pause();
    // Pictures handed on before the pause are still drawn; then none comes.
    uint64_t draws = player.DrawCount();
    runFor(5000, [&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const uint64_t now = player.DrawCount();
        return std::exchange(draws, now) == now;
    });
    const auto shown = player.ShownFrame(0);
    ASSERT_TRUE(shown);
    const QImage halved = player.BackBuffer();

    const QImage whole = player.ShownPicture(0);
    ASSERT_EQ(whole.size(), QSize(kWidth, kHeight));
    std::vector<uint8_t> luma(size_t(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            luma[size_t(y) * kWidth + size_t(x)] = uint8_t(qGray(whole.pixel(x, y)));
    const auto stamp = mkrec::decodePattern(luma.data(), kWidth, kWidth, kHeight);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->channel, 0);
    const uint32_t frame = (shown->time - player.Recording().start) * kFps +
                           uint32_t(shown->microseconds / 1000) * kFps / 1000;
    EXPECT_EQ(stamp->frame, frame);

    // Drawn again from the whole picture, the cell looks the same: the
    // halving lands where the scaler would have put the picture.
    player.RepaintChannel(0);
    const QImage scaled = player.BackBuffer();
    double difference = 0;
    int samples = 0;
    for (int y = cell.top; y < cell.bottom; ++y)
        for (int x = cell.left; x < cell.right; ++x) {
            difference += std::abs(qGray(halved.pixel(x, y)) - qGray(scaled.pixel(x, y)));
            ++samples;
        }
    EXPECT_LT(difference / samples, 6.0);
}

// A step is a moment: every camera moves one frame per press, and a step back
// shows the previous frame exactly (not the key frame before it), across key
// frames and blocks, drawn by the time the verb returns.
TEST_F(Playback, StepsMoveEveryCameraOneFrameAndBackStepsAreExact) {
    WatchedPlayer player;
    Open(player);
    WatchedPlayer& watcher = player;
    ASSERT_TRUE(watcher.RunUntil([&] { return watcher.AllAtLeast(3); }, 4000));
    player.Pause();
    EXPECT_EQ(player.PlayStateNow(), kPlayStatePaused);
    watcher.RunFor(100);

    // The first step brings every camera to the same moment.
    player.StepForward();
    const Frames first = Shown(watcher);
    ASSERT_EQ(first, AllAt(first[0]));
    const QImage firstPicture = player.BackBuffer();
    const uint32_t start = player.Recording().start;

    uint32_t frame = first[0];
    for (int step = 0; step < 2 * kGop + 1 && frame + 1 < kFrames; ++step) {
        SCOPED_TRACE(step);
        player.StepForward();
        ++frame;
        EXPECT_EQ(Shown(watcher), AllAt(frame));
        EXPECT_EQ(player.CurrentTime(), start + frame / kFps);
        EXPECT_EQ(player.PlayStateNow(), kPlayStatePaused);
        EXPECT_EQ(player.State().activity, Activity::kStepForward);
    }
    // Fast forward while paused is a step too, at normal speed.
    player.Faster();
    ++frame;
    EXPECT_EQ(Shown(watcher), AllAt(frame));
    EXPECT_EQ(player.Speed(), 1);

    // Back to frame 0 one frame at a time, then nothing earlier.
    while (frame > 0) {
        SCOPED_TRACE(frame);
        player.StepReverse();
        --frame;
        ASSERT_EQ(Shown(watcher), AllAt(frame));
        EXPECT_TRUE(player.IsReverse());
        EXPECT_EQ(player.State().activity, Activity::kStepReverse);
        if (frame == first[0]) EXPECT_TRUE(player.BackBuffer() == firstPicture);
    }
    player.StepReverse();
    EXPECT_EQ(Shown(watcher), AllAt(0));

    // Channel 0 steps on alone in its single view; back in the quad the other
    // cells show that moment too, not the pictures they had.
    player.ToggleSingleView(0);
    EXPECT_EQ(player.DisplayMode(), 1);
    player.StepForward();
    player.ToggleSingleView(0);
    EXPECT_EQ(player.DisplayMode(), 2);
    EXPECT_EQ(Shown(watcher), AllAt(1));
    // Playing, they would wait for a key frame.
    EXPECT_FALSE(player.IsStarted(1) || player.IsStarted(2) || player.IsStarted(3));

    // A picture left by an earlier run must not pass for this one.
    const QString snapshot = QString::fromStdString(s_path + ".png");
    QFile::remove(snapshot);
    OutputFiles outputs;
    EXPECT_TRUE(player.Snapshot(outputs, snapshot));
    EXPECT_EQ(QImage(snapshot).size(), player.size());

    // Play goes on from where the steps left the pictures, to the end.
    player.PlayOrPause();
    EXPECT_EQ(player.PlayStateNow(), kPlayStatePlaying);
    EXPECT_TRUE(watcher.RunUntil([&] { return watcher.AllReached(kFrames - 1); }, 10000));
    // The last frame reached, a step forward has nothing to show; a step back
    // shows the one before it.
    player.Pause();
    player.StepForward();
    EXPECT_EQ(Shown(watcher), AllAt(kFrames - 1));
    player.StepReverse();
    EXPECT_EQ(Shown(watcher), AllAt(kFrames - 2));
    EXPECT_EQ(player.WrongChannel(), 0);
}

// Fast forward runs to the end, shows the last key frame there and pauses
// with "File End."; steps then reach the very last frame.
TEST_F(Playback, FastForwardEndsOnTheLastKeyFrameAndPauses) {
    WatchedPlayer player;
    Open(player, 64);
    WatchedPlayer& watcher = player;
    ASSERT_TRUE(
        watcher.RunUntil([&] { return player.State().activity == Activity::kEnded; }, 10000));
    EXPECT_EQ(StatusTextOf(player.State()), "File End.");
    EXPECT_EQ(player.PlayStateNow(), kPlayStatePaused);
    // The last pictures handed out may still be on their way to the cells.
    EXPECT_TRUE(watcher.RunUntil([&] { return Shown(watcher) == AllAt(kFrames - kGop); }, 3000));
    for (uint32_t f = kFrames - kGop + 1; f < kFrames; ++f) {
        player.StepForward();
        EXPECT_EQ(Shown(watcher), AllAt(f));
    }
}

TEST_F(Playback, StepsCrossAGapBothWays) {
    WatchedPlayer player;
    Open(player, 1, s_gapPath);
    WatchedPlayer& watcher = player;
    ASSERT_TRUE(watcher.RunUntil([&] { return watcher.AllAtLeast(1); }, 4000));
    player.Pause();
    watcher.RunFor(100);
    const uint32_t lastBeforeGap = kGapStart * kFps - 1, firstAfterGap = kGapEnd * kFps;
    player.StepForward();
    for (uint32_t f = Shown(watcher)[0]; f < lastBeforeGap; ++f)
        player.StepForward();
    ASSERT_EQ(Shown(watcher), AllAt(lastBeforeGap));
    player.StepForward();
    EXPECT_EQ(Shown(watcher), AllAt(firstAfterGap));
    EXPECT_EQ(player.CurrentTime(), player.Recording().start + kGapEnd);
    player.StepReverse();
    EXPECT_EQ(Shown(watcher), AllAt(lastBeforeGap));
}

} // namespace
} // namespace qm
