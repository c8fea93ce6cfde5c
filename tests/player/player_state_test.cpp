// The player window without a recording: layout on the widget, selection by
// clicks, the transport commands' state changes, picture buffers and the
// frame time.

#include "player/picture_buffer.h"
#include "player/player_ex.h"
#include "player/sample_frame.h"
#include "tests/process_temp_dir.h"

#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include <sys/mman.h>
#include <unistd.h>

namespace qm {
namespace {

QPoint Centre(const CellRect& r) {
    return QPoint((r.left + r.right) / 2, (r.top + r.bottom) / 2);
}

TEST(PlayerWindow, QuadWithThreeChannelsAndClicks) {
    CQMPlayerEx player;
    player.resize(640, 480);
    player.SetChannelMask((1u << 2) | (1u << 5) | (1u << 9));
    player.QuadSplit();
    EXPECT_EQ(player.DisplayedMask(), (1u << 2) | (1u << 5) | (1u << 9));
    const CellRect hidden = player.CellOf(0);
    EXPECT_EQ(hidden.left, 320);
    EXPECT_EQ(hidden.top, 240);
    EXPECT_FALSE(player.IsDisplayed(0));
    // Channel 0 is not displayed: the lowest displayed one is selected.
    EXPECT_EQ(player.SelectedChannel(), 2);

    QSignalSpy doubleClicks(&player, &CQMPlayerEx::channelDoubleClicked);
    QTest::mouseDClick(&player, Qt::LeftButton, {}, Centre(hidden));
    EXPECT_EQ(player.SelectedChannel(), 0);
    EXPECT_EQ(doubleClicks.count(), 0);

    QTest::mouseDClick(&player, Qt::LeftButton, {}, Centre(player.CellOf(9)));
    EXPECT_EQ(player.SelectedChannel(), 9);
    ASSERT_EQ(doubleClicks.count(), 1);
    EXPECT_EQ(doubleClicks.at(0).at(0).toInt(), 9);

    QTest::mouseClick(&player, Qt::LeftButton, {}, QPoint(319, 10));
    EXPECT_EQ(player.SelectedChannel(), 2);
    QTest::mouseClick(&player, Qt::LeftButton, {}, QPoint(320, 10));
    EXPECT_EQ(player.SelectedChannel(), 5);

    // Nothing displayed: no selection.
    player.SetChannelMask(0);
    player.SetSplit(5);
    EXPECT_EQ(player.SelectedChannel(), -1);
    EXPECT_EQ(player.State().split, 5);
    EXPECT_EQ(player.State().shownMask, 0u);
}

// The verbs on a player with nothing open: the rules alone (a re-seek then
// waits for nothing longer than the short settle limit).
TEST(PlayerWindow, TransportVerbsFollowTheRulesAndAnnounceTheState) {
    CQMPlayerEx player;
    player.SetSettleLimitMs(20);
    std::vector<std::string> announced;
    QObject::connect(&player, &CQMPlayerEx::stateChanged,
                     [&](const PlaybackState& state) { announced.push_back(StatusTextOf(state)); });

    std::vector<int> speeds;
    for (int press = 0; press < 7; ++press) {
        player.Faster();
        speeds.push_back(player.Speed());
    }
    EXPECT_EQ(speeds, (std::vector<int>{2, 4, 8, 16, 32, 64, 64}));
    EXPECT_EQ(player.PlayStateNow(), kPlayStateFast);
    EXPECT_FALSE(player.IsReverse());
    EXPECT_EQ(announced.back(), "Fast Forward 64X");
    // Falling short of the speed is told, whole from 10x on.
    PlaybackState shortOf = player.State();
    shortOf.reachedSpeed = 23.4;
    EXPECT_EQ(StatusTextOf(shortOf), "Fast Forward 64X (reached 23X)");
    shortOf.activity = Activity::kFastReverse;
    shortOf.reachedSpeed = 2.54;
    EXPECT_EQ(StatusTextOf(shortOf), "Fast Reverse 64X (reached 2.5X)");

    // Fast forward while paused steps, at normal speed.
    player.Pause();
    EXPECT_EQ(player.PlayStateNow(), kPlayStatePaused);
    EXPECT_EQ(player.Speed(), 1);
    player.Faster();
    EXPECT_EQ(player.PlayStateNow(), kPlayStateStepping);
    EXPECT_EQ(player.State().activity, Activity::kStepForward);
    EXPECT_EQ(announced.back(), "Step Forword");

    // Play while stepping forward pauses; Play again plays.
    player.PlayOrPause();
    EXPECT_EQ(player.PlayStateNow(), kPlayStatePaused);
    player.PlayOrPause();
    EXPECT_EQ(player.PlayStateNow(), kPlayStatePlaying);
    EXPECT_EQ(announced.back(), "Play");

    // Fast reverse from forward play: reverse at 2x, then 4x.
    player.Slower();
    EXPECT_TRUE(player.IsReverse());
    EXPECT_EQ(player.Speed(), 2);
    EXPECT_EQ(player.PlayStateNow(), kPlayStateFast);
    player.Slower();
    EXPECT_EQ(player.Speed(), 4);
    EXPECT_EQ(announced.back(), "Fast Reverse 4X");
    // Fast forward out of reverse starts again at 2x.
    player.Faster();
    EXPECT_FALSE(player.IsReverse());
    EXPECT_EQ(player.Speed(), 2);

    // Reverse play while reversing pauses; step forward leaves reverse.
    player.ReverseOrPause();
    EXPECT_EQ(player.PlayStateNow(), kPlayStatePlaying);
    EXPECT_EQ(announced.back(), "Reverse Play");
    player.ReverseOrPause();
    EXPECT_EQ(player.PlayStateNow(), kPlayStatePaused);
    player.Slower(); // paused: a reverse step
    EXPECT_EQ(player.PlayStateNow(), kPlayStateStepping);
    EXPECT_TRUE(player.IsReverse());
    EXPECT_EQ(announced.back(), "Step Reverse");
    player.StepForward();
    EXPECT_FALSE(player.IsReverse());
    EXPECT_EQ(player.PlayStateNow(), kPlayStateStepping);

    player.PlayOrPause();
    player.PlayOrPause();
    player.Faster();
    player.Faster();
    EXPECT_EQ(player.Speed(), 4);
    player.Close();
    EXPECT_EQ(player.Speed(), 1);
    EXPECT_EQ(announced.back(), "Stop");
}

TEST(PlayerWindow, ResetRequestIsHandledOnTheWindowThread) {
    CQMPlayerEx player;
    CVideoRenderer::s_resetRequested = 1;
    player.RequestReset();
    EXPECT_EQ(CVideoRenderer::s_resetRequested.load(), 1); // queued, not direct
    QCoreApplication::processEvents();
    EXPECT_EQ(CVideoRenderer::s_resetRequested.load(), 0);
}

TEST(PlayerWindow, OpeningFailsForMissingOrEmptyFiles) {
    CQMPlayerEx player;
    EXPECT_FALSE(player.OpenArchive("/nonexistent/rec.avr"));
    static const test::ProcessTempDir process("player_state");
    const std::string empty = (process.ForCurrentTest() / "empty.avr").string();
    FILE* f = std::fopen(empty.c_str(), "wb");
    ASSERT_TRUE(f);
    std::fclose(f);
    EXPECT_FALSE(player.OpenArchive(empty));
    EXPECT_FALSE(player.TimersRunning());
}

// Resident pages of a buffer, by mincore.
size_t ResidentPages(const uint8_t* data, size_t bytes) {
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    std::vector<unsigned char> map((bytes + page - 1) / page);
    if (mincore(const_cast<uint8_t*>(data), bytes, map.data()) != 0) return SIZE_MAX;
    size_t n = 0;
    for (unsigned char m : map)
        n += m & 1;
    return n;
}

// The VmFlags of the mapping that holds `address` (/proc/self/smaps), empty
// when none does.
std::string MappingFlags(const void* address) {
    std::ifstream smaps("/proc/self/smaps");
    const auto at = uintptr_t(address);
    bool inside = false;
    for (std::string line; std::getline(smaps, line);) {
        unsigned long long from = 0, to = 0;
        char dash = 0;
        std::istringstream range(line);
        if (range >> std::hex >> from >> dash >> to && dash == '-' &&
            line.find(':') > line.find(' '))
            inside = at >= from && at < to;
        else if (inside && line.rfind("VmFlags:", 0) == 0)
            return line + " ";
    }
    return {};
}

TEST(PictureBuffer, ReadsAsZerosWithoutTouchingMemory) {
    PictureBuffer buffer;
    ASSERT_TRUE(buffer.Allocate());
    uint8_t* data = buffer.Data();
    // Small pages whatever the host's huge page setting, so that a picture
    // costs only the pages it covers.
    if (std::filesystem::exists("/sys/kernel/mm/transparent_hugepage")) {
        EXPECT_NE(MappingFlags(data).find(" nh "), std::string::npos) << MappingFlags(data);
    }
    EXPECT_EQ(ResidentPages(data, PictureBuffer::kBytes), 0u);
    const size_t page = size_t(sysconf(_SC_PAGESIZE));
    const size_t written = 176 * 144 * 4;
    std::memset(data, 0x7F, written);
    EXPECT_GE(ResidentPages(data, PictureBuffer::kBytes), written / page);
    EXPECT_LE(ResidentPages(data, PictureBuffer::kBytes), (written + page - 1) / page);
    buffer.Clear();
    EXPECT_EQ(ResidentPages(data, PictureBuffer::kBytes), 0u);
    EXPECT_EQ(data[0], 0);
    EXPECT_EQ(data[176 * 144 * 4 - 1], 0);
    EXPECT_EQ(data[PictureBuffer::kBytes - 1], 0);
}

TEST(FrameTime, RecordFieldsBecomeFileTime) {
    const FrameRecord& sample = SampleFrameRecord();
    EXPECT_EQ(sample.width, 704);
    EXPECT_EQ(sample.height, 480);
    EXPECT_EQ(std::memcmp(&sample.codec, "SOLO", 4), 0);
    // 2007-11-02 19:19:01 = 1194031141 s after 1970, plus the current milliseconds.
    const uint64_t base = (1194031141ull + 11644473600ull) * 10000000ull;
    const uint64_t t = FrameFileTime(sample);
    EXPECT_GE(t, base);
    EXPECT_LT(t, base + 10000000ull);
    EXPECT_EQ(t % 10000, 0u);

    FrameRecord bad = sample;
    bad.month = 13;
    EXPECT_EQ(FrameFileTime(bad), 0u);
}

} // namespace
} // namespace qm
