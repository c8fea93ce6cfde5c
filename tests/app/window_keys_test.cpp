// The window an examiner spends hours in: larger than it was drawn, the video
// alone on the screen, and driven from the keyboard.

#include "main_window_support.h"

#include "app/camera_coverage.h"
#include "app/coverage_lanes.h"
#include "app/key_map.h"
#include "app/orbiscope_dlg.h"
#include "app/skin.h"
#include "player/player_ex.h"

#include <QDropEvent>
#include <QImage>
#include <QMenu>
#include <QMimeData>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <QWheelEvent>
#include <QWindow>

#include <gtest/gtest.h>

namespace qm {
namespace {

using testing_support::PumpUntil;
using testing_support::ScriptedPrompts;
using testing_support::TestRecordings;

TEST(KeyMap, EveryKeyHasOneActionAndTheListNamesThem) {
    QSet<QString> seen;
    for (const KeyBinding& binding : KeyBindings()) {
        const QString keys = binding.keys.toString();
        EXPECT_FALSE(seen.contains(keys)) << keys.toStdString() << " is bound twice";
        seen.insert(keys);
        EXPECT_EQ(ActionOfKey(binding.keys), binding.action) << keys.toStdString();
    }
    EXPECT_EQ(KeysOf(KeyAction::kFullScreen), "F11 or F");
    const QString list = KeyListText();
    for (const char* named : {"Space", "Shift+Right", "Ctrl+O", "F1 or ?", "Esc", "1 - 9"})
        EXPECT_TRUE(list.contains(QString::fromLatin1(named))) << named;
}

class WindowKeys : public testing::Test {
protected:
    void SetUp() override {
        m_dlg = std::make_unique<COrbiscopeDlg>(&m_prompts);
        m_dlg->show();
        m_prompts.openAnswer = QString::fromStdString(TestRecordings().eightCameras);
        m_dlg->OnCommand(cmd::kOpenFile);
        ASSERT_TRUE(m_dlg->IsFileOpen());
        ASSERT_TRUE(PumpUntil([&] { return m_dlg->Player().CurrentTime() != 0; }, 10000));
        m_dlg->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(m_dlg.get()));
    }
    void Press(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
        // Through the window system's path, where shortcuts are matched.
        QTest::keyClick(m_dlg->windowHandle(), Qt::Key(key), modifiers);
        QCoreApplication::processEvents();
    }

    ScriptedPrompts m_prompts;
    std::unique_ptr<COrbiscopeDlg> m_dlg;
};

TEST_F(WindowKeys, KeysDoWhatTheirButtonsAndTheTimelineDo) {
    m_dlg->Button(cmd::kFastForward)->setFocus(); // a focused button must not take Space
    Press(Qt::Key_Space);
    EXPECT_EQ(m_dlg->StatusText(), "Pause");
    Press(Qt::Key_Space);
    EXPECT_EQ(m_dlg->StatusText(), "Play");
    Press(Qt::Key_Period);
    EXPECT_EQ(m_dlg->StatusText(), "Step Forword");
    // "Current:" follows every step to the millisecond of the selected
    // camera's picture.
    auto currentMs = [&] {
        const auto shown = m_dlg->Player().ShownFrame(m_dlg->Player().SelectedChannel());
        return shown ? int(uint32_t(shown->microseconds) / 1000) : -1;
    };
    auto currentLine = [&] {
        const QString text = m_dlg->InfoText();
        const int at = text.indexOf(QStringLiteral("Current:\n"));
        return at < 0 ? QString() : text.mid(at + 9).section(QLatin1Char('\n'), 0, 1);
    };
    const int before = currentMs();
    ASSERT_GE(before, 0);
    EXPECT_TRUE(currentLine().contains(QString::asprintf(".%03d\n", before)))
        << currentLine().toStdString();
    EXPECT_TRUE(currentLine().endsWith(" 176x144 H264")) << currentLine().toStdString();
    Press(Qt::Key_Period);
    const int after = currentMs();
    EXPECT_NE(after, before);
    EXPECT_TRUE(currentLine().contains(QString::asprintf(".%03d\n", after)))
        << currentLine().toStdString();

    const uint32_t start = m_dlg->StartTime();
    Press(Qt::Key_Right);
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->Player().CurrentTime() >= start + 5; }, 10000))
        << m_dlg->Player().CurrentTime() - start;
    Press(Qt::Key_Home);
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->Player().CurrentTime() < start + 2; }, 10000));

    // The camera of the second cell of the 2 x 2 split.
    Press(Qt::Key_2);
    EXPECT_EQ(m_dlg->Player().SelectedChannel(), m_dlg->Player().Lists().quad[1]);

    // The wheel zooms a camera; the zoom stays through steps, '0' ends it.
    const int camera = m_dlg->Player().Lists().quad[0];
    const CellRect cell = m_dlg->Player().CellOf(camera);
    const QPointF over(cell.left + 20, cell.top + 20);
    QWheelEvent wheel(over, m_dlg->Player().mapToGlobal(over), QPoint(), QPoint(0, 240),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QCoreApplication::sendEvent(&m_dlg->Player(), &wheel);
    EXPECT_DOUBLE_EQ(m_dlg->Player().ZoomOf(camera).factor, 1.5625);
    Press(Qt::Key_Period);
    EXPECT_TRUE(m_dlg->Player().ZoomOf(camera).IsZoomed());
    Press(Qt::Key_0);
    EXPECT_FALSE(m_dlg->Player().ZoomOf(camera).IsZoomed());

    Press(Qt::Key_F1);
    EXPECT_EQ(m_prompts.notices.value(0), KeyListText());
    // Shown tooltips name the keys; the buttons' own texts stay as they are.
    EXPECT_EQ(m_dlg->Button(cmd::kPlay)->toolTip(), "Play");
    EXPECT_EQ(ToolTipWithKeys(m_dlg->Button(cmd::kFastForward)->toolTip()), "Step Forward (.)");
    EXPECT_EQ(ToolTipWithKeys("Fast Forward"), "Fast Forward (])");

    // Esc leaves the player open: it only ends the whole screen.
    Press(Qt::Key_Escape);
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_TRUE(m_dlg->IsFileOpen());
}

TEST_F(WindowKeys, SavePictureWritesTheRecordedPictureWithItsFacts) {
    QTemporaryDir dir;
    Press(Qt::Key_Space); // paused: the picture to save stays put
    const int channel = m_dlg->Player().SelectedChannel();
    const auto shown = m_dlg->Player().ShownFrame(channel);
    ASSERT_TRUE(shown);
    m_prompts.saveAnswer = dir.filePath("picture.png");
    Press(Qt::Key_P);
    ASSERT_TRUE(m_prompts.notices.isEmpty()) << m_prompts.notices.join("|").toStdString();
    EXPECT_TRUE(
        m_prompts.proposedNames.value(0).startsWith(QString::asprintf("CH%02d_", channel + 1)));
    EXPECT_TRUE(m_prompts.proposedNames.value(0).endsWith(".png"));

    // The recorded size, not the cell's, and what it is in its text.
    const QImage saved(dir.filePath("picture.png"));
    ASSERT_FALSE(saved.isNull());
    EXPECT_EQ(saved.size(), QSize(176, 144));
    EXPECT_EQ(saved.text("Camera"), QString::number(channel + 1));
    EXPECT_EQ(saved.text("Source"), QString::fromStdString(TestRecordings().eightCameras));
    const uint32_t seconds = shown->time, ms = uint32_t(shown->microseconds) / 1000;
    EXPECT_EQ(saved.text("Recorded UTC seconds"), QString::asprintf("%u.%03u", seconds, ms));
    EXPECT_EQ(saved.pixel(88, 72), m_dlg->Player().ShownPicture(channel).pixel(88, 72));

    // Never onto the recording itself.
    m_prompts.saveAnswer = QString::fromStdString(TestRecordings().eightCameras);
    Press(Qt::Key_P);
    EXPECT_TRUE(m_prompts.notices.value(0).startsWith("Refusing to write onto the source"))
        << m_prompts.notices.join("|").toStdString();
}

TEST_F(WindowKeys, ALargerWindowGivesTheRoomToTheVideoAndTheTimeline) {
    m_dlg->resize(1920, 1080);
    QCoreApplication::processEvents();
    const int dx = 1920 - 1030, dy = 1080 - 710;
    // The coverage lanes under the timeline take their height from the video.
    const int lanes = CCoverageLanes::HeightFor(m_dlg->CoverageLanes().Cameras());
    ASSERT_TRUE(m_dlg->CoverageLanesShown());
    EXPECT_EQ(m_dlg->Player().geometry(), QRect(QPoint(7, 6), QPoint(819 + dx, 545 + dy - lanes)));
    EXPECT_EQ(m_dlg->Control(cmd::kTimeline)->geometry(), QRect(7, 554 + dy - lanes, 813 + dx, 26));
    EXPECT_EQ(m_dlg->CameraButton(1)->geometry(), QRect(832 + dx, 80, 43, 30));
    EXPECT_EQ(m_dlg->Control(cmd::kSaveAvi)->geometry(), QRect(484, 620 + dy, 104, 40));
    EXPECT_EQ(m_dlg->Control(cmd::kVolumeSlider)->geometry(), QRect(878 + dx, 628 + dy, 140, 24));
    // The cells follow the area.
    EXPECT_GE(m_dlg->Player().CellOf(m_dlg->Player().Lists().quad[3]).right,
              m_dlg->Player().width() - 2);

    Press(Qt::Key_F11);
    EXPECT_TRUE(m_dlg->IsVideoFullScreen());
    EXPECT_EQ(m_dlg->Player().geometry(), m_dlg->rect());
    Press(Qt::Key_Escape);
    EXPECT_FALSE(m_dlg->IsVideoFullScreen());
    EXPECT_EQ(m_dlg->size(), QSize(1920, 1080));
    EXPECT_EQ(m_dlg->Player().geometry(), QRect(QPoint(7, 6), QPoint(819 + dx, 545 + dy - lanes)));

    // Never smaller than it was drawn.
    m_dlg->resize(800, 600);
    EXPECT_EQ(m_dlg->size(), QSize(1030, 710));
}

} // namespace
} // namespace qm

namespace qm {
namespace {

TEST(CameraCoverage, GapsOfOneCameraShowAndAKeyFramePaceIsNoGap) {
    // Three 10-second blocks: camera 1 keys every second, camera 2 is missing
    // from the middle block, camera 3 keys every 4 seconds; then a disk block
    // that names its cameras only.
    std::vector<BlockKeys> blocks;
    for (uint32_t b = 0; b < 3; ++b) {
        BlockKeys block{1000 + b * 10, 1000 + b * 10 + 9, 0, true, {}};
        for (uint32_t t = block.start; t <= block.end; ++t) {
            block.keys.push_back({0, t});
            if (b != 1) block.keys.push_back({1, t});
            if ((t - 1000) % 4 == 0) block.keys.push_back({2, t});
        }
        blocks.push_back(block);
    }
    blocks.push_back({1100, 1109, 0b10, false, {}});
    const CameraCoverage coverage = CoverageOfBlocks(blocks);
    auto spans = [&](int channel) {
        std::vector<std::pair<uint32_t, uint32_t>> v;
        for (const CoverageSpan& s : coverage[size_t(channel)])
            v.push_back({s.first, s.end});
        return v;
    };
    using V = std::vector<std::pair<uint32_t, uint32_t>>;
    EXPECT_EQ(spans(0), (V{{1000, 1030}}));
    EXPECT_EQ(spans(1), (V{{1000, 1010}, {1020, 1030}, {1100, 1110}}));
    EXPECT_EQ(spans(2), (V{{1000, 1030}}));
    EXPECT_TRUE(spans(3).empty());
}

TEST(CoverageLanesInTheWindow, ALaneForEachCameraUnderTheTimelineWhenThereIsRoom) {
    ScriptedPrompts prompts;
    COrbiscopeDlg dlg(&prompts);
    dlg.show();
    prompts.openAnswer = QString::fromStdString(TestRecordings().withGap);
    dlg.OnCommand(cmd::kOpenFile);
    ASSERT_TRUE(dlg.IsFileOpen());
    // The window as it was drawn keeps its look; a taller one has room.
    EXPECT_FALSE(dlg.CoverageLanesShown());
    dlg.resize(1280, 900);
    QCoreApplication::processEvents();
    ASSERT_TRUE(dlg.CoverageLanesShown());
    const QRect lanes = dlg.CoverageLanes().geometry();
    EXPECT_EQ(lanes.top(), dlg.Control(cmd::kTimeline)->geometry().bottom() + 1);
    EXPECT_GT(lanes.top(), dlg.Player().geometry().bottom());
    // Both cameras, each with the recording's gap from 3 s to 8 s.
    EXPECT_EQ(dlg.CoverageLanes().Cameras(), 0b11u);
    const uint32_t start = dlg.StartTime();
    const auto& spans = dlg.CoverageLanes().Coverage()[1];
    ASSERT_EQ(spans.size(), 2u);
    EXPECT_EQ(spans[0].first, start);
    EXPECT_EQ(spans[0].end, start + 3);
    EXPECT_EQ(spans[1].first, start + 8);
    // 'c' hides them, and the video takes the room back.
    QTest::keyClick(dlg.windowHandle(), Qt::Key_C);
    QCoreApplication::processEvents();
    EXPECT_FALSE(dlg.CoverageLanes().isVisible());
    EXPECT_EQ(dlg.Player().geometry().bottom(), 545 + 900 - 710);
}

} // namespace
} // namespace qm

namespace qm {
namespace {

TEST(RecentRecordings, TheLastOpenedAreOfferedNewestFirstAndADroppedFileOpens) {
    QTemporaryDir dir;
    ScriptedPrompts prompts;
    COrbiscopeDlg dlg(&prompts);
    dlg.SetDriveFinder([] { return std::vector<DiskEntry>{}; });
    dlg.RememberIn(dir.filePath("settings.ini"));
    const QString eight = QString::fromStdString(TestRecordings().eightCameras);
    const QString gap = QString::fromStdString(TestRecordings().withGap);
    dlg.OpenPath(eight);
    ASSERT_TRUE(dlg.IsFileOpen());

    // Dropped on the window, a recording opens as if chosen in the dialog.
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(gap)});
    QDragEnterEvent enter(QPoint(400, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent drop(QPointF(400, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&dlg, &drop);
    ASSERT_TRUE(dlg.IsFileOpen());
    EXPECT_EQ(dlg.RecordingPath(), gap);
    dlg.OpenPath(eight);
    dlg.OpenPath(gap);
    EXPECT_EQ(dlg.RecentRecordings(), QStringList({gap, eight}));

    // The Load menu offers them after its own items; the second opens it.
    QStringList texts;
    QAction* second = nullptr;
    for (QAction* a : dlg.LoadMenu()->actions()) {
        texts << a->text();
        if (a->text().startsWith("&2 ")) second = a;
    }
    EXPECT_EQ(texts,
              QStringList({"&OpenFile", "Open disk &image...", "", "&1 gap.avr", "&2 eight.avr"}));
    ASSERT_TRUE(second);
    second->trigger();
    EXPECT_EQ(dlg.RecordingPath(), eight);
    EXPECT_TRUE(dlg.IsFileOpen());
    // Kept for the next run.
    COrbiscopeDlg next(&prompts);
    next.RememberIn(dir.filePath("settings.ini"));
    EXPECT_EQ(next.RecentRecordings(), QStringList({eight, gap}));
}

} // namespace
} // namespace qm
