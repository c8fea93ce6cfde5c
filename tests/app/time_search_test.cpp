#include "app/time_search_dlg.h"
#include "app/timeline_controller.h"
#include "widget_test_support.h"

#include <QApplication>
#include <QDateTimeEdit>
#include <QPushButton>
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
    EXPECT_EQ(dlg.Picker()->displayFormat(), "yyyy/MM/dd HH:mm:ss");
    EXPECT_EQ(dlg.Picker()->text(), "2023/11/15 00:13:20"); // local time
    EXPECT_EQ(dlg.SearchButton()->text(), "Search");
    EXPECT_EQ(dlg.CancelButton()->text(), "Cancel");

    for (int64_t wrong : {latest + 1, earliest - 1}) {
        dlg.SetPickerTime(wrong);
        dlg.SearchButton()->click();
        EXPECT_EQ(dlg.result(), QDialog::Rejected);
    }
    EXPECT_EQ(prompts.notices,
              (QStringList{"Input time is not valid.", "Input time is not valid."}));

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

class RecordingPlayer : public ITimelinePlayer {
public:
    bool IsOpen() const override { return true; }
    bool IsBusy() const override { return busy; }
    void SetBusy(bool b) override { busy = b; }
    uint32_t CurrentTime() const override { return 0; }
    bool IsReverse() const override { return false; }
    uint32_t RecordingStart() const override { return static_cast<uint32_t>(kSomeTime); }
    uint32_t RecordingEnd() const override { return static_cast<uint32_t>(kSomeTime + 7200); }
    int64_t TimeOffset() const override { return 3600; }
    void HoldForSeek() override {}
    void SeekAndPlay(uint32_t time) override {
        seeks.push_back(time);
        ++plays;
    }

    bool busy = false;
    std::vector<uint32_t> seeks;
    int plays = 0;
};

// Answers the time search dialog once it is up: types each time in turn and
// presses Search; cancels when the list is used up.
void AnswerTimeSearch(std::vector<int64_t> times, int attempts = 200) {
    QTimer::singleShot(0, [times, attempts]() mutable {
        auto* dlg = qobject_cast<CTimeSearchDlg*>(QApplication::activeModalWidget());
        if (!dlg) {
            if (attempts > 0) AnswerTimeSearch(times, attempts - 1); // not up yet
            return;
        }
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
    EXPECT_EQ(prompts.notices, QStringList{"Input time is not valid."});
    ASSERT_EQ(player.seeks.size(), 1u);
    EXPECT_EQ(player.seeks[0], kSomeTime + 7200); // the typed time, without the offset
    EXPECT_EQ(player.plays, 1);
    EXPECT_FALSE(player.busy);

    AnswerTimeSearch({});
    timeline.OnTimeSearch(nullptr, prompts); // cancelled
    EXPECT_EQ(player.seeks.size(), 1u);
}

} // namespace
} // namespace qm
