#include "app/recorded_spans.h"
#include "app/time_search_dlg.h"
#include "app/timeline_controller.h"
#include "app/timeline_text.h"
#include "widget_test_support.h"

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <vector>

namespace qm {
namespace {

using test::kSomeTime;

TEST(TimeSearchDlg, AcceptsExactlyTheRecordingsRange) {
    test::ScopedTimeZone zone;
    test::RecordingPrompts prompts;
    const int64_t earliest = kSomeTime;
    const int64_t latest = kSomeTime + 7200;
    CTimeSearchDlg dlg(earliest, latest, prompts);
    EXPECT_EQ(dlg.PickerTime(), earliest);
    EXPECT_EQ(dlg.Picker()->text(), "2023/11/15 00:13:20"); // local time
    EXPECT_EQ(dlg.RangeLabel()->text(), "Recorded from 2023/11/15 00:13:20 to 2023/11/15 02:13:20");
    EXPECT_EQ(dlg.SearchButton()->text(), "Search");
    EXPECT_EQ(dlg.CancelButton()->text(), "Cancel");

    for (int64_t wrong : {latest + 1, earliest - 1}) {
        dlg.SetPickerTime(wrong);
        dlg.SearchButton()->click();
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    const QString invalid = "Input time is not valid.\nRecorded from 2023/11/15 00:13:20 to "
                            "2023/11/15 02:13:20.";
    EXPECT_EQ(prompts.notices, (QStringList{invalid, invalid}));

    dlg.SetPickerTime(latest);
    dlg.SearchButton()->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.GetTime(), latest);
    EXPECT_EQ(prompts.notices.size(), 2);

    CTimeSearchDlg first(earliest, latest, prompts);
    first.SearchButton()->click(); // the starting time itself is allowed
    EXPECT_EQ(first.result(), QDialog::Accepted);
    EXPECT_EQ(first.GetTime(), earliest);
}

TEST(TimeSearchDlg, TakesAPastedDateTimeAndEditsOnePartAtATime) {
    test::ScopedTimeZone zone;
    test::RecordingPrompts prompts;
    const int64_t earliest = kSomeTime;
    const int64_t latest = kSomeTime + 7200;
    // Opens where the player is; a time outside the range falls back to its start.
    CTimeSearchDlg dlg(earliest, latest, earliest + 600, prompts);
    EXPECT_EQ(dlg.Picker()->text(), "2023/11/15 00:23:20");
    EXPECT_EQ(CTimeSearchDlg(earliest, latest, 0, prompts).PickerTime(), earliest);

    // A whole date and time pasted over the text, as qmtool prints it.
    QLineEdit* field = dlg.Picker();
    QGuiApplication::clipboard()->setText("2023-11-15 01:13:30");
    field->selectAll();
    field->paste();
    EXPECT_EQ(dlg.PickerTime(), kSomeTime + 3610);

    // One part: the minutes typed over, then stepped with the arrow keys.
    dlg.SetPickerTime(kSomeTime + 3610); // 2023/11/15 01:13:30
    field->setSelection(14, 2);
    QTest::keyClicks(field, "45");
    EXPECT_EQ(field->text(), "2023/11/15 01:45:30");
    field->setCursorPosition(15);
    QTest::keyClick(field, Qt::Key_Up);
    EXPECT_EQ(field->text(), "2023/11/15 01:46:30");
    field->setCursorPosition(1);
    QTest::keyClick(field, Qt::Key_Down);
    EXPECT_EQ(field->text(), "2022/11/15 01:46:30");

    // Texts that name no moment: the message has the range too.
    for (const char* wrong : {"2023/11/31 01:00:00", "2023/11-15 01:00:00", "tomorrow", ""}) {
        field->setText(wrong);
        EXPECT_FALSE(dlg.PickerTime()) << wrong;
        dlg.SearchButton()->click();
        EXPECT_EQ(dlg.result(), QDialog::Rejected) << wrong;
    }
    EXPECT_EQ(prompts.notices.size(), 4);
    EXPECT_TRUE(prompts.notices.value(0).endsWith(dlg.RangeText() + "."));

    field->setText(" 2023.11.15T02:13:20.750 ");
    dlg.SearchButton()->click();
    EXPECT_EQ(dlg.result(), QDialog::Accepted);
    EXPECT_EQ(dlg.GetTime(), latest);
}

TEST(RecordedSpans, NextRecordedTimeSkipsGapsInAnyOrder) {
    // Two groups' blocks, out of order and overlapping, one inverted.
    const std::vector<RecordedSpan> spans = {{300, 399}, {100, 199}, {150, 220}, {500, 400}};
    EXPECT_EQ(NextRecordedTime(spans, 100), 100u);         // a block's first second
    EXPECT_EQ(NextRecordedTime(spans, 220), 220u);         // the last second of an overlap
    EXPECT_EQ(NextRecordedTime(spans, 221), 300u);         // the gap
    EXPECT_EQ(NextRecordedTime(spans, 50), 100u);          // before the first block
    EXPECT_EQ(NextRecordedTime(spans, 450), std::nullopt); // only the inverted span is later
    EXPECT_EQ(NextRecordedTime({}, 100), std::nullopt);
}

TEST(RecordedSpans, GapNoticeNamesBothTimesOnThePlayersClock) {
    test::ScopedTimeZone zone;
    EXPECT_EQ(GapNoticeText(kSomeTime + 10, kSomeTime + 100),
              "No recording at 00:13:30; showing the next recorded moment 00:15:00");
    EXPECT_EQ(GapNoticeText(kSomeTime - 3600, kSomeTime),
              "No recording at 2023-11-14 23:13:20; showing the next recorded moment "
              "2023-11-15 00:13:20");
}

class RecordingPlayer : public ITimelinePlayer {
public:
    bool IsOpen() const override { return true; }
    bool IsBusy() const override { return busy; }
    void SetBusy(bool b) override { busy = b; }
    uint32_t CurrentTime() const override { return now; }
    bool IsReverse() const override { return false; }
    uint32_t RecordingStart() const override { return static_cast<uint32_t>(kSomeTime); }
    uint32_t RecordingEnd() const override { return static_cast<uint32_t>(kSomeTime + 7200); }
    int64_t TimeOffset() const override { return 3600; }
    void HoldForSeek() override {}
    void SeekAndPlay(uint32_t time) override {
        seeks.push_back(time);
        ++plays;
    }
    std::vector<RecordedSpan> RecordedSpans() const override { return spans; }

    uint32_t now = 0;
    std::vector<RecordedSpan> spans;
    bool busy = false;
    std::vector<uint32_t> seeks;
    int plays = 0;
};

// Answers the time search dialog once it is up: types each time in turn and
// presses Search; cancels when the list is used up. `shown` gets the time the
// dialog opened at.
void AnswerTimeSearch(std::vector<int64_t> times, int64_t* shown = nullptr, int attempts = 200) {
    QTimer::singleShot(0, [times, shown, attempts]() mutable {
        auto* dlg = qobject_cast<CTimeSearchDlg*>(QApplication::activeModalWidget());
        if (!dlg) {
            if (attempts > 0) AnswerTimeSearch(times, shown, attempts - 1); // not up yet
            return;
        }
        if (shown) *shown = dlg->PickerTime().value_or(-1);
        for (int64_t t : times) {
            dlg->SetPickerTime(t);
            dlg->SearchButton()->click();
            if (!dlg->isVisible()) return;
        }
        dlg->CancelButton()->click();
    });
}

TEST(TimeSearch, OkJumpsToTheTypedTimeAndAWrongTimeKeepsAsking) {
    test::ScopedTimeZone zone;
    test::RecordingPrompts prompts;
    RecordingPlayer player;
    CTimelineController timeline(player);
    const int64_t offset = player.TimeOffset();
    timeline.OnRecordingOpened(player.RecordingStart(), player.RecordingEnd(),
                               player.RecordingStart() + offset, player.RecordingEnd() + offset);

    const int64_t localEnd = kSomeTime + 7200 + offset;
    AnswerTimeSearch({localEnd + 1, localEnd});
    timeline.OnTimeSearch(nullptr, prompts);
    ASSERT_EQ(prompts.notices.size(), 1);
    EXPECT_TRUE(prompts.notices[0].startsWith("Input time is not valid.\nRecorded from "));
    ASSERT_EQ(player.seeks.size(), 1u);
    EXPECT_EQ(player.seeks[0], kSomeTime + 7200); // the typed time, without the offset
    EXPECT_EQ(player.plays, 1);
    EXPECT_FALSE(player.busy);

    // Cancelled; the field opened at the playing time, on the player's clock.
    player.now = static_cast<uint32_t>(kSomeTime + 100);
    int64_t shown = 0;
    AnswerTimeSearch({}, &shown);
    timeline.OnTimeSearch(nullptr, prompts);
    EXPECT_EQ(player.seeks.size(), 1u);
    EXPECT_EQ(shown, kSomeTime + 100 + offset);
}

TEST(TimeSearch, ATimeInAGapPlaysTheNextRecordedMomentAndSaysSo) {
    test::ScopedTimeZone zone;
    RecordingPlayer player;
    const auto S = static_cast<uint32_t>(kSomeTime);
    player.spans = {{S, S + 599}, {S + 1200, S + 7200}};
    CTimelineController timeline(player);
    const int64_t offset = player.TimeOffset();
    timeline.OnRecordingOpened(S, S + 7200, S + offset, S + 7200 + offset);
    QSignalSpy skipped(&timeline, &CTimelineController::searchSkippedGap);

    EXPECT_TRUE(timeline.SearchTo(S + 700 + offset));
    EXPECT_TRUE(timeline.SearchTo(S + 599 + offset)); // recorded: as typed
    EXPECT_EQ(player.seeks, (std::vector<uint32_t>{S + 1200, S + 599}));
    ASSERT_EQ(skipped.size(), 1);
    EXPECT_EQ(skipped[0][0].toLongLong(), S + 700 + offset);
    EXPECT_EQ(skipped[0][1].toLongLong(), S + 1200 + offset);
    EXPECT_FALSE(player.busy);
}

} // namespace
} // namespace qm
