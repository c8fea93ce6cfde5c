#include "app/bit_slider.h"
#include "app/timeline_controller.h"
#include "widget_test_support.h"

#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qm {
namespace {

using test::kSomeTime;

class FakePlayer : public ITimelinePlayer {
public:
    bool IsOpen() const override { return open; }
    bool IsBusy() const override { return busy; }
    void SetBusy(bool b) override {
        busy = b;
        calls.push_back(b ? "busy" : "idle");
    }
    uint32_t CurrentTime() const override { return now; }
    bool IsReverse() const override { return reverse; }
    uint32_t RecordingStart() const override { return start; }
    uint32_t RecordingEnd() const override { return end; }
    int64_t TimeOffset() const override { return offset; }
    void HoldForSeek() override { calls.push_back("hold"); }
    void SeekAndPlay(uint32_t time) override { calls.push_back("seek " + std::to_string(time)); }

    bool open = true;
    bool busy = false;
    bool reverse = false;
    uint32_t now = 0;
    uint32_t start = 0;
    uint32_t end = 0;
    int64_t offset = 0;
    std::vector<std::string> calls;
};

constexpr int64_t S = kSomeTime;

class Timeline : public testing::Test {
protected:
    // Opens a recording of `length` seconds from S.
    void Open(int64_t length, int64_t offset = 0) {
        m_player.start = static_cast<uint32_t>(S);
        m_player.end = static_cast<uint32_t>(S + length);
        m_player.offset = offset;
        m_player.now = static_cast<uint32_t>(S);
        m_timeline.AttachSlider(&m_slider);
        m_timeline.OnRecordingOpened(m_player.start, m_player.end, S + offset, S + length + offset);
    }
    void ExpectWindow(int64_t from, int64_t to) {
        EXPECT_EQ(m_timeline.ViewStart() - S, from - S);
        EXPECT_EQ(m_timeline.ViewEnd() - S, to - S);
        EXPECT_EQ(m_slider.GetRangeMin(), m_timeline.ViewStart());
        EXPECT_EQ(m_slider.GetRangeMax(), m_timeline.ViewEnd());
    }

    test::ScopedTimeZone m_zone; // two hours east of UTC
    FakePlayer m_player;
    CBitSlider m_slider;
    CTimelineController m_timeline{m_player};
};

TEST_F(Timeline, OpeningPicksTheWidestLevelTheRecordingFills) {
    struct Case {
        int64_t length;
        int level;
        int64_t window;
    };
    for (const Case& c : {Case{100000, 0, 43200}, Case{43200, 0, 43200}, Case{43199, 1, 3600},
                          Case{7200, 1, 3600}, Case{3600, 1, 3600}, Case{3599, 2, 300},
                          Case{300, 2, 300}, Case{299, 3, 299}, Case{240, 3, 240}}) {
        SCOPED_TRACE(c.length);
        Open(c.length);
        EXPECT_EQ(m_timeline.Zoom(), c.level);
        EXPECT_EQ(m_timeline.ZoomFloor(), c.level);
        ExpectWindow(S, S + c.window);
    }
}

TEST_F(Timeline, TwoHourRecordingZoomsInAndBackOutToItsFloor) {
    Open(7200);
    ExpectWindow(S, S + 3600);
    EXPECT_EQ(m_timeline.Zoom(), 1);

    m_player.now = static_cast<uint32_t>(S + 2000);
    m_timeline.OnScaleIn();
    EXPECT_EQ(m_timeline.Zoom(), 2);
    ExpectWindow(S + 1850, S + 2150); // 5 minutes around the playing time

    m_timeline.OnScaleIn(); // level 2 is the closest
    EXPECT_EQ(m_timeline.Zoom(), 2);
    ExpectWindow(S + 1850, S + 2150);

    m_timeline.OnScaleOut();
    EXPECT_EQ(m_timeline.Zoom(), 1);
    ExpectWindow(S + 200, S + 3800);

    QSignalSpy moved(&m_timeline, &CTimelineController::windowChanged);
    m_timeline.OnScaleOut(); // level 1 is the floor
    EXPECT_EQ(m_timeline.Zoom(), 1);
    ExpectWindow(S + 200, S + 3800);
    EXPECT_EQ(moved.count(), 0);
}

TEST_F(Timeline, ZoomedWindowsStayInsideTheRecording) {
    Open(50000);
    m_player.now = static_cast<uint32_t>(S + 100); // near the start
    m_timeline.OnScaleIn();
    ExpectWindow(S, S + 3600);
    m_player.now = static_cast<uint32_t>(S + 49990); // near the end
    m_timeline.OnScaleIn();
    ExpectWindow(S + 50000 - 300, S + 50000);
    m_timeline.OnScaleOut();
    ExpectWindow(S + 50000 - 3600, S + 50000);
    m_player.now = static_cast<uint32_t>(S + 20000);
    m_timeline.OnScaleOut();
    EXPECT_EQ(m_timeline.Zoom(), 0);
    ExpectWindow(S, S + 43200);
}

TEST_F(Timeline, ShortRecordingShowsItsWholeLengthAndZoomOnlyRefreshesTheTexts) {
    Open(240, 1800);
    EXPECT_EQ(m_timeline.Zoom(), 3);
    ExpectWindow(S, S + 240);
    // 22:13:20 UTC plus the offset, two hours east.
    EXPECT_EQ(m_timeline.StartText(), "00:43:20");
    EXPECT_EQ(m_timeline.EndText(), "00:47:20");

    QSignalSpy texts(&m_timeline, &CTimelineController::endTextsChanged);
    QSignalSpy moved(&m_timeline, &CTimelineController::windowChanged);
    m_player.now = static_cast<uint32_t>(S + 100);
    m_timeline.OnScaleIn();
    m_timeline.OnScaleOut();
    EXPECT_EQ(texts.count(), 2);
    EXPECT_EQ(moved.count(), 0);
    EXPECT_EQ(m_timeline.Zoom(), 3);
    ExpectWindow(S, S + 240);
}

TEST_F(Timeline, FollowingForwardMovesTheWindowHalfAWindowOn) {
    Open(3 * 3600);
    m_slider.SetPos(S + 500);
    m_player.now = 0; // no frame played yet: the thumb stays
    m_timeline.OnTimelineTick();
    EXPECT_EQ(m_slider.GetPos(), S + 500);
    m_player.now = static_cast<uint32_t>(S + 1000);
    m_timeline.OnTimelineTick();
    ExpectWindow(S, S + 3600);
    EXPECT_EQ(m_slider.GetPos(), S + 1000);

    m_player.now = static_cast<uint32_t>(S + 3600);
    m_timeline.OnTimelineTick();
    ExpectWindow(S + 1800, S + 5400);
    EXPECT_EQ(m_slider.GetPos(), S + 3600);
    EXPECT_EQ(m_timeline.StartText(), "00:43:20");

    m_player.now = static_cast<uint32_t>(S + 5400);
    m_timeline.OnTimelineTick();
    ExpectWindow(S + 3600, S + 7200);
    m_player.now = static_cast<uint32_t>(S + 7200);
    m_timeline.OnTimelineTick();
    ExpectWindow(S + 5400, S + 9000);
    // Near the end the window stops at the recording's end ...
    m_player.now = static_cast<uint32_t>(S + 9000);
    m_timeline.OnTimelineTick();
    ExpectWindow(S + 7200, S + 10800);
    // ... and stays there.
    m_player.now = static_cast<uint32_t>(S + 10800);
    m_timeline.OnTimelineTick();
    ExpectWindow(S + 7200, S + 10800);
    EXPECT_EQ(m_slider.GetPos(), S + 10800);
}

TEST_F(Timeline, FollowingInReverseMovesTheWindowBack) {
    Open(5 * 3600);
    for (int64_t t : {3600, 5400, 7200, 9000}) {
        m_player.now = static_cast<uint32_t>(S + t);
        m_timeline.OnTimelineTick();
    }
    ExpectWindow(S + 7200, S + 10800);

    m_player.reverse = true;
    m_player.now = static_cast<uint32_t>(S + 7500); // inside: nothing moves
    m_timeline.OnTimelineTick();
    ExpectWindow(S + 7200, S + 10800);
    EXPECT_EQ(m_slider.GetPos(), S + 7500);

    m_player.now = static_cast<uint32_t>(S + 7200); // reached the window's start
    m_timeline.OnTimelineTick();
    ExpectWindow(S + 5400, S + 9000);
    EXPECT_EQ(m_slider.GetPos(), S + 7200);

    m_player.now = static_cast<uint32_t>(S + 1000);
    m_timeline.OnTimelineTick();
    ExpectWindow(S + 3600, S + 7200);
    m_timeline.OnTimelineTick();
    ExpectWindow(S + 1800, S + 5400);
    m_timeline.OnTimelineTick();
    ExpectWindow(S, S + 3600); // stops at the recording's start
    m_timeline.OnTimelineTick();
    ExpectWindow(S, S + 3600);
}

TEST_F(Timeline, HoldingTheThumbHoldsAndReleasingSeeksAndPlays) {
    Open(7200);
    m_player.now = static_cast<uint32_t>(S + 100);
    m_timeline.OnTimelineTick();

    m_timeline.OnSliderPress(S + 100);
    EXPECT_EQ(m_player.calls, (std::vector<std::string>{"hold"}));
    EXPECT_EQ(m_timeline.SkipTicks(), -1);
    // While held, the playing time does not move the thumb.
    m_player.now = static_cast<uint32_t>(S + 3000);
    for (int i = 0; i < 10; ++i)
        m_timeline.OnTimelineTick();
    EXPECT_EQ(m_slider.GetPos(), S + 100);
    EXPECT_LT(m_timeline.SkipTicks(), 0);

    m_player.calls.clear();
    m_timeline.OnSliderRelease(S + 700);
    EXPECT_EQ(m_player.calls,
              (std::vector<std::string>{"busy", "seek " + std::to_string(S + 700), "idle"}));
    EXPECT_FALSE(m_player.busy);
    // Two refreshes are skipped, then the thumb follows again.
    m_timeline.OnTimelineTick();
    m_timeline.OnTimelineTick();
    EXPECT_EQ(m_slider.GetPos(), S + 100);
    m_timeline.OnTimelineTick();
    EXPECT_EQ(m_slider.GetPos(), S + 3000);
}

TEST_F(Timeline, ReleaseIsRefusedWhileBusyAndPressNeedsARecording) {
    Open(7200);
    m_player.busy = true;
    m_timeline.OnSliderRelease(S + 700);
    EXPECT_TRUE(m_player.calls.empty());
    EXPECT_TRUE(m_player.busy);

    m_player.busy = false;
    m_player.open = false;
    m_timeline.OnSliderPress(S);
    EXPECT_EQ(m_timeline.SkipTicks(), 0);
    m_timeline.OnSliderRelease(S + 700);
    EXPECT_EQ(m_player.calls, (std::vector<std::string>{"busy", "idle"}));
}

TEST_F(Timeline, DraggingTheSliderTenMinutesOnSeeksThere) {
    Open(7200);
    // One pixel per second of the hour window.
    m_slider.SetMargins(10, 0, 10, 0);
    m_slider.resize(3601 + 20, 20);
    m_slider.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&m_slider));

    QTest::mousePress(&m_slider, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(m_player.calls, (std::vector<std::string>{"hold"}));
    QTest::mouseMove(&m_slider, QPoint(10 + 300, 10));
    QTest::mouseRelease(&m_slider, Qt::LeftButton, {}, QPoint(10 + 600, 10));
    EXPECT_EQ(m_player.calls, (std::vector<std::string>{
                                  "hold", "busy", "seek " + std::to_string(S + 600), "idle"}));
}

TEST_F(Timeline, TimeSearchSeeksToTheTypedTimeWithoutTheOffset) {
    Open(7200, 1800);
    // The picked time includes the offset; the reader's times do not.
    EXPECT_TRUE(m_timeline.SearchTo(S + 1800 + 1000));
    EXPECT_EQ(m_player.calls,
              (std::vector<std::string>{"busy", "seek " + std::to_string(S + 1000), "idle"}));
    ExpectWindow(S, S + 3600);
    EXPECT_EQ(m_slider.GetPos(), S + 1000);

    // A time outside the window brings the window to it.
    m_player.calls.clear();
    EXPECT_TRUE(m_timeline.SearchTo(S + 1800 + 6000));
    EXPECT_EQ(m_player.calls[1], "seek " + std::to_string(S + 6000));
    EXPECT_LE(m_timeline.ViewStart(), S + 6000);
    EXPECT_GE(m_timeline.ViewEnd(), S + 6000);
    EXPECT_EQ(m_slider.GetPos(), S + 6000);
    // The old playing time must not pull the thumb back before the player got there.
    m_player.now = static_cast<uint32_t>(S + 200);
    m_timeline.OnTimelineTick();
    EXPECT_EQ(m_slider.GetPos(), S + 6000);

    m_player.busy = true;
    m_player.calls.clear();
    EXPECT_FALSE(m_timeline.SearchTo(S + 1800));
    EXPECT_TRUE(m_player.calls.empty());
}

} // namespace
} // namespace qm
