// The main window driven offscreen: opening, the messages of failed opens,
// the transport commands with their status texts and skin states, and the
// snapshot command.

#include "app/bit_slider.h"
#include "app/export_range.h"
#include "app/orbiscope_dlg.h"
#include "app/recording_texts.h"
#include "app/skin.h"
#include "app/timeline_controller.h"
#include "app/timeline_text.h"
#include "main_window_support.h"
#include "player/player_ex.h"

#include "export/save_avi_dlg.h"
#include "export/save_avi_job.h"

#include <QComboBox>
#include <QDateTimeEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <cstdlib>
#include <ctime>

namespace qm {
namespace {

using testing_support::PumpUntil;
using testing_support::ScriptedPrompts;
using testing_support::TestRecordings;

class MainWindow : public testing::Test {
protected:
    void SetUp() override { m_dlg = std::make_unique<COrbiscopeDlg>(&m_prompts); }
    void TearDown() override { m_dlg.reset(); }

    // Opens through the Load menu's "&OpenFile" and the file dialog.
    void OpenThroughDialog(const std::string& path) {
        m_prompts.openAnswer = QString::fromStdString(path);
        m_dlg->OnCommand(cmd::kOpenFile);
    }
    void OpenEight() {
        OpenThroughDialog(TestRecordings().eightCameras);
        ASSERT_TRUE(m_dlg->IsFileOpen());
        // Playing: the clock advances once the first frames are shown.
        ASSERT_TRUE(PumpUntil([&] { return m_dlg->Player().CurrentTime() != 0; }, 10000));
    }

    ScriptedPrompts m_prompts;
    std::unique_ptr<COrbiscopeDlg> m_dlg;
};

TEST_F(MainWindow, StartsEmptyWithTheTransportDisabled) {
    EXPECT_EQ(m_dlg->size(), QSize(1030, 710));
    EXPECT_TRUE(m_dlg->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(m_dlg->windowTitle(), "QMPlayer HD");
    EXPECT_EQ(m_dlg->StatusText(), "Stop");
    for (int id : {cmd::kPlay, cmd::kReverse, cmd::kFastForward, cmd::kFastReverse,
                   cmd::kTimeSearch, cmd::kTimeline, cmd::kScaleIn})
        EXPECT_FALSE(m_dlg->Control(id)->isEnabled()) << id;
    for (int id : {cmd::kLoad, cmd::kSaveAvi, cmd::kSaveJpg, cmd::kCameraGroup})
        EXPECT_TRUE(m_dlg->Control(id)->isEnabled()) << id;
    EXPECT_EQ(m_dlg->findChild<QWidget*>("ctl1051"), m_dlg->Control(cmd::kPlay));
    EXPECT_EQ(m_dlg->Control(cmd::kClose)->toolTip(), "Close QMPlayer HD");
    EXPECT_TRUE(m_dlg->Button(cmd::kFitScreen)->isChecked());
    EXPECT_FALSE(m_dlg->Player().isVisible());

    m_dlg->SetDriveFinder([] { return std::vector<DiskEntry>{}; });
    QMenu* load = m_dlg->LoadMenu();
    ASSERT_EQ(load->actions().size(), 2);
    EXPECT_EQ(load->actions()[0]->text(), "&OpenFile");
    EXPECT_EQ(load->actions()[1]->text(), "Open disk &image...");

    m_dlg->SetVersion("1.0.0.1");
    m_dlg->OnCommand(cmd::kAbout);
    EXPECT_EQ(m_prompts.notices.value(0), "QMPlayer HD Version 1.0.0.1");
    m_prompts.notices.clear();

    // Nothing open: Play asks for a recording, the snapshot too.
    m_dlg->OnPlay();
    m_dlg->OnSaveJpg();
    EXPECT_EQ(m_prompts.notices,
              QStringList({"Please open a AVR file first.", "Please open a ARY file first."}));
}

TEST_F(MainWindow, CommandLineOpenAppliesTheModeAndTheCameraMap) {
    const QString path = QString::fromStdString(TestRecordings().eightCameras);
    m_dlg->SetRecordingPath(path);
    m_dlg->SetMode(4);
    m_dlg->SetCamMap(CamMap{5, 6, 7});
    m_dlg->show();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->IsFileOpen(); }, 5000));
    EXPECT_TRUE(m_prompts.notices.isEmpty());
    EXPECT_EQ(m_dlg->windowTitle(), "QMPlayer HD - [ " + path + " ]");
    EXPECT_EQ(m_dlg->StatusText(), "Play");
    EXPECT_EQ(m_dlg->Player().DisplayMode(), 4);
    const auto& sixteen = m_dlg->Player().Lists().sixteen;
    EXPECT_EQ(sixteen[0], 4);
    EXPECT_EQ(sixteen[1], 5);
    EXPECT_EQ(sixteen[2], 6);
    for (size_t j = 3; j < sixteen.size(); ++j)
        EXPECT_EQ(sixteen[j], -1) << j;
    for (int camera = 1; camera <= 32; ++camera) {
        const bool on = camera >= 5 && camera <= 7;
        EXPECT_EQ(m_dlg->CameraButton(camera)->isChecked(), on) << camera;
        EXPECT_EQ(m_dlg->CameraButton(camera)->TextColor(),
                  on ? skin::kCameraOn : skin::kCameraOff);
        EXPECT_EQ(m_dlg->CameraButton(camera)->isEnabled(), camera <= 8) << camera;
    }
    EXPECT_TRUE(m_dlg->InfoText().startsWith("Model: H264\nStart:\n    Date:"));
    EXPECT_TRUE(m_dlg->IsTimerActive(COrbiscopeDlg::kTimerClock));
    EXPECT_TRUE(m_dlg->IsTimerActive(COrbiscopeDlg::kTimerTimeline));
    EXPECT_TRUE(m_dlg->Player().isVisible());
    for (int id : {cmd::kPlay, cmd::kReverse, cmd::kFastForward, cmd::kFastReverse,
                   cmd::kTimeSearch, cmd::kTimeline, cmd::kScaleIn, cmd::kQuadSplit})
        EXPECT_TRUE(m_dlg->Control(id)->isEnabled()) << id;
    // The timeline runs over the recording's frames.
    EXPECT_EQ(m_dlg->EndTime() - m_dlg->StartTime(), 5u);

    m_dlg->Stop();
    EXPECT_EQ(m_dlg->StatusText(), "Stop");
    EXPECT_FALSE(m_dlg->IsFileOpen());
    EXPECT_FALSE(m_dlg->Player().isVisible());
    EXPECT_FALSE(m_dlg->IsTimerActive(COrbiscopeDlg::kTimerClock));
    EXPECT_FALSE(m_dlg->Control(cmd::kFastForward)->isEnabled());
}

// The split the command line asks for is applied after the open has started
// playing in 2 x 2; the cameras it adds start from the recording's first key
// frame with the others instead of waiting for their next one.
TEST_F(MainWindow, CommandLineSplitShowsAddedCamerasFromTheFirstFrame) {
    m_dlg->SetRecordingPath(QString::fromStdString(TestRecordings().eightCameras));
    m_dlg->SetMode(3);
    m_dlg->show();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->IsFileOpen(); }, 5000));
    ASSERT_EQ(m_dlg->Player().DisplayMode(), 3);
    std::array<int64_t, 8> first{};
    first.fill(-1);
    const bool all = PumpUntil(
        [&] {
            for (int c = 0; c < 8; ++c)
                if (const auto shown = m_dlg->Player().ShownFrame(c); shown && first[c] < 0)
                    first[c] = int64_t(shown->time) * 1000 + shown->microseconds / 1000;
            return std::all_of(first.begin(), first.end(), [](int64_t ms) { return ms >= 0; });
        },
        10000);
    ASSERT_TRUE(all);
    // Key frames come every half second; the first is at the start. Cameras
    // 1 to 4 were on view from the open. A camera shows nothing before its
    // key frame, so one whose first picture the polling sees is earlier than
    // the second key frame started from the first (a slow machine may draw
    // a frame or two before the poll).
    for (int c = 4; c < 8; ++c)
        EXPECT_LT(first[c], int64_t(m_dlg->StartTime()) * 1000 + 500) << "camera " << c + 1;
}

TEST_F(MainWindow, FailedOpensSayWhyAndLeaveNothingOpen) {
    m_dlg->show();
    OpenThroughDialog(TestRecordings().missing);
    OpenThroughDialog(TestRecordings().noMagic);
    OpenThroughDialog(TestRecordings().headerOnly);
    EXPECT_EQ(m_prompts.notices,
              QStringList({"Open file failed.", "Check file format error.",
                           "Unknow file format, please check file or download new Player."}));
    EXPECT_EQ(m_prompts.openFilters.value(0),
              "Archived Quillmere DVR Files (*.avr)|*.avr|All Files (*.*)|*.*|");
    EXPECT_FALSE(m_dlg->IsFileOpen());
    EXPECT_FALSE(m_dlg->IsBusy());
    EXPECT_EQ(m_dlg->windowTitle(), "QMPlayer HD");
    EXPECT_EQ(m_dlg->StatusText(), "Stop");

    // A refused path given for Play is forgotten.
    m_prompts.notices.clear();
    m_dlg->SetRecordingPath(QString::fromStdString(TestRecordings().noMagic));
    m_dlg->OnPlay();
    EXPECT_EQ(m_prompts.notices, QStringList({"Check file format error.", "Open file error."}));
    EXPECT_TRUE(m_dlg->RecordingPath().isEmpty());
}

TEST_F(MainWindow, AFailedOpenLeavesNothingOfTheRecordingBefore) {
    m_dlg->show();
    auto expectNothingOpen = [&](const char* after) {
        SCOPED_TRACE(after);
        EXPECT_FALSE(m_dlg->IsRecordingOpen());
        EXPECT_FALSE(m_dlg->IsBusy());
        EXPECT_EQ(m_dlg->windowTitle(), "QMPlayer HD");
        EXPECT_TRUE(m_dlg->RecordingPath().isEmpty());
        EXPECT_EQ(m_dlg->InfoText(), "");
        EXPECT_EQ(m_dlg->ClockText(), "");
        EXPECT_EQ(m_dlg->StatusText(), "Stop");
        for (int id :
             {cmd::kPlay, cmd::kReverse, cmd::kFastForward, cmd::kTimeSearch, cmd::kTimeline})
            EXPECT_FALSE(m_dlg->Control(id)->isEnabled()) << id;
        EXPECT_TRUE(m_dlg->Control(cmd::kLoad)->isEnabled());
        EXPECT_EQ(m_dlg->StartTime(), 0u);
        EXPECT_EQ(m_dlg->EndTime(), 0u);
        EXPECT_EQ(m_dlg->Timeline().ViewEnd(), 0);
        EXPECT_EQ(static_cast<QLabel*>(m_dlg->Control(cmd::kStartTimeText))->text(), "Start Time");
        EXPECT_FALSE(m_dlg->IsTimerActive(COrbiscopeDlg::kTimerClock));
        EXPECT_FALSE(m_dlg->Player().isVisible());
        const QImage video = m_dlg->Player().BackBuffer();
        if (!video.isNull())
            EXPECT_EQ(video.pixelColor(video.width() / 2, video.height() / 2), QColor(Qt::black));
        // Play has nothing to reopen, Save as AVI nothing to export.
        m_prompts.notices.clear();
        m_dlg->OnPlay();
        m_dlg->OnSaveAvi();
        EXPECT_EQ(m_prompts.notices,
                  QStringList({"Please open a AVR file first.", "Please open a AVR file first."}));
    };

    // An archive the reader refuses, after an archive that played.
    OpenEight();
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->ClockText().contains("-"); }, 5000));
    OpenThroughDialog(TestRecordings().headerOnly);
    expectNothingOpen("refused archive");

    // No disk in an image, after an archive that played.
    OpenEight();
    m_prompts.openAnswer = QString::fromStdString(TestRecordings().noMagic);
    m_dlg->OnCommand(cmd::kOpenDiskImage);
    expectNothingOpen("no disk");

    // A file that is gone, after a disk that played.
    m_prompts.openAnswer = QString::fromStdString(TestRecordings().diskImage);
    m_dlg->OnCommand(cmd::kOpenDiskImage);
    ASSERT_TRUE(m_dlg->IsHddOpen());
    OpenThroughDialog(TestRecordings().missing);
    expectNothingOpen("missing file");

    // And a good recording opens as ever afterwards.
    OpenEight();
    EXPECT_TRUE(m_dlg->Control(cmd::kSaveAvi)->isEnabled());
    EXPECT_TRUE(m_dlg->Control(cmd::kTimeSearch)->isEnabled());
}

TEST_F(MainWindow, TimeSearchIntoAGapPlaysTheNextRecordedMoment) {
    OpenThroughDialog(TestRecordings().withGap);
    ASSERT_TRUE(m_dlg->IsFileOpen());
    const uint32_t start = m_dlg->StartTime();
    const int64_t offset = m_dlg->Player().Recording().timeOffset;
    // Nothing was recorded from second 3 to 8.
    ASSERT_TRUE(m_dlg->Timeline().SearchTo(start + 5 + offset));
    EXPECT_EQ(m_dlg->StatusText(), GapNoticeText(start + 5 + offset, start + 8 + offset));
    EXPECT_TRUE(PumpUntil([&] { return m_dlg->Player().CurrentTime() >= start + 8; }, 5000));
    EXPECT_LT(m_dlg->Player().CurrentTime(), start + 10);

    // A recorded time plays as typed.
    ASSERT_TRUE(m_dlg->Timeline().SearchTo(start + 1 + offset));
    EXPECT_EQ(m_dlg->StatusText(), "Play");
    EXPECT_TRUE(PumpUntil(
        [&] {
            const uint32_t t = m_dlg->Player().CurrentTime();
            return t >= start + 1 && t < start + 3;
        },
        5000));
}

TEST_F(MainWindow, PlayPausesAndResumesAndFastForwardDoublesUpTo64) {
    OpenEight();
    m_dlg->OnPlay();
    EXPECT_EQ(m_dlg->StatusText(), "Pause");
    EXPECT_EQ(m_dlg->Player().PlayStateNow(), kPlayStatePaused);
    EXPECT_EQ(m_dlg->SkinStateShown(), COrbiscopeDlg::kSkinPaused);
    EXPECT_EQ(m_dlg->Button(cmd::kFastForward)->toolTip(), "Step Forward");

    m_dlg->OnPlay();
    EXPECT_EQ(m_dlg->StatusText(), "Play");
    EXPECT_EQ(m_dlg->Player().PlayStateNow(), kPlayStatePlaying);
    EXPECT_FALSE(m_dlg->Player().IsReverse());
    EXPECT_EQ(m_dlg->SkinStateShown(), COrbiscopeDlg::kSkinPlaying);
    EXPECT_EQ(m_dlg->Button(cmd::kPlay)->toolTip(), "Pause");

    for (int speed = 2; speed <= 64; speed *= 2) {
        m_dlg->OnFastForward();
        EXPECT_EQ(m_dlg->StatusText(), QString::asprintf("Fast Forward %dX", speed));
        EXPECT_EQ(m_dlg->Player().Speed(), speed);
    }
    m_dlg->OnFastForward();
    EXPECT_EQ(m_dlg->StatusText(), "Fast Forward 64X");
    EXPECT_EQ(m_dlg->Player().Speed(), 64);
    EXPECT_EQ(m_dlg->Player().PlayStateNow(), kPlayStateFast);
    EXPECT_EQ(m_dlg->SkinStateShown(), COrbiscopeDlg::kSkinFast);
    EXPECT_FALSE(m_dlg->IsBusy());
}

TEST_F(MainWindow, FastButtonsStepWhilePausedAndReverseTogglesPause) {
    OpenEight();
    m_dlg->OnPlay(); // pause
    m_dlg->OnFastForward();
    EXPECT_EQ(m_dlg->StatusText(), "Step Forword");
    EXPECT_EQ(m_dlg->Player().Speed(), 1);
    // The player shows one frame and pauses by itself.
    EXPECT_TRUE(
        PumpUntil([&] { return m_dlg->Player().PlayStateNow() == kPlayStatePaused; }, 5000));

    m_dlg->OnFastReverse();
    EXPECT_EQ(m_dlg->StatusText(), "Step Reverse");
    EXPECT_TRUE(m_dlg->Player().IsReverse());

    m_dlg->OnReverse();
    EXPECT_EQ(m_dlg->StatusText(), "Reverse Play");
    EXPECT_EQ(m_dlg->Player().PlayStateNow(), kPlayStatePlaying);
    EXPECT_EQ(m_dlg->SkinStateShown(), COrbiscopeDlg::kSkinReversing);
    m_dlg->OnReverse();
    EXPECT_EQ(m_dlg->StatusText(), "Pause");
    EXPECT_EQ(m_dlg->SkinStateShown(), COrbiscopeDlg::kSkinPaused);
}

TEST_F(MainWindow, FastForwardWhileReversingTurnsForwardAtTwice) {
    OpenEight();
    m_dlg->OnReverse();
    for (int i = 0; i < 4; ++i)
        m_dlg->OnFastReverse();
    EXPECT_EQ(m_dlg->StatusText(), "Fast Reverse 16X");
    m_dlg->OnFastForward();
    EXPECT_EQ(m_dlg->StatusText(), "Fast Forward 2X");
    EXPECT_FALSE(m_dlg->Player().IsReverse());
    EXPECT_EQ(m_dlg->Player().Speed(), 2);
}

TEST_F(MainWindow, APressWhileACommandSettlesIsIgnored) {
    OpenEight();
    // Reverse re-seeks and settles while dispatching events: the Play press
    // queued meanwhile finds the window busy.
    bool ran = false;
    QTimer::singleShot(0, m_dlg.get(), [&] {
        ran = true;
        m_dlg->OnPlay();
    });
    m_dlg->OnReverse();
    EXPECT_TRUE(ran);
    EXPECT_EQ(m_dlg->StatusText(), "Reverse Play");
    EXPECT_TRUE(m_dlg->Player().IsReverse());
    EXPECT_EQ(m_dlg->Player().PlayStateNow(), kPlayStatePlaying);
    EXPECT_FALSE(m_dlg->IsBusy());
}

TEST_F(MainWindow, SettlingGivesUpWhenTheReaderNeverCompletesAPass) {
    OpenEight();
    // A reader that makes no more passes: the command ends after the limit,
    // with the window no longer busy.
    m_dlg->Player().Close();
    m_dlg->SetSettleLimitMs(300);
    m_dlg->OnReverse();
    EXPECT_EQ(m_dlg->StatusText(), "Reverse Play");
    EXPECT_FALSE(m_dlg->IsBusy());
}

TEST_F(MainWindow, SnapshotNeedsAPausedPictureAndProposesTheCameraName) {
    QTemporaryDir dir;
    OpenEight();
    m_dlg->OnSaveJpg();
    EXPECT_EQ(m_prompts.notices, QStringList({"Please pause video first."}));
    EXPECT_TRUE(m_prompts.proposedNames.isEmpty());

    m_dlg->ToggleSingleView(4);
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->Player().DrawCount() > 0; }, 5000));
    m_dlg->OnPlay(); // pause
    m_prompts.saveAnswer = dir.filePath("still.PNG");
    m_dlg->OnSaveJpg();
    EXPECT_EQ(m_prompts.proposedNames, QStringList({"CH05.jpg"}));
    EXPECT_EQ(m_prompts.saveSuffixes, QStringList({"jpg"}));
    EXPECT_EQ(m_prompts.saveFilters.value(0),
              "JPG(*.jpg)|*.jpg|BMP(*.bmp)|*.bmp|PNG(*.png)|*.png|All Files (*.*)|*.*||");
    QImage still(m_prompts.saveAnswer, "PNG");
    EXPECT_EQ(still.size(), m_dlg->Player().size());

    m_dlg->ToggleSingleView(4); // back to the 2 x 2 split: no name proposed
    m_dlg->OnSaveJpg();
    EXPECT_EQ(m_prompts.proposedNames.value(1), "");
}

TEST_F(MainWindow, SavesNeverReachTheRecordingAndReplaceOnlyWhenTheUserAgrees) {
    QTemporaryDir dir;
    // The recording reached through a link in the save dialog's folder.
    const QString recording = QString::fromStdString(TestRecordings().eightCameras);
    const QString link = dir.filePath("link.jpg");
    ASSERT_TRUE(QFile::link(recording, link));
    QFile original(recording);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray before = original.readAll();
    OpenEight();
    m_dlg->OnPlay(); // pause

    for (const QString& name : {recording, link}) {
        m_prompts.notices.clear();
        m_prompts.saveAnswer = name;
        m_dlg->OnSaveJpg();
        EXPECT_EQ(m_prompts.notices, QStringList({"Refusing to write onto the source: " + name}));
    }
    m_prompts.notices.clear();
    m_prompts.saveAnswer = recording;
    QTimer::singleShot(100, m_dlg.get(), [&] {
        auto* save = m_dlg->findChild<CQMSaveAviDlg*>();
        save->OnStart(); // refused: the dialog stays open
        save->reject();
    });
    m_dlg->OnSaveAvi();
    EXPECT_EQ(m_prompts.notices, QStringList({"Refusing to write onto the source: " + recording}));
    EXPECT_EQ(m_prompts.questions, QStringList());

    // An existing picture: asked about, kept on No, replaced on Yes.
    m_dlg->OnPlay(); // the export resumed playing
    const QString still = dir.filePath("still.png");
    QFile old(still);
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("not a picture");
    old.close();
    m_prompts.saveAnswer = still;
    m_dlg->OnSaveJpg();
    ASSERT_EQ(m_prompts.questions.size(), 1);
    EXPECT_TRUE(m_prompts.questions[0].startsWith(still + " already exists."));
    EXPECT_EQ(QFileInfo(still).size(), 13);
    m_prompts.confirmAnswer = true;
    m_dlg->OnSaveJpg();
    EXPECT_EQ(QImage(still, "PNG").size(), m_dlg->Player().size());

    original.seek(0);
    EXPECT_EQ(original.readAll(), before);
}

TEST_F(MainWindow, TimelineShowsTheRecordingAndAReleaseSeeksAndPlays) {
    OpenEight();
    CTimelineController& timeline = m_dlg->Timeline();
    // Six seconds: the whole recording at once.
    EXPECT_EQ(timeline.ViewStart(), m_dlg->StartTime());
    EXPECT_EQ(timeline.ViewEnd(), m_dlg->EndTime());
    auto* slider = static_cast<CBitSlider*>(m_dlg->Control(cmd::kTimeline));
    EXPECT_EQ(slider->GetRangeMin(), m_dlg->StartTime());
    EXPECT_EQ(slider->GetRangeMax(), m_dlg->EndTime());
    EXPECT_FALSE(timeline.StartText().isEmpty());
    EXPECT_EQ(static_cast<QLabel*>(m_dlg->Control(cmd::kStartTimeText))->text(),
              timeline.StartText());
    EXPECT_EQ(static_cast<QLabel*>(m_dlg->Control(cmd::kEndTimeText))->text(), timeline.EndText());

    m_dlg->OnPlay(); // pause
    ASSERT_EQ(m_dlg->StatusText(), "Pause");
    timeline.OnSliderRelease(m_dlg->StartTime() + 1);
    EXPECT_EQ(m_dlg->StatusText(), "Play");
    EXPECT_EQ(m_dlg->Player().PlayStateNow(), kPlayStatePlaying);
    EXPECT_EQ(m_dlg->SkinStateShown(), COrbiscopeDlg::kSkinPlaying);
    EXPECT_FALSE(m_dlg->IsBusy());
    // The frames after the seek come from the second picked.
    EXPECT_TRUE(
        PumpUntil([&] { return m_dlg->Player().CurrentTime() >= m_dlg->StartTime() + 1; }, 5000));
}

// A mixer the test controls.
class FakeMixer : public IVolumeControl {
public:
    bool IsAvailable() const override { return true; }
    bool GetRange(int64_t& min, int64_t& max) const override {
        min = 0;
        max = 100;
        return true;
    }
    std::optional<int64_t> GetVolume() const override { return volume; }
    bool SetVolume(int64_t v) override {
        volume = v;
        return true;
    }
    std::optional<bool> GetPlaybackSwitch() const override { return on; }
    bool SetPlaybackSwitch(bool v) override {
        on = v;
        return true;
    }
    int64_t volume = 40;
    bool on = true;
};

TEST(MainWindowVolume, SliderShowsTheMixerAndVolMutes) {
    ScriptedPrompts prompts;
    auto owned = std::make_unique<FakeMixer>();
    FakeMixer* mixer = owned.get();
    COrbiscopeDlg dlg(&prompts, nullptr, std::move(owned));
    auto* slider = static_cast<CBitSlider*>(dlg.Control(cmd::kVolumeSlider));
    EXPECT_EQ(slider->GetRangeMax(), 100);
    EXPECT_EQ(slider->GetPos(), 40);
    EXPECT_EQ(dlg.Button(cmd::kVolumeButton)->Face(), ButtonFace::Speaker);
    dlg.OnCommand(cmd::kVolumeButton);
    EXPECT_FALSE(mixer->on);
    EXPECT_EQ(dlg.Button(cmd::kVolumeButton)->Face(), ButtonFace::SpeakerMuted);
    dlg.OnCommand(cmd::kVolumeButton);
    EXPECT_TRUE(mixer->on);
    EXPECT_EQ(dlg.Button(cmd::kVolumeButton)->Face(), ButtonFace::Speaker);
}

TEST_F(MainWindow, LoadMenuListsTheDvrDrivesAndOpensADiskImage) {
    DiskEntry card;
    card.drive = 1;
    card.sizeGB = 7.9f;
    card.kind = kDriveKindCard;
    DiskEntry disk;
    disk.drive = 3;
    disk.sizeGB = GigabytesOfSectors(3907024065);
    disk.kind = kDriveKindDisk;
    std::vector<DiskEntry> drives = {card, disk};
    m_dlg->SetDriveFinder([&] { return drives; });
    QMenu* load = m_dlg->LoadMenu();
    QStringList texts;
    QList<uint32_t> commands;
    for (QAction* a : load->actions()) {
        texts << a->text();
        commands << a->data().toUInt();
    }
    EXPECT_EQ(texts, QStringList({"&OpenFile", "Open disk &image...", "SD #01\t7.9 GB",
                                  "HDD #01\t2000.4 GB"}));
    EXPECT_EQ(commands[2], 0x45678912u + 1);
    EXPECT_EQ(commands[3], 0x45678912u + 2);
    // No DVR drive now: the menu keeps the file items only.
    drives.clear();
    EXPECT_EQ(m_dlg->LoadMenu()->actions().size(), 2);

    // Opening an image leaves the title as it was; the status says it plays.
    m_prompts.openAnswer = QString::fromStdString(TestRecordings().diskImage);
    m_dlg->OnCommand(cmd::kOpenDiskImage);
    ASSERT_TRUE(m_dlg->IsHddOpen()) << m_prompts.notices.join("|").toStdString();
    EXPECT_FALSE(m_dlg->IsFileOpen());
    EXPECT_EQ(m_dlg->StatusText(), "Play");
    EXPECT_EQ(m_dlg->windowTitle(), "QMPlayer HD");
    for (int camera = 1; camera <= 8; ++camera)
        EXPECT_EQ(m_dlg->CameraButton(camera)->isEnabled(), camera <= 4) << camera;
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->Player().CurrentTime() != 0; }, 10000));
    // A disk plays at most four times faster.
    m_dlg->OnFastForward();
    m_dlg->OnFastForward();
    m_dlg->OnFastForward();
    EXPECT_EQ(m_dlg->StatusText(), "Fast Forward 4X");
    EXPECT_EQ(m_dlg->Player().Speed(), 4);

    // Something that is no disk.
    m_prompts.openAnswer = QString::fromStdString(TestRecordings().noMagic);
    m_dlg->OnCommand(cmd::kOpenDiskImage);
    EXPECT_EQ(m_prompts.notices, QStringList({"NO video in Hard Drive"}));
    EXPECT_FALSE(m_dlg->IsHddOpen());

    // Without its block table: the ring is scanned, the user told, and it plays.
    m_prompts.notices.clear();
    m_prompts.openAnswer = QString::fromStdString(TestRecordings().diskNoTable);
    m_dlg->OnCommand(cmd::kOpenDiskImage);
    ASSERT_TRUE(m_dlg->IsHddOpen());
    ASSERT_EQ(m_prompts.notices.size(), 1);
    EXPECT_TRUE(m_prompts.notices[0].startsWith("The disk's block table is damaged or empty.\n"))
        << m_prompts.notices[0].toStdString();
    EXPECT_TRUE(m_dlg->InfoText().contains("Index damaged:")) << m_dlg->InfoText().toStdString();
    EXPECT_EQ(m_dlg->StatusText(), "Play");
    ASSERT_TRUE(PumpUntil([&] { return m_dlg->Player().CurrentTime() != 0; }, 10000));
}

TEST_F(MainWindow, SaveAsAviExportsTheChosenCameraAndResumes) {
    QTemporaryDir dir;
    OpenEight();
    m_prompts.saveAnswer = dir.filePath("out.avi");
    bool started = false;
    QTimer::singleShot(100, m_dlg.get(), [&] {
        auto* save = m_dlg->findChild<CQMSaveAviDlg*>();
        ASSERT_NE(save, nullptr);
        EXPECT_TRUE(m_dlg->IsExporting());
        EXPECT_EQ(save->size(), QSize(400, 200)); // an archive: no time pickers
        EXPECT_FALSE(save->StartPicker()->isVisibleTo(save));
        EXPECT_EQ(save->ChannelList()->count(), 9); // and "All cameras"
        save->ChannelList()->setCurrentIndex(2);
        save->AudioOff()->setChecked(true);
        started = true;
        save->OnStart();
    });
    m_dlg->OnSaveAvi();
    EXPECT_TRUE(started);
    EXPECT_EQ(m_prompts.notices, QStringList({"Save as AVI success."}));
    EXPECT_EQ(m_prompts.proposedNames, QStringList({"CH03.avi"}));
    EXPECT_EQ(m_prompts.saveFilters.value(0),
              "Avi Files (*.avi)|*.avi|MP4 Files (*.mp4)|*.mp4|Matroska Files (*.mkv)|*.mkv|All "
              "Files (*.*)|*.*||");
    EXPECT_GT(QFileInfo(m_prompts.saveAnswer).size(), 4096);
    EXPECT_TRUE(QFileInfo::exists(m_prompts.saveAnswer + ".manifest.json"));
    EXPECT_FALSE(m_dlg->IsExporting());
    EXPECT_FALSE(m_dlg->IsBusy());
    EXPECT_EQ(m_dlg->StatusText(), "Play"); // playing again after the dialog
}

// "All cameras" writes one MP4 per camera into a chosen folder with one
// manifest for them all; files of an earlier export there stay unless the
// user agrees to replace them.
TEST_F(MainWindow, SaveAsAviWritesEveryCameraIntoAFolderWithAManifest) {
    QTemporaryDir dir;
    OpenEight();
    const QString folder = dir.filePath("case");
    ASSERT_TRUE(QDir().mkpath(folder));
    QFile earlier(folder + "/CH02.mp4");
    ASSERT_TRUE(earlier.open(QIODevice::WriteOnly));
    earlier.write("earlier");
    earlier.close();
    m_prompts.folderAnswer = folder;
    m_prompts.chooseAnswer = 1; // MP4
    auto saveAll = [&] {
        QTimer::singleShot(100, m_dlg.get(), [&] {
            auto* save = m_dlg->findChild<CQMSaveAviDlg*>();
            ASSERT_NE(save, nullptr);
            ASSERT_EQ(save->ChannelList()->count(), 9);
            EXPECT_EQ(save->ChannelList()->itemText(8), "All cameras");
            save->ChannelList()->setCurrentIndex(8);
            save->OnStart();
            if (!m_prompts.confirmAnswer) save->reject(); // the refusal leaves it open
        });
        m_dlg->OnSaveAvi();
    };

    saveAll();
    ASSERT_EQ(m_prompts.questions.size(), 1);
    EXPECT_EQ(m_prompts.questions[0],
              folder + " already holds CH02.mp4.\nDo you want to replace them?");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList({"CH02.mp4"}));
    EXPECT_TRUE(m_prompts.notices.isEmpty());

    m_prompts.confirmAnswer = true;
    saveAll();
    EXPECT_EQ(m_prompts.notices, QStringList({"Save as AVI success."}));
    ASSERT_EQ(m_prompts.choices.size(), 2);
    EXPECT_EQ(m_prompts.choices[0].size(), 3);
    QStringList expected;
    for (int c = 1; c <= 8; ++c)
        expected << QString::asprintf("CH%02d.mp4", c);
    expected << "manifest.json";
    EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name), expected);

    QFile manifestFile(folder + "/manifest.json");
    ASSERT_TRUE(manifestFile.open(QIODevice::ReadOnly));
    const auto manifest = nlohmann::json::parse(manifestFile.readAll().toStdString());
    EXPECT_EQ(manifest["tool"], "qmplayer");
    EXPECT_EQ(manifest["source"]["path"], TestRecordings().eightCameras);
    ASSERT_EQ(manifest["outputs"].size(), 8u);
    int camera = 0;
    for (const auto& output : manifest["outputs"]) {
        EXPECT_EQ(output["camera"], ++camera); // listed by camera, whichever finished first
        const QFileInfo file(folder + "/" + QString::fromStdString(output["path"]));
        EXPECT_EQ(output["format"], "mp4");
        EXPECT_EQ(output["size"], uint64_t(file.size())) << file.fileName().toStdString();
        EXPECT_GT(output["frames"], 0u);
    }
    const auto line = manifest["command_line"].get<std::vector<std::string>>();
    EXPECT_EQ(std::vector<std::string>(line.begin(), line.begin() + 4),
              std::vector<std::string>({"qmtool", "export", "--channel", "all"}));
}

TEST_F(MainWindow, SaveAsAviFromADiskImageOffersItsRange) {
    QTemporaryDir dir;
    m_prompts.openAnswer = QString::fromStdString(TestRecordings().diskImage);
    m_dlg->OnCommand(cmd::kOpenDiskImage);
    ASSERT_TRUE(m_dlg->IsHddOpen());
    m_prompts.saveAnswer = dir.filePath("disk.avi");
    QTimer::singleShot(100, m_dlg.get(), [&] {
        auto* save = m_dlg->findChild<CQMSaveAviDlg*>();
        ASSERT_NE(save, nullptr);
        EXPECT_TRUE(save->StartPicker()->isVisibleTo(save));
        EXPECT_EQ(save->StartPicker()->dateTime().toSecsSinceEpoch(), m_dlg->StartTime());
        EXPECT_EQ(save->EndPicker()->dateTime().toSecsSinceEpoch(), m_dlg->EndTime());
        EXPECT_EQ(save->ChannelList()->count(), 5);
        save->OnStart();
    });
    m_dlg->OnSaveAvi();
    EXPECT_EQ(m_prompts.notices, QStringList({"Save as AVI success."}));
    EXPECT_GT(QFileInfo(m_prompts.saveAnswer).size(), 4096);
}

TEST_F(MainWindow, DiskExportKeepsTheWholeEndSecondPicked) {
    m_prompts.openAnswer = QString::fromStdString(TestRecordings().diskImage);
    m_dlg->OnCommand(cmd::kOpenDiskImage);
    ASSERT_TRUE(m_dlg->IsHddOpen());
    const int64_t end = m_dlg->EndTime();
    QTemporaryDir dir;
    // Frames of the end second in an export of the whole disk and in one of
    // the range the pickers would show as [end - 1, end].
    auto framesInEndSecond = [&](std::optional<ExportRangeMs> range, const char* name) {
        SaveAviRequest request;
        request.sourceKind = kExportSourceDisk;
        request.sourcePath = TestRecordings().diskImage;
        request.withAudio = false;
        request.outputPath = QFile::encodeName(dir.filePath(name)).toStdString();
        if (range) {
            request.first = range->first;
            request.last = range->last;
        }
        int n = 0;
        request.frameWritten = [&](const ExportFrame& frame) { n += frame.seconds == end; };
        TSaveAviJob job(std::move(request));
        EXPECT_TRUE(job.Run()) << name;
        return n;
    };
    const int whole = framesInEndSecond(std::nullopt, "whole.avi");
    EXPECT_GT(whole, 0);
    EXPECT_EQ(framesInEndSecond(PickedExportRange(end - 1, end), "picked.avi"), whole);
}

TEST(SaveAviDialog, DiskRangeIsValidatedInOrder) {
    QStringList notices;
    CQMSaveAviDlg dlg([&](QWidget*, const QString& text) { notices << text; });
    QSignalSpy requested(&dlg, &CQMSaveAviDlg::saveAviRequested);
    dlg.channelMask = 5;
    dlg.wholeRecording = 0;
    dlg.rangeFirst = 1700000000;
    dlg.rangeLast = 1700000000 + 7200;
    dlg.OnInitDialog();
    ASSERT_EQ(dlg.ChannelList()->count(), 3);
    EXPECT_EQ(dlg.ChannelList()->itemText(0), "1");
    EXPECT_EQ(dlg.ChannelList()->itemText(1), "3");
    EXPECT_EQ(dlg.ChannelList()->itemText(2), "All cameras");
    EXPECT_TRUE(dlg.StartPicker()->isVisibleTo(&dlg));
    EXPECT_EQ(dlg.StartPicker()->displayFormat(), "yyyy/MM/dd HH:mm:ss");
    EXPECT_TRUE(dlg.AudioOn()->isChecked());

    auto pick = [&](int64_t start, int64_t end) {
        dlg.StartPicker()->setDateTime(QDateTime::fromSecsSinceEpoch(start));
        dlg.EndPicker()->setDateTime(QDateTime::fromSecsSinceEpoch(end));
        dlg.OnStart();
    };
    const int64_t first = dlg.rangeFirst;
    pick(first - 1, first - 5); // both wrong: the start is named first
    pick(first, dlg.rangeLast + 1);
    pick(first + 10, first + 10);
    pick(first, first + 3601);
    EXPECT_EQ(notices, QStringList({"Invalid start time", "Invalid end time",
                                    "Start time must bigger then end time.",
                                    "Maximum duration is 60 minutes."}));
    EXPECT_EQ(requested.count(), 0);

    dlg.ChannelList()->setCurrentIndex(1);
    pick(first, first + 3600); // exactly an hour is accepted
    ASSERT_EQ(requested.count(), 1);
    EXPECT_EQ(requested[0][0].toInt(), 2);
    EXPECT_EQ(dlg.exportChannel, 2);
    EXPECT_EQ(dlg.chosenEnd - dlg.chosenStart, 3600);
    EXPECT_EQ(dlg.withAudio, 1);
    EXPECT_EQ(notices.size(), 4);
}

TEST(RecordingTexts, BrokenDownInLocalTime) {
    const char* saved = std::getenv("TZ");
    const std::string old = saved ? saved : "";
    setenv("TZ", "UTC", 1);
    tzset();
    EXPECT_EQ(FormatClockText(1700000000), "\t2023-11-14 22:13:20");
    EXPECT_EQ(FormatInfoText(1700000000, 1700003600),
              "Model: H264\nStart:\n    Date:2023-11-14\n    Time:22:13:20\nCurrent:\n\nEnd:\n"
              "    Date:2023-11-14\n    Time:23:13:20");
    // A time that cannot be broken down: 0 for the date, -1 for the time.
    EXPECT_EQ(FormatClockText(-5), "\t0-00-00 -1:-1:-1");
    EXPECT_EQ(ProposedSnapshotName(1, 0), "CH01.jpg");
    EXPECT_EQ(ProposedSnapshotName(1, 31), "CH32.jpg");
    EXPECT_EQ(ProposedSnapshotName(2, 4), "");
    if (saved)
        setenv("TZ", old.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();
}

} // namespace
} // namespace qm
