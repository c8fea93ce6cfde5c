#include "app/orbiscope_dlg.h"

#include "app/app_title.h"
#include "app/bit_slider.h"
#include "app/camera_coverage.h"
#include "app/coverage_lanes.h"
#include "app/recording_texts.h"
#include "app/skin.h"
#include "app/timeline_controller.h"
#include "app/timeline_text.h"
#include "app/volume_control.h"
#include "app/volume_controller.h"
#include "platform/diagnostics.h"
#include "player/player_ex.h"
#include "storage/formats.h"
#include "storage/source_kind.h"

#include <QApplication>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QTimer>
#include <algorithm>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <vector>

namespace qm {

COrbiscopeDlg::BusyScope::BusyScope(COrbiscopeDlg& dlg, Cursor cursor)
    : m_dlg(dlg), m_bCursor(cursor == Cursor::kWait) {
    m_dlg.m_bBusy = true;
    if (m_bCursor) QApplication::setOverrideCursor(Qt::WaitCursor);
}

void COrbiscopeDlg::BusyScope::Release() {
    if (m_bReleased) return;
    m_bReleased = true;
    if (m_bCursor) QApplication::restoreOverrideCursor();
    m_dlg.m_bBusy = false;
}

COrbiscopeDlg::COrbiscopeDlg(IUserPrompts* prompts, QWidget* parent,
                             std::unique_ptr<IVolumeControl> mixer)
    : QDialog(parent, Qt::Window | Qt::FramelessWindowHint), m_pPrompts(prompts),
      m_pMixer(std::move(mixer)) {
    if (!m_pPrompts) {
        m_pOwnPrompts = std::make_unique<CMessageBoxPrompts>();
        m_pPrompts = m_pOwnPrompts.get();
    }
    setWindowTitle(QString::fromLatin1(kAppTitle));
    setWindowIcon(AppIcon());
    // Drawn for 1030 x 710, the least it may be; larger, the video area and
    // the timeline take the room.
    setMinimumSize(kWidth, kHeight);
    resize(kWidth, kHeight);
    setMouseTracking(true);
    setAcceptDrops(true);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, skin::kPanel);
    palette.setColor(QPalette::WindowText, Qt::white);
    setPalette(palette);

    // The player is a hidden child until a recording is open.
    m_pPlayer = new CQMPlayerEx(this);
    m_pPlayer->setObjectName(QStringLiteral("player"));
    m_pPlayer->setGeometry(QRect(QPoint(7, 6), QPoint(819, 545)));
    m_pPlayer->hide();
    connect(m_pPlayer, &CQMPlayerEx::channelDoubleClicked, this,
            [this](int channel) { ToggleSingleView(channel); });
    connect(m_pPlayer, &CQMPlayerEx::stateChanged, this,
            [this](const PlaybackState& state) { OnPlayerState(state); });

    CreateControls();
    RecordLayout();
    CreateShortcuts();
    ConnectTimelineAndVolume();
    connect(this, &QDialog::finished, this, [this] { OnDestroy(); });
}

COrbiscopeDlg::~COrbiscopeDlg() {
    OnDestroy();
}

void COrbiscopeDlg::OnDestroy() {
    if (m_bDestroyed) return;
    m_bDestroyed = true;
    qmLog("COrbiscopeDlg::OnDestroy Start\n");
    for (auto& [id, timer] : m_timers)
        timer->stop();
    if (m_pPlayer) {
        m_pPlayer->Shutdown();
        delete m_pPlayer;
        m_pPlayer = nullptr;
    }
    qmLog("COrbiscopeDlg::OnDestroy End\n");
}

// --- controls ---

CSkinButton* COrbiscopeDlg::MakeButton(int id, const QString& caption, const QString& tooltip,
                                       const QRect& geometry) {
    auto* button = new CSkinButton(caption, this);
    button->setObjectName(QStringLiteral("ctl%1").arg(id));
    button->setToolTip(tooltip);
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, [this, id] { OnCommand(id); });
    m_controls[id] = button;
    return button;
}

QLabel* COrbiscopeDlg::MakeLabel(int id, const QString& caption, const QRect& geometry) {
    auto* label = new QLabel(caption, this);
    label->setObjectName(QStringLiteral("ctl%1").arg(id));
    label->setGeometry(geometry);
    m_controls[id] = label;
    return label;
}

void COrbiscopeDlg::CreateControls() {
    using namespace cmd;
    const QString infoStyle = QStringLiteral("color: rgb(58,181,240); background: transparent;");

    // Window buttons and the file commands, top right.
    MakeButton(kMinimise, QStringLiteral("Min"), QStringLiteral("Minimize QMPlayer HD"),
               {958, 8, 28, 22})
        ->SetFace(ButtonFace::Minimise);
    MakeButton(kClose, QStringLiteral("Close"), QStringLiteral("Close QMPlayer HD"),
               {992, 8, 28, 22})
        ->SetFace(ButtonFace::Close);
    MakeButton(kMaximise, QStringLiteral("Max"), QStringLiteral("Maximize QMPlayer HD"),
               {924, 8, 28, 22})
        ->SetFace(ButtonFace::Maximise);
    MakeButton(kLoad, QStringLiteral("Load"), QStringLiteral("Load"), {832, 40, 90, 28});
    MakeButton(kTimeSearch, QStringLiteral("Time Search"), QStringLiteral("Time Search"),
               {928, 40, 92, 28});

    // Camera buttons: two pages of 16 in a 4 x 4 grid.
    for (int camera = 1; camera <= 32; ++camera) {
        const int slot = (camera - 1) % 16;
        CSkinButton* button = MakeButton(kFirstCamera + camera - 1, QString::number(camera),
                                         QStringLiteral("Turn ON/OFF this camera"),
                                         {832 + (slot % 4) * 47, 80 + (slot / 4) * 34, 43, 30});
        button->setCheckable(true);
        button->SetTextColor(skin::kCameraOff);
        button->setVisible(camera <= 16);
        m_cameraButtons[camera - 1] = button;
    }
    CSkinButton* group = MakeButton(kCameraGroup, QStringLiteral("Camera group"),
                                    QStringLiteral("NEXT_CAMERA_GROUP"), {832, 218, 186, 24});
    group->SetFace(ButtonFace::NextGroup);

    MakeButton(kDisplayModeMenu, QStringLiteral("Split"), QStringLiteral("Display single camera"),
               {832, 250, 58, 28})
        ->setCheckable(true);
    MakeButton(kQuadSplit, QStringLiteral("2x2"), QStringLiteral("Display 2x2 cameras"),
               {896, 250, 58, 28});
    CSkinButton* fit = MakeButton(kFitScreen, QStringLiteral("Fit"), QStringLiteral("FitScreen"),
                                  {960, 250, 58, 28});
    fit->setCheckable(true);
    fit->setChecked(true);

    m_pInfo = MakeLabel(kInfoText, QString(), {836, 290, 182, 196});
    m_pInfo->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    m_pInfo->setStyleSheet(infoStyle);
    m_pClock = MakeLabel(kClockText, QStringLiteral("Static"), {832, 492, 188, 22});
    m_pClock->setStyleSheet(infoStyle);

    // Hidden controls kept for their ids: the GPS texts, the channel combo
    // box and the message button.
    const std::pair<int, const char*> gps[] = {{1071, "Lat:"},   {1072, "Lon:"},   {1073, "Speed:"},
                                               {1074, "Accel:"}, {1075, "X:"},     {1076, "Y:"},
                                               {1077, "Z:"},     {1078, "Bus ID:"}};
    for (const auto& [id, caption] : gps)
        MakeLabel(id, QString::fromLatin1(caption), {836, 520, 80, 16})->hide();
    m_pChannelCombo = new QComboBox(this);
    m_pChannelCombo->setObjectName(QStringLiteral("ctl%1").arg(kChannelCombo));
    m_pChannelCombo->addItems({QStringLiteral("Disable"), QStringLiteral("Camera1"),
                               QStringLiteral("Camera2"), QStringLiteral("Camera3"),
                               QStringLiteral("Camera4")});
    m_pChannelCombo->setCurrentIndex(0);
    m_pChannelCombo->hide();
    m_controls[kChannelCombo] = m_pChannelCombo;
    MakeButton(kMsgButton, QStringLiteral("MSG Button"), QString(), {0, 0, 1, 1})->hide();

    // The timeline and its ends.
    m_pTimeline = new CBitSlider(this);
    m_pTimeline->setObjectName(QStringLiteral("ctl%1").arg(kTimeline));
    m_pTimeline->setGeometry(7, 554, 813, 26);
    m_pTimeline->SetRange(0, 1000);
    m_pTimeline->SetPos(0);
    m_pTimeline->SetTooltipMode(CBitSlider::TooltipMode::Time);
    m_controls[kTimeline] = m_pTimeline;
    m_pLanes = new CCoverageLanes(m_pTimeline, this);
    m_pLanes->setObjectName(QStringLiteral("coverageLanes"));
    m_pLanes->hide();
    const QString endStyle = QStringLiteral("color: black; background: rgb(188,213,213);");
    MakeLabel(kStartTimeText, QStringLiteral("Start Time"), {7, 584, 170, 18})
        ->setStyleSheet(endStyle);
    QLabel* end = MakeLabel(kEndTimeText, QStringLiteral("End Time"), {650, 584, 170, 18});
    end->setStyleSheet(endStyle);
    end->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    MakeButton(kScaleIn, QStringLiteral("+"), QStringLiteral("SCALE IN"), {340, 583, 60, 20});
    MakeButton(kScaleOut, QStringLiteral("-"), QStringLiteral("SCALE OUT"), {420, 583, 60, 20});

    // Transport.
    MakeButton(kFastReverse, QStringLiteral("FR"), QStringLiteral("Fast Reverse"),
               {12, 620, 56, 40});
    MakeButton(kReverse, QStringLiteral("Reverse"), QStringLiteral("Reverse"), {74, 620, 56, 40});
    MakeButton(kPlay, QStringLiteral("Play"), QStringLiteral("Play"), {136, 620, 56, 40});
    MakeButton(kFastForward, QStringLiteral("FF"), QStringLiteral("Fast Forward"),
               {198, 620, 56, 40});
    MakeButton(kStepReverse, QStringLiteral("SR"), QStringLiteral("Step Reverse"), {0, 0, 1, 1})
        ->hide();
    MakeButton(kStepForward, QStringLiteral("SF"), QStringLiteral("Step Forward"), {0, 0, 1, 1})
        ->hide();
    MakeButton(kStop, QStringLiteral("Stop"), QStringLiteral("Stop"), {0, 0, 1, 1})->hide();
    for (int id : {kFastReverse, kFastForward, kReverse})
        Button(id)->SetTextColor(skin::kFastText);
    Button(kPlay)->SetFace(ButtonFace::Play);
    Button(kReverse)->SetFace(ButtonFace::Reverse);
    Button(kFastForward)->SetFace(ButtonFace::FastForward);
    Button(kFastReverse)->SetFace(ButtonFace::FastReverse);

    // Tall enough for a sentence of three lines (a time search's notice).
    m_pStatus = MakeLabel(kStatusText, QStringLiteral("Stop"), {268, 612, 210, 56});
    m_pStatus->setWordWrap(true);
    m_pStatus->setStyleSheet(QStringLiteral("color: white; background: transparent;"));

    MakeButton(kSaveAvi, QStringLiteral("Save as AVI"), QStringLiteral("Save as AVI"),
               {484, 620, 104, 40});
    MakeButton(kSaveJpg, QStringLiteral("JPG"), QStringLiteral("Save as JPG"), {596, 620, 80, 40});
    MakeButton(kSavePicture, QStringLiteral("Picture"), QStringLiteral("Save picture"),
               {684, 620, 88, 40});

    // Volume.
    MakeButton(kVolumeButton, QStringLiteral("Vol"), QStringLiteral("Mute"), {832, 620, 40, 40})
        ->SetFace(ButtonFace::Speaker);
    m_pVolume = new CBitSlider(this);
    m_pVolume->setObjectName(QStringLiteral("ctl%1").arg(kVolumeSlider));
    m_pVolume->setGeometry(878, 628, 140, 24);
    m_pVolume->SetTooltipMode(CBitSlider::TooltipMode::Percent);
    m_controls[kVolumeSlider] = m_pVolume;

    EnterStage(WindowStage::kNothingOpened);
}

QWidget* COrbiscopeDlg::Control(int id) const {
    auto it = m_controls.find(id);
    return it == m_controls.end() ? nullptr : it->second;
}

CSkinButton* COrbiscopeDlg::Button(int id) const {
    return qobject_cast<CSkinButton*>(Control(id));
}

void COrbiscopeDlg::EnableControl(int id, bool enable) {
    if (QWidget* w = Control(id)) w->setEnabled(enable);
}

void COrbiscopeDlg::EnterStage(WindowStage stage) {
    m_stage = stage;
    for (int id : GovernedControls())
        if (const auto enabled = ControlEnabledAt(id, stage)) EnableControl(id, *enabled);
}

QString COrbiscopeDlg::StatusText() const {
    return m_pStatus->text();
}

QString COrbiscopeDlg::InfoText() const {
    return m_pInfo->text();
}

QString COrbiscopeDlg::ClockText() const {
    return m_pClock->text();
}

void COrbiscopeDlg::SetStatus(const QString& text) {
    m_pStatus->setText(text);
    m_pStatus->repaint();
}

// --- life ---

void COrbiscopeDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
}

void COrbiscopeDlg::OnInitDialog() {
    UpdateWindowRegion();
    if (!m_strFilePath.isEmpty())
        SetTimer(kTimerOpenFromCommandLine, kOpenFromCommandLineDelayMs, true);
    m_bBusy = false;
}

void COrbiscopeDlg::SetTimer(int id, int intervalMs, bool singleShot) {
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
    timer->setSingleShot(singleShot);
    timer->start(intervalMs);
}

void COrbiscopeDlg::KillTimer(int id) {
    if (auto it = m_timers.find(id); it != m_timers.end()) it->second->stop();
}

bool COrbiscopeDlg::IsTimerActive(int id) const {
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

void COrbiscopeDlg::OnTimer(int id) {
    switch (id) {
    case kTimerOpenFromCommandLine:
        KillTimer(id);
        OpenFromCommandLine();
        break;
    case kTimerClock:
        UpdateClock();
        break;
    case kTimerTimeline:
        m_pTimelineCtl->OnTimelineTick();
        if (m_pLanes->isVisible()) m_pLanes->update();
        break;
    default:
        break;
    }
}

void COrbiscopeDlg::OpenFromCommandLine() {
    if (m_strFilePath.isEmpty()) return;
    qmLog("COrbiscopeDlg::OpenFromCommandLine %s mode %d\n", qPrintable(m_strFilePath), m_nMode);
    emit openFromCommandLineRequested(m_strFilePath);
    // A disk image or a DVR disk's device opens as a disk.
    const SourceKind kind = ClassifySource(QFile::encodeName(m_strFilePath).toStdString());
    if (kind == SourceKind::kDiskImage || kind == SourceKind::kBlockDevice) {
        if (!OpenDiskSource(m_strFilePath)) return;
    } else if (!OpenAvrFile()) {
        return;
    }
    if (m_nMode == 0) return;
    auto applySplit = [this] {
        if (m_nMode >= 1 && m_nMode <= 4) SetDisplayMode(m_nMode);
        if (m_nCamMap[0] != 0) ApplyCamMap(m_nMode);
    };
    // The open has started playing in 2 x 2; cameras the asked split adds
    // would stay black until their next key frame, seconds away on many
    // recorders. Play has barely begun, so it starts again from the first
    // frames, where every camera has its key frame, with the split changed
    // while play is held there.
    const PlaybackState& state = m_pPlayer->State();
    if (state.activity == Activity::kPlaying && state.speed == 1 && !state.reverse)
        m_pPlayer->SeekTo(m_tStart, applySplit);
    else
        applySplit();
}

void COrbiscopeDlg::OnCommand(int id) {
    using namespace cmd;
    if (id >= kFirstCamera && id <= kLastCamera) {
        ToggleCamera(id - kFirstCamera);
        return;
    }
    switch (id) {
    case kLoad:
        LoadMenu()->popup(QCursor::pos());
        break;
    case kOpenFile:
        OnOpenFile();
        break;
    case kOpenDiskImage:
        OnOpenDiskImage();
        break;
    case kClose:
        SaveGeometry();
        reject();
        break;
    case kMaximise:
        ToggleMaximised();
        break;
    case kMinimise:
        showMinimized();
        break;
    case kStop:
        Stop();
        break;
    case kPlay:
        OnPlay();
        break;
    case kReverse:
        OnReverse();
        break;
    case kFastForward:
        OnFastForward();
        break;
    case kFastReverse:
        OnFastReverse();
        break;
    case kStepForward:
        OnStepForward();
        break;
    case kStepReverse:
        OnStepReverse();
        break;
    case kSaveJpg:
        OnSaveJpg();
        break;
    case kSavePicture:
        OnSavePicture();
        break;
    case kSaveAvi:
        OnSaveAvi();
        break;
    case kCamera17:
        ToggleCamera(16);
        break;
    case kCamera18:
        ToggleCamera(17);
        break;
    case kDisplay1:
    case kDisplay4:
    case kDisplay9:
    case kDisplay16:
        SetDisplayMode(id - kDisplay1 + 1);
        break;
    case kDisplay32:
        SetDisplayMode(5);
        break;
    case kDisplayModeMenu: {
        QMenu* menu = DisplayModeMenu();
        menu->popup(QCursor::pos());
        break;
    }
    case kQuadSplit:
        OnQuadSplit();
        break;
    case kCameraGroup:
        ToggleCameraGroup();
        break;
    case kScaleIn:
        m_pTimelineCtl->OnScaleIn();
        break;
    case kScaleOut:
        m_pTimelineCtl->OnScaleOut();
        break;
    case kTimeSearch:
        m_pTimelineCtl->OnTimeSearch(this, *m_pPrompts);
        break;
    case kAbout:
        OnAbout();
        break;
    case kVolumeButton:
        m_pVolumeCtl->OnMute();
        break;
    case kFitScreen:
        m_pPlayer->SetFitScreen(Button(kFitScreen)->isChecked());
        break;
    default:
        break;
    }
}

QMenu* COrbiscopeDlg::LoadMenu() {
    if (!m_pLoadMenu) {
        m_pLoadMenu = new QMenu(this);
        m_pLoadMenu->setObjectName(QStringLiteral("loadMenu"));
    }
    m_pLoadMenu->clear();
    QAction* open = m_pLoadMenu->addAction(QStringLiteral("&OpenFile"));
    open->setData(cmd::kOpenFile);
    connect(open, &QAction::triggered, this, [this] { OnCommand(cmd::kOpenFile); });
    QAction* image = m_pLoadMenu->addAction(QStringLiteral("Open disk &image..."));
    image->setData(cmd::kOpenDiskImage);
    connect(image, &QAction::triggered, this, [this] { OnCommand(cmd::kOpenDiskImage); });
    AddRecentToMenu(*m_pLoadMenu);

    // The DVR drives attached now, numbered as cards and disks apart.
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_nLastDiskCmd = 0;
    std::vector<DiskEntry> found = m_driveFinder ? m_driveFinder() : FindDvrDrives();
    QApplication::restoreOverrideCursor();
    if (found.size() > cmd::kLastDisk - cmd::kDiskBase)
        found.resize(cmd::kLastDisk - cmd::kDiskBase);
    // Rebuilt every time: a drive taken away must leave the menu.
    m_Disks = std::move(found);
    const std::vector<std::string> labels = DriveMenuLabels(m_Disks);
    for (size_t i = 0; i < labels.size(); ++i) {
        const uint32_t command = cmd::kDiskBase + uint32_t(i + 1);
        QAction* disk = m_pLoadMenu->addAction(QString::fromStdString(labels[i]));
        disk->setData(command);
        connect(disk, &QAction::triggered, this, [this, command] { OnDiskCommand(command); });
    }
    return m_pLoadMenu;
}

QMenu* COrbiscopeDlg::DisplayModeMenu() {
    if (!m_pDisplayMenu) {
        m_pDisplayMenu = new QMenu(QStringLiteral("Displaymode"), this);
        m_pDisplayMenu->setObjectName(QStringLiteral("displayModeMenu"));
        const std::pair<int, const char*> items[] = {{cmd::kDisplay1, "Display   1 Channel"},
                                                     {cmd::kDisplay4, "Display   4 Channel"},
                                                     {cmd::kDisplay9, "Display   9 Channel"},
                                                     {cmd::kDisplay16, "Display 16 Channel"}};
        for (const auto& [id, text] : items) {
            QAction* action = m_pDisplayMenu->addAction(QString::fromLatin1(text));
            action->setData(id);
            connect(action, &QAction::triggered, this, [this, id = id] { OnCommand(id); });
        }
        // The split button stays pressed while its menu is up.
        connect(m_pDisplayMenu, &QMenu::aboutToHide, this,
                [this] { Button(cmd::kDisplayModeMenu)->setChecked(false); });
    }
    return m_pDisplayMenu;
}

// --- opening ---

void COrbiscopeDlg::NoteRecoveredIndex(uint32_t blocks, const QString& message) {
    // Said before anything plays: what is shown comes from a scan.
    m_strInfoNote =
        QString::asprintf("\nIndex damaged:\n    %u blocks found\n    by scanning", blocks);
    // The reader starts playing as it opens; held while the message is up,
    // nothing runs past unseen behind it.
    m_pPlayer->Pause();
    m_bPlayAfterNotice = true;
    m_pPrompts->Notice(this, message.arg(blocks));
}

ArchiveOpen COrbiscopeDlg::OpenArchive() {
    bool waiting = false;
    uint32_t recoveredBlocks = 0; // the index was damaged: blocks found by a scan
    const ArchiveOpen result =
        OpenArchiveInPlayer(*m_pPlayer, m_strFilePath, [&](const ArchiveHeader& header) {
            QApplication::setOverrideCursor(Qt::WaitCursor);
            waiting = true;
            if (header.recovered) recoveredBlocks = std::max<uint32_t>(header.recoveredBlocks, 1);
            // The buttons and the timeline show the header's cameras and range
            // while the reader loads the index.
            PresetCameraButtons();
            m_tStart = header.startTime;
            m_tEnd = header.endTime;
            SetTimelineRange(m_tStart, m_tEnd);
            for (int c = 0; c < 32; ++c)
                m_cameraButtons[c]->setEnabled((header.channelMask >> c) & 1u);
            m_pPlayer->SetChannelMask(header.channelMask);
            m_pPlayer->UpdateLayout();
            m_pPlayer->ClearVideo();
        });
    if (result != ArchiveOpen::kUnreadable) {
        const std::pair<int, const char*> gps[] = {
            {1078, "Bus ID:"}, {1071, "Lat:"}, {1072, "Lon:"}, {1073, "Speed:"},
            {1075, "X:"},      {1076, "Y:"},   {1077, "Z:"}};
        for (const auto& [id, caption] : gps)
            static_cast<QLabel*>(Control(id))->setText(QString::fromLatin1(caption));
    }
    if (!waiting) {
        ForgetRecording();
        m_pPrompts->Notice(this, ArchiveOpenMessage(result));
        return result;
    }
    m_strInfoNote.clear();
    if (result == ArchiveOpen::kOpened && recoveredBlocks) {
        QApplication::restoreOverrideCursor();
        NoteRecoveredIndex(recoveredBlocks,
                           QStringLiteral("The archive's index is damaged (cut off or "
                                          "overwritten).\n%1 blocks were found by scanning the "
                                          "file; they are played as found."));
        QApplication::setOverrideCursor(Qt::WaitCursor);
    }
    if (result == ArchiveOpen::kOpened) {
        AfterOpened(false);
        setWindowTitle(QString::fromLatin1(kAppTitle) + QStringLiteral(" - [ ") + m_strFilePath +
                       QStringLiteral(" ]"));
    } else {
        // Stopped even when the open runs inside another command: the
        // command's busy flag must not leave a refused recording half open.
        ForgetRecording();
        QApplication::restoreOverrideCursor();
        m_pPrompts->Notice(this, ArchiveOpenMessage(result));
        QApplication::setOverrideCursor(Qt::WaitCursor);
        qmLog("Unknow file format Err 1");
    }
    // Every archive starts in the 2 x 2 split.
    m_pPlayer->QuadSplit();
    QApplication::restoreOverrideCursor();
    return result;
}

void COrbiscopeDlg::AfterOpened(bool disk) {
    m_strCurrentFacts.clear();
    // A DVR drive opened from the menu is found there again, not by its path.
    if (!disk || !m_strDiskPath.startsWith(QStringLiteral("/dev/")))
        NoteRecent(disk ? m_strDiskPath : m_strFilePath);
    const RecordingFacts facts = m_pPlayer->Recording();
    m_tStart = facts.rangeStart;
    m_tEnd = facts.rangeEnd;
    // The information text and the time search show the reader's range on
    // the player's clock; the timeline plays the narrowed range.
    m_tLocalStart = int64_t(facts.start) + facts.timeOffset;
    m_tLocalEnd = int64_t(facts.end) + facts.timeOffset;
    SetInfoText(m_tLocalStart, m_tLocalEnd);
    SetTimelineRange(m_tStart, m_tEnd);
    m_pPlayer->SetChannelMask(facts.channelMask);
    for (int c = 0; c < 32; ++c)
        m_cameraButtons[c]->setEnabled((facts.channelMask >> c) & 1u);
    m_pTimeline->update();
    m_pTimelineCtl->OnRecordingOpened(m_tStart, m_tEnd, m_tLocalStart, m_tLocalEnd);
    m_pLanes->SetCoverage(CoverageOfBlocks(BlockKeysOf(m_pPlayer->Reader())));
    m_pLanes->SetCameras(m_pPlayer->State().shownMask);
    LayoutControls();

    m_pPlayer->UpdateLayout();
    m_pPlayer->show();
    SetTimer(kTimerTimeline, kTimelinePeriodMs);
    SetTimer(kTimerClock, kClockPeriodMs);
    m_bHddOpen = disk;
    m_bFileOpen = !disk;
    EnterStage(WindowStage::kOpen);
    SyncCameraButtons();
    m_pPlayer->RepaintChannel(-1);
    if (m_bPlayAfterNotice) {
        m_bPlayAfterNotice = false;
        m_pPlayer->PlayOrPause();
    }
    qmLog(" _timezone=%ld \n", long(timezone));
}

void COrbiscopeDlg::OnOpenFile() {
    if (!CanCommand()) return;
    BusyScope busy(*this, BusyScope::Cursor::kNone);
    const QString path = m_pPrompts->OpenFileName(
        this, QStringLiteral("Archived Quillmere DVR Files (*.avr)|*.avr|All Files (*.*)|*.*|"));
    busy.Release();
    OpenPath(path);
}

void COrbiscopeDlg::ConnectTimelineAndVolume() {
    m_pTimelineCtl = new CTimelineController(*this, this);
    m_pTimelineCtl->AttachSlider(m_pTimeline);
    connect(m_pTimelineCtl, &CTimelineController::endTextsChanged, this,
            [this](const QString& startText, const QString& endText) {
                static_cast<QLabel*>(Control(cmd::kStartTimeText))->setText(startText);
                static_cast<QLabel*>(Control(cmd::kEndTimeText))->setText(endText);
            });
    // The lanes follow the timeline's window as it zooms or moves on.
    connect(m_pTimelineCtl, &CTimelineController::windowChanged, m_pLanes,
            [this](int64_t, int64_t) { m_pLanes->update(); });
    connect(m_pTimelineCtl, &CTimelineController::searchSkippedGap, this,
            [this](int64_t askedLocal, int64_t shownLocal) {
                SetStatus(GapNoticeText(askedLocal, shownLocal));
            });

    if (!m_pMixer) m_pMixer = MakeSystemVolumeControl();
    m_pVolumeCtl = new CVolumeController(
        *m_pMixer, [this] { return m_bBusy; }, this);
    m_pVolumeCtl->Setup(m_pVolume);
    auto showMute = [this](int image) {
        Button(cmd::kVolumeButton)
            ->SetFace(image == CVolumeController::kImageMuted ? ButtonFace::SpeakerMuted
                                                              : ButtonFace::Speaker);
    };
    connect(m_pVolumeCtl, &CVolumeController::muteImageChanged, this, showMute);
    showMute(m_pVolumeCtl->MuteImage());
}

void COrbiscopeDlg::SetTimelineRange(uint32_t start, uint32_t end) {
    const int64_t length = end >= start ? int64_t(end) - start : 0;
    m_pTimeline->SetRange(0, length);
    m_pTimeline->SetPos(0);
    m_pTimeline->SetPageSize(length / 20);
}

void COrbiscopeDlg::PresetCameraButtons() {
    const int mode = m_pPlayer->DisplayMode();
    const int shown = mode == 1 ? 1 : mode == 2 ? 4 : mode == 3 ? 9 : -1;
    if (shown < 0) return;
    for (int c = 0; c < 32; ++c)
        SetCameraLook(c, c < shown);
}

void COrbiscopeDlg::SetInfoText(int64_t localStart, int64_t localEnd) {
    m_pInfo->setText(FormatInfoText(localStart, localEnd, m_strCurrentFacts) + m_strInfoNote);
}

void COrbiscopeDlg::UpdateClock() {
    const int64_t offset = m_pPlayer->Recording().timeOffset;
    m_pClock->setText(FormatClockText(int64_t(m_pPlayer->CurrentTime()) + offset));
    UpdateCurrentFacts();
}

void COrbiscopeDlg::UpdateCurrentFacts() {
    QString current;
    const int selected = m_pPlayer->SelectedChannel();
    if (IsRecordingOpen())
        if (const auto shown = m_pPlayer->ShownFrame(selected)) {
            // The record is packed: its fields are copied one by one.
            CurrentFrameFacts facts;
            facts.camera = selected + 1;
            facts.localTime = int64_t(uint32_t(shown->time)) + m_pPlayer->Recording().timeOffset;
            facts.milliseconds = uint32_t(shown->microseconds) / 1000;
            facts.key = uint16_t(shown->type) == kFrameTypeKey;
            facts.width = uint16_t(shown->width);
            facts.height = uint16_t(shown->height);
            facts.codec = uint32_t(shown->codec);
            current = FormatCurrentFacts(facts);
        }
    if (current == m_strCurrentFacts) return;
    m_strCurrentFacts = current;
    if (IsRecordingOpen()) SetInfoText(m_tLocalStart, m_tLocalEnd);
}

void COrbiscopeDlg::Stop() {
    if (!CanCommand()) return;
    BusyScope busy(*this);
    CloseRecording();
}

void COrbiscopeDlg::CloseRecording() {
    KillTimer(kTimerTimeline);
    KillTimer(kTimerClock);
    m_pPlayer->Close();
    m_bFileOpen = false;
    m_bHddOpen = false;
    EnterStage(StageAfterClose(m_stage));
    m_pPlayer->hide();
    m_pLanes->SetCoverage({});
    LayoutControls();
    // The next recording begins in the 2 x 2 split.
    m_pPlayer->QuadSplit();
}

void COrbiscopeDlg::ForgetRecording() {
    CloseRecording();
    // Play would open the refused path again, and Save as AVI would export
    // the old recording under the new one's name.
    m_strFilePath.clear();
    m_strDiskPath.clear();
    EnterStage(WindowStage::kNothingOpened);
    setWindowTitle(QString::fromLatin1(kAppTitle));
    m_tStart = m_tEnd = 0;
    m_tLocalStart = m_tLocalEnd = 0;
    m_pInfo->clear();
    m_pClock->clear();
    SetTimelineRange(0, 0);
    m_pTimelineCtl->Reset();
    static_cast<QLabel*>(Control(cmd::kStartTimeText))->setText(QStringLiteral("Start Time"));
    static_cast<QLabel*>(Control(cmd::kEndTimeText))->setText(QStringLiteral("End Time"));
    m_pTimeline->update();
    for (int c = 0; c < 32; ++c) {
        m_cameraButtons[c]->setEnabled(true);
        SetCameraLook(c, false);
    }
    m_pPlayer->ClearVideo();
}

// --- window ---

void COrbiscopeDlg::UpdateWindowRegion() {
    // Rounded corners only where the window has edges to show.
    if (m_bVideoFullScreen || isMaximized() || m_bManuallyMaximised) {
        clearMask();
        return;
    }
    QPainterPath path;
    path.addRoundedRect(QRectF(3, 3, width() - 3, height() - 3), 8.5, 8.5);
    setMask(QRegion(path.toFillPolygon().toPolygon()));
}

void COrbiscopeDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    LayoutControls();
    UpdateWindowRegion();
}

void COrbiscopeDlg::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.fillRect(rect(), skin::kFrame);
    const QRectF inner = QRectF(rect()).adjusted(4, 4, -2, -2);
    painter.setPen(Qt::NoPen);
    painter.setBrush(skin::kPanel);
    painter.drawRoundedRect(inner, 7, 7);
    // The panels: video, controls on the right, transport below.
    const QSize extra = ExtraSize();
    const qreal dx = extra.width(), dy = extra.height();
    painter.setBrush(QColor(44, 44, 48));
    painter.drawRoundedRect(QRectF(826 + dx, 34, 198, 486 + dy), 6, 6);
    painter.drawRoundedRect(QRectF(7, 610 + dy, 813 + dx, 94), 6, 6);
    painter.drawRoundedRect(QRectF(826 + dx, 610 + dy, 198, 94), 6, 6);
    painter.setPen(QColor(58, 181, 240));
    QFont title = font();
    title.setBold(true);
    painter.setFont(title);
    painter.drawText(QRectF(832 + dx, 8, 90, 22), Qt::AlignVCenter, QString::fromLatin1(kAppTitle));
}

void COrbiscopeDlg::mousePressEvent(QMouseEvent* event) {
    // A press on an edge resizes the window, elsewhere on the background it
    // moves it.
    if (event->button() == Qt::LeftButton && StartEdgeResize(event)) return;
    if (event->button() == Qt::LeftButton && !m_bVideoFullScreen) {
        m_bDragging = true;
        m_dragOffset = event->globalPosition().toPoint() - frameGeometry().topLeft();
    }
    QDialog::mousePressEvent(event);
}

void COrbiscopeDlg::mouseMoveEvent(QMouseEvent* event) {
    if (ContinueEdgeResize(event)) return;
    if (m_bDragging && (event->buttons() & Qt::LeftButton) && !isMaximized() &&
        !m_bManuallyMaximised)
        move(event->globalPosition().toPoint() - m_dragOffset);
    QDialog::mouseMoveEvent(event);
}

void COrbiscopeDlg::mouseReleaseEvent(QMouseEvent* event) {
    m_bDragging = false;
    m_resizeEdges = {};
    QDialog::mouseReleaseEvent(event);
}

void COrbiscopeDlg::mouseDoubleClickEvent(QMouseEvent* event) {
    // As on a title bar: the background maximises the window, and back.
    if (event->button() == Qt::LeftButton) ToggleMaximised();
    QDialog::mouseDoubleClickEvent(event);
}

void COrbiscopeDlg::contextMenuEvent(QContextMenuEvent* event) {
    // The frameless window has no system menu; its background offers the
    // about box instead.
    QMenu menu(this);
    QAction* about = menu.addAction(QStringLiteral("&About QMPlayer HD..."));
    connect(about, &QAction::triggered, this, [this] { OnCommand(cmd::kAbout); });
    menu.exec(event->globalPos());
}

void COrbiscopeDlg::OnAbout() {
    m_pPrompts->Notice(this, QStringLiteral("QMPlayer HD Version ") + m_strVersion);
}

void COrbiscopeDlg::moveEvent(QMoveEvent* event) {
    QDialog::moveEvent(event);
    if (m_pPlayer && m_pPlayer->isVisible()) m_pPlayer->RepaintChannel(-1);
}

void COrbiscopeDlg::closeEvent(QCloseEvent* event) {
    SaveGeometry();
    QDialog::closeEvent(event);
}

} // namespace qm
