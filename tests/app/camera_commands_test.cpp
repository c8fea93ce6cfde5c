// Cameras and splits in the main window: the camera buttons in every split,
// the split menu and button, the double-click single view, the camera pages
// and the camera map.

#include "app/orbiscope_dlg.h"
#include "app/skin.h"
#include "main_window_support.h"
#include "player/player_ex.h"

#include <QAction>
#include <QMenu>

#include <gtest/gtest.h>

#include <vector>

namespace qm {
namespace {

using testing_support::PumpUntil;
using testing_support::ScriptedPrompts;
using testing_support::TestRecordings;

class Cameras : public testing::Test {
protected:
    void SetUp() override {
        m_dlg = std::make_unique<COrbiscopeDlg>(&m_prompts);
        m_prompts.openAnswer = QString::fromStdString(TestRecordings().eightCameras);
        m_dlg->OnCommand(cmd::kOpenFile);
        ASSERT_TRUE(m_dlg->IsFileOpen());
    }

    void Click(int camera) { m_dlg->CameraButton(camera)->click(); }
    // The cameras (from 1) whose buttons are checked.
    std::vector<int> Checked() const {
        std::vector<int> out;
        for (int c = 1; c <= 32; ++c) {
            const bool on = m_dlg->CameraButton(c)->isChecked();
            EXPECT_EQ(m_dlg->CameraButton(c)->TextColor(), on ? skin::kCameraOn : skin::kCameraOff)
                << c;
            if (on) out.push_back(c);
        }
        return out;
    }
    const ChannelLists& Lists() { return m_dlg->Player().Lists(); }
    int Mode() { return m_dlg->Player().DisplayMode(); }

    ScriptedPrompts m_prompts;
    std::unique_ptr<COrbiscopeDlg> m_dlg;
};

using Quad = std::array<int, 4>;

TEST_F(Cameras, QuadSplitReplacesTheFirstCameraWhenFullAndKeepsItsListSorted) {
    ASSERT_EQ(Mode(), 2);
    EXPECT_EQ(Lists().quad, (Quad{0, 1, 2, 3}));
    EXPECT_EQ(Checked(), (std::vector<int>{1, 2, 3, 4}));

    Click(6); // full: camera 1 gives way
    EXPECT_EQ(Lists().quad, (Quad{1, 2, 3, 5}));
    EXPECT_EQ(Checked(), (std::vector<int>{2, 3, 4, 6}));
    EXPECT_EQ(m_dlg->Player().DisplayedMask(), 0b101110u);

    Click(3);
    Click(6);
    EXPECT_EQ(Lists().quad, (Quad{1, 3, -1, -1}));
    Click(1); // a free entry takes it, then the list is sorted
    EXPECT_EQ(Lists().quad, (Quad{0, 1, 3, -1}));
    EXPECT_EQ(Checked(), (std::vector<int>{1, 2, 4}));

    // Unchecking a camera in no entry changes nothing; a checked camera's
    // button turned off and on again goes back into the list.
    Click(8);
    EXPECT_EQ(Lists().quad, (Quad{0, 1, 3, 7}));
    Click(8);
    EXPECT_EQ(Lists().quad, (Quad{0, 1, 3, -1}));
    EXPECT_FALSE(m_dlg->IsBusy());
}

TEST_F(Cameras, SingleViewKeepsItsCameraAndOtherSplitsFollowTheirLists) {
    m_dlg->OnPlay(); // paused, so that no key frame starts a channel meanwhile
    m_dlg->OnCommand(cmd::kDisplay1);
    ASSERT_EQ(Mode(), 1);
    const int shown = Lists().single;
    ASSERT_GE(shown, 0);
    Click(shown + 1); // the shown camera stays shown and checked
    EXPECT_EQ(Lists().single, shown);
    EXPECT_EQ(Checked(), (std::vector<int>{shown + 1}));
    Click(7); // another camera takes the view
    EXPECT_EQ(Lists().single, 6);
    EXPECT_EQ(Checked(), (std::vector<int>{7}));
    EXPECT_FALSE(m_dlg->Player().IsStarted(6));

    m_dlg->OnCommand(cmd::kDisplay9);
    ASSERT_EQ(Mode(), 3);
    EXPECT_EQ(Checked(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8}));
    Click(2);
    EXPECT_EQ(Lists().nine[7], -1);
    EXPECT_EQ(Lists().nine[0], 0);
    EXPECT_EQ(Lists().nine[1], 2);

    m_dlg->OnCommand(cmd::kDisplay32);
    ASSERT_EQ(Mode(), 5);
    const int before = Lists().thirtyTwo[0];
    Click(before + 1); // out of the 32 list: its entry is freed, no sort
    EXPECT_EQ(Lists().thirtyTwo[0], -1);
    Click(before + 1);
    EXPECT_EQ(Lists().thirtyTwo[0], before);
}

TEST_F(Cameras, DoubleClickTogglesTheSingleViewAndTheSplitButtonsRelayout) {
    m_dlg->OnCommand(cmd::kDisplay9);
    ASSERT_EQ(Mode(), 3);
    emit m_dlg->Player().channelDoubleClicked(6);
    EXPECT_EQ(Mode(), 1);
    EXPECT_EQ(Lists().single, 6);
    EXPECT_EQ(Checked(), (std::vector<int>{7}));
    emit m_dlg->Player().channelDoubleClicked(6);
    EXPECT_EQ(Mode(), 3);

    // The split menu's items and the 2 x 2 button.
    QMenu* menu = m_dlg->DisplayModeMenu();
    QStringList texts;
    for (QAction* a : menu->actions())
        texts << a->text();
    EXPECT_EQ(texts, QStringList({"Display   1 Channel", "Display   4 Channel",
                                  "Display   9 Channel", "Display 16 Channel"}));
    menu->actions()[1]->trigger();
    EXPECT_EQ(Mode(), 2);
    // Choosing the split already shown changes nothing, even a hand-made list.
    Click(1);
    const Quad edited = Lists().quad;
    m_dlg->OnCommand(cmd::kDisplay4);
    EXPECT_EQ(Lists().quad, edited);
    EXPECT_EQ(Checked(), (std::vector<int>{2, 3, 4}));
    // The 2 x 2 button lays the split out again; cameras shown stay.
    m_dlg->OnCommand(cmd::kQuadSplit);
    EXPECT_EQ(Lists().quad, edited);
    EXPECT_EQ(m_dlg->Player().DisplayedMask(), 0b1110u);
}

TEST_F(Cameras, CameraPagesAndFitScreen) {
    for (int c = 1; c <= 32; ++c)
        EXPECT_EQ(m_dlg->CameraButton(c)->isVisibleTo(m_dlg.get()), c <= 16) << c;
    m_dlg->OnCommand(cmd::kCameraGroup);
    EXPECT_EQ(m_dlg->CameraGroup(), 1);
    EXPECT_EQ(m_dlg->Control(cmd::kCameraGroup)->toolTip(), "PREV_CAMERA_GROUP");
    for (int c = 1; c <= 32; ++c)
        EXPECT_EQ(m_dlg->CameraButton(c)->isVisibleTo(m_dlg.get()), c > 16) << c;
    m_dlg->OnCommand(cmd::kCameraGroup);
    EXPECT_EQ(m_dlg->Control(cmd::kCameraGroup)->toolTip(), "NEXT_CAMERA_GROUP");

    EXPECT_TRUE(m_dlg->Player().FitScreen());
    m_dlg->Button(cmd::kFitScreen)->click();
    EXPECT_FALSE(m_dlg->Player().FitScreen());
}

TEST_F(Cameras, CameraMapFillsTheChosenSplit) {
    m_dlg->SetCamMap(CamMap{3, 40, 8});
    m_dlg->OnCommand(cmd::kDisplay9);
    m_dlg->ApplyCamMap(3);
    EXPECT_EQ(Lists().nine[0], 2);
    EXPECT_EQ(Lists().nine[1], -1); // camera 40 does not exist
    EXPECT_EQ(Lists().nine[2], 7);
    for (size_t j = 3; j < 9; ++j)
        EXPECT_EQ(Lists().nine[j], -1);
    EXPECT_EQ(Checked(), (std::vector<int>{3, 8}));

    // A map naming no recorded camera changes nothing.
    m_dlg->SetCamMap(CamMap{20, 21});
    m_dlg->ApplyCamMap(3);
    EXPECT_EQ(Checked(), (std::vector<int>{3, 8}));
    // A mode without a split only clears the buttons.
    m_dlg->SetCamMap(CamMap{1});
    m_dlg->ApplyCamMap(0);
    EXPECT_TRUE(Checked().empty());
}

TEST(CamerasWithNothingOpen, ButtonsFlipBackAndNothingElseHappens) {
    ScriptedPrompts prompts;
    COrbiscopeDlg dlg(&prompts);
    const ChannelLists before = dlg.Player().Lists();
    dlg.CameraButton(5)->click();
    EXPECT_FALSE(dlg.CameraButton(5)->isChecked());
    EXPECT_EQ(dlg.Player().Lists().quad, before.quad);
    EXPECT_TRUE(prompts.notices.isEmpty());
}

} // namespace
} // namespace qm
