#include "app/bit_slider.h"
#include "widget_test_support.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>
#include <gtest/gtest.h>

namespace qm {
namespace {

using test::kSomeTime;

// A horizontal slider whose channel is exactly `channel` pixels long.
std::unique_ptr<CBitSlider> MakeSlider(int channel, int64_t min, int64_t max) {
    auto slider = std::make_unique<CBitSlider>();
    slider->SetMargins(10, 0, 10, 0);
    slider->resize(channel + 20, 20);
    slider->SetRange(min, max);
    return slider;
}

QPoint At(int channelX) {
    return QPoint(10 + channelX, 10);
}

TEST(BitSliderHitTest, MapsThePointAcrossTheWholeRange) {
    auto slider = MakeSlider(100, 0, 9);
    // min + x * (max - min + 1) + 0.5 - x, truncated.
    EXPECT_EQ(slider->PositionAt(At(0)), 0);
    EXPECT_EQ(slider->PositionAt(At(5)), 0);  // 0.95
    EXPECT_EQ(slider->PositionAt(At(10)), 1); // 1.4
    EXPECT_EQ(slider->PositionAt(At(50)), 5); // 5.0
    EXPECT_EQ(slider->PositionAt(At(95)), 9); // 9.05
    EXPECT_EQ(slider->PositionAt(At(100)), 9);
    // Outside the channel the position stays in the range.
    EXPECT_EQ(slider->PositionAt(At(-500)), 0);
    EXPECT_EQ(slider->PositionAt(At(100000)), 9);
}

TEST(BitSliderHitTest, TruncatesTowardZeroAndFollowsTheAxis) {
    auto negative = MakeSlider(100, -10, -1);
    EXPECT_EQ(negative->PositionAt(At(55)), -4); // -4.55: toward zero, not down

    CBitSlider vertical(nullptr, Qt::Vertical);
    vertical.SetMargins(0, 10, 0, 10);
    vertical.resize(20, 120);
    vertical.SetRange(0, 9);
    EXPECT_EQ(vertical.PositionAt(QPoint(0, 60)), 5); // y, not x, decides
    EXPECT_EQ(vertical.PositionAt(QPoint(100, 10)), 0);

    // Recording times, well past what an int holds in 2038 and beyond.
    auto times = MakeSlider(3601, 3000000000LL, 3000003600LL);
    EXPECT_EQ(times->PositionAt(At(600)), 3000000600LL);

    // A channel without length (margins wider than the slider) gives the minimum.
    times->resize(10, 20);
    EXPECT_EQ(times->PositionAt(At(5)), 3000000000LL);
}

class BitSliderMouse : public testing::Test {
protected:
    void SetUp() override {
        m_slider = MakeSlider(100, 0, 9);
        m_slider->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(m_slider.get()));
        QObject::connect(m_slider.get(), &CBitSlider::pressed,
                         [this](int64_t pos) { events << "press " + std::to_string(pos); });
        QObject::connect(m_slider.get(), &CBitSlider::tracked,
                         [this](int64_t pos) { events << "track " + std::to_string(pos); });
        QObject::connect(m_slider.get(), &CBitSlider::released,
                         [this](int64_t pos) { events << "release " + std::to_string(pos); });
        QObject::connect(m_slider.get(), &CBitSlider::scrolled, [this](int code, int64_t pos) {
            events << "scroll " + std::to_string(code) + " " + std::to_string(pos);
        });
    }

    std::unique_ptr<CBitSlider> m_slider;
    QList<std::string> events;
};

TEST_F(BitSliderMouse, DragSendsPressTrackAndRelease) {
    QTest::mousePress(m_slider.get(), Qt::LeftButton, {}, At(10));
    EXPECT_TRUE(m_slider->IsPressed());
    QTest::mouseMove(m_slider.get(), At(50));
    QTest::mouseMove(m_slider.get(), At(52)); // still position 5: nothing to tell
    QTest::mouseRelease(m_slider.get(), Qt::LeftButton, {}, At(95));
    EXPECT_EQ(events, (QList<std::string>{"press 1", "scroll 5 5", "track 5", "scroll 5 9",
                                          "scroll 4 9", "release 9"}));
    EXPECT_EQ(m_slider->GetPos(), 9);
    EXPECT_FALSE(m_slider->IsPressed());
}

TEST_F(BitSliderMouse, ClickOnTheThumbMovesNothingAndReleasesNothing) {
    m_slider->SetPos(5);
    QTest::mouseClick(m_slider.get(), Qt::LeftButton, {}, At(50));
    EXPECT_EQ(events, (QList<std::string>{"press 5"}));
}

TEST_F(BitSliderMouse, ClickElsewhereJumpsThereAndReleases) {
    QTest::mouseClick(m_slider.get(), Qt::LeftButton, {}, At(50));
    EXPECT_EQ(events, (QList<std::string>{"press 5", "scroll 4 5", "release 5"}));
}

TEST_F(BitSliderMouse, OtherButtonsAndTheWheelDoNothing) {
    QTest::mouseClick(m_slider.get(), Qt::RightButton, {}, At(50));
    QTest::mouseMove(m_slider.get(), At(90));
    QWheelEvent wheel(QPointF(At(50)), QPointF(m_slider->mapToGlobal(At(50))), QPoint(),
                      QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(m_slider.get(), &wheel);
    EXPECT_TRUE(wheel.isAccepted()); // taken, so the parent does not scroll either
    EXPECT_TRUE(events.isEmpty());
    EXPECT_EQ(m_slider->GetPos(), 0);
}

TEST(BitSliderTooltip, PercentOfTheRange) {
    CBitSlider slider;
    slider.SetTooltipMode(CBitSlider::TooltipMode::Percent);
    slider.SetRange(0, 0);
    EXPECT_EQ(slider.TooltipText(), "0%");
    EXPECT_EQ(slider.toolTip(), "0%");
    slider.SetRange(0, 65535);
    slider.SetPos(32767);
    EXPECT_EQ(slider.TooltipText(), "49%");
    slider.SetPos(65535);
    EXPECT_EQ(slider.toolTip(), "100%");
    slider.SetRange(-50, 50);
    slider.SetPos(0);
    EXPECT_EQ(slider.TooltipText(), "50%");
    // The widest range does not overflow.
    slider.SetRange(INT64_MIN, INT64_MAX);
    slider.SetPos(INT64_MAX);
    EXPECT_EQ(slider.TooltipText(), "100%");
}

TEST(BitSliderTooltip, TimeInLocalTimeWithTheRecordingsOffset) {
    test::ScopedTimeZone zone; // two hours east of UTC
    CBitSlider slider;
    slider.SetTooltipMode(CBitSlider::TooltipMode::Time);
    slider.SetRange(kSomeTime, kSomeTime + 3600);
    EXPECT_EQ(slider.TooltipText(), "2023-11-15 00:13:20");
    slider.SetTimeOffset(1800);
    EXPECT_EQ(slider.toolTip(), "2023-11-15 00:43:20");
    slider.SetPos(kSomeTime + 5);
    EXPECT_EQ(slider.toolTip(), "2023-11-15 00:43:25");
}

} // namespace
} // namespace qm
