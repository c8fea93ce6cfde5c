#pragma once
// The main window: a frameless, skinned dialog that owns the player as its
// video window, opens recordings, shows what was opened, and routes every
// button, menu command and timer. Controls are found by their command id:
// each widget's objectName is "ctl" followed by the id ("ctl1051" is Play).
//
// Commands that wait for the storage reader keep the window responsive by
// pumping events, so every command checks and sets the busy flag first.

#include "app/command_line_info.h"
#include "app/control_states.h"
#include "app/key_map.h"
#include "app/recording_opening.h"
#include "app/timeline_player.h"
#include "app/user_prompts.h"
#include "app/volume_control.h"
#include "app/window_layout.h"
#include "export/multi_camera_export.h"
#include "storage/disk_probe.h"

#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <tuple>
#include <vector>

class QLabel;
class QSettings;
class QMenu;
class QTimer;
class QComboBox;

namespace qm {

class CQMPlayerEx;
class CSkinButton;
class CBitSlider;
class CCoverageLanes;
class CTimelineController;
class CVolumeController;
class CQMSaveAviDlg;
struct PlaybackState;

// Command ids of the main window's controls and menus.
namespace cmd {
constexpr int kLoad = 1000;
constexpr int kStop = 1001;
constexpr int kDisplayModeMenu = 1003;
constexpr int kQuadSplit = 1004;
constexpr int kScaleIn = 1005;
constexpr int kScaleOut = 1006;
constexpr int kFirstCamera = 1007; // cameras 1 to 32: 1007 to 1038
constexpr int kLastCamera = 1038;
constexpr int kTimeline = 1050;
constexpr int kPlay = 1051;
constexpr int kVolumeButton = 1052;
constexpr int kStatusText = 1054;
constexpr int kFastForward = 1055;
constexpr int kFastReverse = 1056;
constexpr int kStepForward = 1057;
constexpr int kStepReverse = 1058;
constexpr int kChannelCombo = 1059;
constexpr int kSaveAvi = 1060;
constexpr int kSaveJpg = 1061;
constexpr int kMsgButton = 1066;
constexpr int kFitScreen = 1068;
constexpr int kCamera17 = 1069;
constexpr int kCamera18 = 1070;
constexpr int kClose = 1080;
constexpr int kMaximise = 1082;
constexpr int kMinimise = 1083;
constexpr int kInfoText = 1084;
constexpr int kClockText = 1086;
constexpr int kTimeSearch = 1088;
constexpr int kVolumeSlider = 1093;
constexpr int kReverse = 1096;
constexpr int kCameraGroup = 1097;
constexpr int kSavePicture = 1110;
constexpr int kStartTimeText = 125;
constexpr int kEndTimeText = 126;
constexpr int kDisplay1 = 32775;
constexpr int kDisplay4 = 32776;
constexpr int kDisplay9 = 32777;
constexpr int kDisplay16 = 32778;
constexpr int kDisplay32 = 32783;
constexpr int kOpenFile = 32784;
constexpr int kOpenDiskImage = 32785;
// The Load menu's disk entries: kFirstDisk + i for the i-th entry (from 1).
constexpr uint32_t kDiskBase = 0x45678912;
constexpr uint32_t kFirstDisk = 0x45678913;
constexpr uint32_t kLastDisk = 0x45678922;
constexpr int kAbout = 16;
} // namespace cmd

class COrbiscopeDlg : public QDialog, private ITimelinePlayer {
    Q_OBJECT
public:
    static constexpr int kTimerTimeline = 4350;
    static constexpr int kTimerOpenFromCommandLine = 4351;
    static constexpr int kTimerClock = 4352;
    static constexpr int kOpenFromCommandLineDelayMs = 100;
    static constexpr int kTimelinePeriodMs = 500;
    static constexpr int kClockPeriodMs = 100;
    static constexpr int kWidth = 1030;
    static constexpr int kHeight = 710;

    // The skin states of the transport buttons.
    enum SkinState { kSkinPlaying = 1, kSkinFast = 2, kSkinPaused = 3, kSkinReversing = 4 };

    // `prompts` answers message boxes and file dialogs; it must outlive the
    // window. Without one, real dialogs are used.
    // `mixer` stands for the speakers' volume and mute; without one the system
    // mixer is used when there is one.
    explicit COrbiscopeDlg(IUserPrompts* prompts = nullptr, QWidget* parent = nullptr,
                           std::unique_ptr<IVolumeControl> mixer = nullptr);
    ~COrbiscopeDlg() override;

    void SetRecordingPath(const QString& path) { m_strFilePath = path; }
    void SetMode(int mode) { m_nMode = mode; }
    void SetCamMap(const CamMap& map) { m_nCamMap = map; }
    // The program's version, shown by the about box.
    void SetVersion(const QString& version) { m_strVersion = version; }
    // The about box (command 16, from the window's context menu).
    void OnAbout();

    // The window's size and place from the last run, and kept for the next
    // (QSettings); the program asks for it, tests do not.
    void RememberGeometry(bool remember);
    // The same, kept in `settingsFile` (an INI file) instead of the user's settings.
    void RememberIn(const QString& settingsFile);
    // The recordings opened last, the newest first (at most five); empty
    // when nothing is remembered.
    QStringList RecentRecordings() const;
    // Opens an archive, or a disk image, as the file dialog's choice would.
    void OpenPath(const QString& path);
    // The video area alone on the whole screen (F11), and back.
    void SetVideoFullScreen(bool on);
    bool IsVideoFullScreen() const { return m_bVideoFullScreen; }
    void ToggleMaximised();
    // The coverage lanes under the timeline: shown by themselves when the
    // window has room for them below its 710 pixels, or as the user chose.
    void ShowCoverageLanes(bool show);
    bool CoverageLanesShown() const;
    CCoverageLanes& CoverageLanes() { return *m_pLanes; }
    // What a key of the key map does.
    void OnKeyAction(KeyAction action);

    const QString& RecordingPath() const { return m_strFilePath; }
    int Mode() const { return m_nMode; }
    const CamMap& CamMapEntries() const { return m_nCamMap; }

    // Window timers by number; starting a running timer restarts it.
    void SetTimer(int id, int intervalMs, bool singleShot = false);
    void KillTimer(int id);
    bool IsTimerActive(int id) const;

    // Runs a command as its button or menu item would.
    void OnCommand(int id);

    // Opens the archive at RecordingPath(); false, after saying why, when it
    // did not open.
    bool OpenAvrFile() { return OpenArchive() == ArchiveOpen::kOpened; }
    void OnOpenFile();
    // The Load menu's disk entries and its disk image item.
    void OnDiskCommand(uint32_t command);
    void OpenHdd(int entry);
    void OnOpenDiskImage();
    // Opens a disk image or a DVR disk's device by path; true when it opened.
    bool OpenDiskSource(const QString& path);
    // After a disk opened: the note and notice when its table was rebuilt.
    void NoteDiskIndex();
    // How the Load menu finds DVR drives (tests inject their own).
    void SetDriveFinder(std::function<std::vector<DiskEntry>()> finder) {
        m_driveFinder = std::move(finder);
    }
    const std::vector<DiskEntry>& Disks() const { return m_Disks; }
    void Stop();

    // Transport.
    void OnPlay();
    void OnReverse();
    void OnFastForward();
    void OnFastReverse();
    void OnStepForward();
    void OnStepReverse();
    void OnSaveJpg();
    // The selected camera's picture at its recorded size, with its camera,
    // recorded time and source in the file's text (PNG by default).
    void OnSavePicture();
    // Save as AVI: the button, and the export run the dialog asks for.
    void OnSaveAvi();
    void OnSaveAviRun(int channel);
    CQMSaveAviDlg& SaveAviDialog();
    bool IsExporting() const { return m_bExporting; }

    // Cameras and splits.
    void ToggleCamera(int channel);
    void SetDisplayMode(int mode);
    void OnQuadSplit();
    void ToggleSingleView(int channel);
    void ToggleCameraGroup();
    void SyncCameraButtons();
    void ApplyCamMap(int mode);

    // The Load button's menu and the split menu, built for the next popup.
    QMenu* LoadMenu();
    QMenu* DisplayModeMenu();

    // Read-outs for tests and the other parts of the window.
    CQMPlayerEx& Player() { return *m_pPlayer; }
    CTimelineController& Timeline() { return *m_pTimelineCtl; }
    CVolumeController& Volume() { return *m_pVolumeCtl; }
    QWidget* Control(int id) const;
    CSkinButton* Button(int id) const;
    CSkinButton* CameraButton(int camera) const { return m_cameraButtons[camera - 1]; }
    QString StatusText() const;
    QString InfoText() const;
    QString ClockText() const;
    int SkinStateShown() const { return m_nSkinState; }
    bool IsBusy() const override { return m_bBusy; }
    bool IsFileOpen() const { return m_bFileOpen; }
    bool IsHddOpen() const { return m_bHddOpen; }
    bool IsRecordingOpen() const { return m_bFileOpen || m_bHddOpen; }
    // The archive, disk image or device being played; nothing is written onto it.
    const QString& OpenSourcePath() const { return m_bHddOpen ? m_strDiskPath : m_strFilePath; }
    int CameraGroup() const { return m_nCamGroup; }
    uint32_t StartTime() const { return m_tStart; }
    uint32_t EndTime() const { return m_tEnd; }
    void SetSettleLimitMs(int ms);

signals:
    // The command line named a recording and the window is about to open it.
    void openFromCommandLineRequested(const QString& path);

protected:
    // Runs once, when the window is first shown.
    virtual void OnInitDialog();
    virtual void OnTimer(int id);
    // Timer 4351: opens m_strFilePath and applies the mode and camera map.
    virtual void OpenFromCommandLine();

    void showEvent(QShowEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    // Save as AVI's runs: the request from the dialog, every camera into a
    // folder, and the run itself with its manifest.
    SaveAviRequest SaveAviBaseRequest(const CQMSaveAviDlg& dlg) const;
    void SaveAllCameras();
    void RunSaveAvi(SaveAviRequest request, std::vector<TMultiCameraExport::Camera> cameras,
                    const std::string& manifestPath, std::vector<std::string> commandLine,
                    OutputFiles& outputs);

    // ITimelinePlayer: the timeline drives the player through the window.
    bool IsOpen() const override { return IsRecordingOpen(); }
    void SetBusy(bool busy) override { m_bBusy = busy; }
    uint32_t CurrentTime() const override;
    bool IsReverse() const override;
    uint32_t RecordingStart() const override { return m_tStart; }
    uint32_t RecordingEnd() const override { return m_tEnd; }
    int64_t TimeOffset() const override;
    void HoldForSeek() override;
    void SeekAndPlay(uint32_t time) override;
    std::vector<RecordedSpan> RecordedSpans() const override;

    void CreateControls();
    void CreateShortcuts();
    // Keeps every control's place in the 1030 x 710 window and how it follows
    // a larger one; LayoutControls places them for the window's size.
    void RecordLayout();
    void LayoutControls();
    QSize ExtraSize() const;
    bool StartEdgeResize(QMouseEvent* event);
    bool ContinueEdgeResize(QMouseEvent* event);
    void SaveGeometry();
    std::unique_ptr<QSettings> Settings() const;
    void NoteRecent(const QString& path);
    void AddRecentToMenu(QMenu& menu);
    void SeekByKey(int64_t seconds);
    void ConnectTimelineAndVolume();
    CSkinButton* MakeButton(int id, const QString& caption, const QString& tooltip,
                            const QRect& geometry);
    QLabel* MakeLabel(int id, const QString& caption, const QRect& geometry);
    void EnableControl(int id, bool enable);
    // Enables the controls as the table says for the stage, and keeps it.
    void EnterStage(WindowStage stage);
    void SetStatus(const QString& text);
    void SetSkinState(int state);
    // Renders the player's state: the status text, the transport faces, the
    // camera buttons.
    void OnPlayerState(const PlaybackState& state);
    void UpdateWindowRegion();
    void OnDestroy();

    // No command runs while another waits or an export runs.
    bool CanCommand() const { return !m_bBusy && !m_bExporting; }
    // The command's busy state (and wait cursor), restored on every path.
    class BusyScope;

    // Cameras.
    void SetCameraLook(int channel, bool checked);

    // Opening.
    ArchiveOpen OpenArchive();
    void PresetCameraButtons();
    void SetInfoText(int64_t localStart, int64_t localEnd);
    void UpdateClock();
    // The "Current:" lines: the selected camera's picture now.
    void UpdateCurrentFacts();
    void SetTimelineRange(uint32_t start, uint32_t end);
    // Stop's work without its guard.
    void CloseRecording();
    // After a failed open: the player let go of the old recording before it
    // tried the new one, so nothing of the old one may stay on screen either.
    void ForgetRecording();
    // After an archive or a disk opened: ranges, texts, timeline, timers, controls.
    void AfterOpened(bool disk);

    IUserPrompts* m_pPrompts;
    std::unique_ptr<IUserPrompts> m_pOwnPrompts;

    QString m_strFilePath;
    QString m_strInfoNote;     // appended to the information text (a recovered index)
    QString m_strCurrentFacts; // under "Current:" in the information text
    // Sets the information panel's note on a recovered index and tells the
    // user, `message` taking the block count for its %1.
    void NoteRecoveredIndex(uint32_t blocks, const QString& message);
    bool m_bPlayAfterNotice = false; // play was held for that message
    QString m_strVersion;
    int m_nMode = 0;
    CamMap m_nCamMap{};

    std::vector<DiskEntry> m_Disks;
    uint32_t m_nLastDiskCmd = 0;
    std::function<std::vector<DiskEntry>()> m_driveFinder;
    QString m_strDiskPath; // the open disk's device or image, for the export

    bool m_bFileOpen = false;
    bool m_bHddOpen = false;
    bool m_bBusy = false;
    bool m_bExporting = false;
    uint32_t m_tStart = 0;
    uint32_t m_tEnd = 0;
    int64_t m_tLocalStart = 0;
    int64_t m_tLocalEnd = 0;
    int m_nCamGroup = 0;
    int m_nSkinState = 0;
    WindowStage m_stage = WindowStage::kNothingOpened;

    CQMPlayerEx* m_pPlayer = nullptr; // child widget, deleted in OnDestroy
    std::array<CSkinButton*, 32> m_cameraButtons{};
    CBitSlider* m_pTimeline = nullptr;
    CCoverageLanes* m_pLanes = nullptr;
    int m_nLanesChoice = -1; // -1: when there is room, 0: never, 1: always
    int LanesHeight() const;
    CBitSlider* m_pVolume = nullptr;
    QLabel* m_pStatus = nullptr;
    QLabel* m_pInfo = nullptr;
    QLabel* m_pClock = nullptr;
    QComboBox* m_pChannelCombo = nullptr;
    QMenu* m_pLoadMenu = nullptr;
    QMenu* m_pDisplayMenu = nullptr;
    std::map<int, QWidget*> m_controls;

    CTimelineController* m_pTimelineCtl = nullptr; // child QObject
    std::unique_ptr<IVolumeControl> m_pMixer;
    CVolumeController* m_pVolumeCtl = nullptr; // child QObject
    CQMSaveAviDlg* m_pSaveAviDlg = nullptr;    // child, made on first use

    std::map<int, QTimer*> m_timers;
    bool m_bInitialised = false;
    bool m_bDestroyed = false;
    bool m_bDragging = false;
    QPoint m_dragOffset;
    std::vector<std::tuple<QWidget*, QRect, Anchor>> m_layout;
    bool m_bVideoFullScreen = false;
    bool m_bWasMaximised = false;
    bool m_bManuallyMaximised = false; // no window manager did it
    QRect m_normalGeometry;
    Qt::Edges m_resizeEdges; // a resize by hand from these edges is under way
    QRect m_resizeFrom;
    QPoint m_resizePress;
    bool m_bRememberGeometry = false;
    QString m_strSettingsFile; // empty: the user's own settings
};

// Sets the busy flag (and the wait cursor) for a command and clears both on
// every way out; Release() clears them early (before a message box).
class COrbiscopeDlg::BusyScope {
public:
    enum class Cursor { kWait, kNone };
    explicit BusyScope(COrbiscopeDlg& dlg, Cursor cursor = Cursor::kWait);
    ~BusyScope() { Release(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
    void Release();

private:
    COrbiscopeDlg& m_dlg;
    bool m_bCursor;
    bool m_bReleased = false;
};

} // namespace qm
