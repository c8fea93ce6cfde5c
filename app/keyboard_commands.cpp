// The window's keys (key_map.h): each runs what its button or the timeline
// would, so the keys follow the same rules of playing.

#include "app/key_map.h"
#include "app/orbiscope_dlg.h"
#include "player/player_ex.h"

#include <QHelpEvent>
#include <QShortcut>
#include <QToolTip>

#include <algorithm>

namespace qm {

namespace {

// The camera cell `cell` (0 first) of the split `mode` shows, -1 none.
int ChannelOfCell(const ChannelLists& lists, int mode, int cell) {
    switch (mode) {
    case 1:
        return cell == 0 ? lists.single : -1;
    case 2:
        return cell < 4 ? lists.quad[size_t(cell)] : -1;
    case 3:
        return lists.nine[size_t(cell)];
    case 4:
        return lists.sixteen[size_t(cell)];
    case 5:
        return lists.thirtyTwo[size_t(cell)];
    }
    return -1;
}

} // namespace

void COrbiscopeDlg::CreateShortcuts() {
    // Window shortcuts come before the focused button sees the key, so Space
    // pauses rather than pressing whichever button was clicked last, and Esc
    // no longer closes the player.
    for (const KeyBinding& binding : KeyBindings()) {
        auto* shortcut = new QShortcut(binding.keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        shortcut->setAutoRepeat(binding.action != KeyAction::kFullScreen);
        connect(shortcut, &QShortcut::activated, this,
                [this, action = binding.action] { OnKeyAction(action); });
    }
    // The buttons' tooltips keep their texts; shown, they name their keys.
    for (const auto& [id, control] : m_controls)
        control->installEventFilter(this);
}

bool COrbiscopeDlg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ToolTip) {
        auto* widget = qobject_cast<QWidget*>(watched);
        const QString tip = widget ? widget->toolTip() : QString();
        const QString shown = ToolTipWithKeys(tip);
        if (widget && shown != tip) {
            QToolTip::showText(static_cast<QHelpEvent*>(event)->globalPos(), shown, widget);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void COrbiscopeDlg::SeekByKey(int64_t seconds) {
    if (!IsRecordingOpen() || !CanCommand() || m_tEnd < m_tStart) return;
    const int64_t to =
        std::clamp<int64_t>(int64_t(CurrentTime()) + seconds, m_tStart, int64_t(m_tEnd));
    HoldForSeek();
    SeekAndPlay(uint32_t(to));
}

void COrbiscopeDlg::OnKeyAction(KeyAction action) {
    const int cell = int(action) - int(KeyAction::kSelectCell1);
    if (cell >= 0 && cell < 9) {
        const int channel = ChannelOfCell(m_pPlayer->Lists(), m_pPlayer->DisplayMode(), cell);
        if (IsRecordingOpen() && channel >= 0 && m_pPlayer->IsDisplayed(channel))
            m_pPlayer->SelectChannel(channel);
        return;
    }
    const Activity activity = m_pPlayer->State().activity;
    const bool moving = activity == Activity::kPlaying || activity == Activity::kReversing ||
                        activity == Activity::kFastForward || activity == Activity::kFastReverse;
    switch (action) {
    case KeyAction::kPlayPause:
        // Reverse play pauses as its own button would; everything else as Play.
        if (activity == Activity::kReversing || activity == Activity::kFastReverse)
            OnReverse();
        else
            OnPlay();
        return;
    case KeyAction::kStepForward:
    case KeyAction::kStepBack:
        if (!IsRecordingOpen() || !CanCommand()) return;
        if (moving) m_pPlayer->Pause();
        action == KeyAction::kStepForward ? OnStepForward() : OnStepReverse();
        return;
    case KeyAction::kSeekForward5:
        return SeekByKey(5);
    case KeyAction::kSeekBack5:
        return SeekByKey(-5);
    case KeyAction::kSeekForward60:
        return SeekByKey(60);
    case KeyAction::kSeekBack60:
        return SeekByKey(-60);
    case KeyAction::kFaster:
        if (IsRecordingOpen()) OnFastForward();
        return;
    case KeyAction::kSlower:
        if (IsRecordingOpen()) OnFastReverse();
        return;
    case KeyAction::kToStart:
        return SeekByKey(int64_t(m_tStart) - int64_t(CurrentTime()));
    case KeyAction::kToEnd:
        return SeekByKey(int64_t(m_tEnd) - int64_t(CurrentTime()));
    case KeyAction::kSnapshot:
        OnSaveJpg();
        return;
    case KeyAction::kSavePicture:
        OnSavePicture();
        return;
    case KeyAction::kOpen:
        OnOpenFile();
        return;
    case KeyAction::kKeyList:
        m_pPrompts->Notice(this, KeyListText());
        return;
    case KeyAction::kFullScreen:
        SetVideoFullScreen(!m_bVideoFullScreen);
        return;
    case KeyAction::kLeaveFullScreen:
        SetVideoFullScreen(false);
        return;
    case KeyAction::kZoomReset:
        m_pPlayer->ResetZoom();
        return;
    case KeyAction::kCoverageLanes:
        ShowCoverageLanes(!CoverageLanesShown());
        return;
    default:
        return;
    }
}

} // namespace qm
