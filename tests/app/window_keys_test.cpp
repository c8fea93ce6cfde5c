// The window an examiner spends hours in: larger than it was drawn, the video
// alone on the screen, and driven from the keyboard.

#include "main_window_support.h"

#include "app/key_map.h"
#include "app/orbiscope_dlg.h"
#include "app/skin.h"
#include "player/player_ex.h"

#include <QSet>
#include <QTest>
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

    Press(Qt::Key_F1);
    EXPECT_EQ(m_prompts.notices.value(0), KeyListText());
    // Shown tooltips name the keys; the buttons' own texts stay as they are.
    EXPECT_EQ(m_dlg->Button(cmd::kPlay)->toolTip(), "Pause");
    EXPECT_EQ(ToolTipWithKeys(m_dlg->Button(cmd::kFastForward)->toolTip()), "Fast Forward (])");
    EXPECT_EQ(ToolTipWithKeys("Step Forward"), "Step Forward (.)");

    // Esc leaves the player open: it only ends the whole screen.
    Press(Qt::Key_Escape);
    EXPECT_TRUE(m_dlg->isVisible());
    EXPECT_TRUE(m_dlg->IsFileOpen());
}

TEST_F(WindowKeys, ALargerWindowGivesTheRoomToTheVideoAndTheTimeline) {
    m_dlg->resize(1920, 1080);
    QCoreApplication::processEvents();
    const int dx = 1920 - 1030, dy = 1080 - 710;
    EXPECT_EQ(m_dlg->Player().geometry(), QRect(QPoint(7, 6), QPoint(819 + dx, 545 + dy)));
    EXPECT_EQ(m_dlg->Control(cmd::kTimeline)->geometry(), QRect(7, 554 + dy, 813 + dx, 26));
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
    EXPECT_EQ(m_dlg->Player().geometry(), QRect(QPoint(7, 6), QPoint(819 + dx, 545 + dy)));

    // Never smaller than it was drawn.
    m_dlg->resize(800, 600);
    EXPECT_EQ(m_dlg->size(), QSize(1030, 710));
}

} // namespace
} // namespace qm
