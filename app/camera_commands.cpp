// Cameras and splits: the 32 camera buttons, the split menu and buttons, the
// double-click single view and the camera pages. The player keeps the lists
// of the splits; the buttons show them.

#include "app/orbiscope_dlg.h"
#include "app/skin.h"
#include "player/player_ex.h"

namespace qm {

void COrbiscopeDlg::SetCameraLook(int channel, bool checked) {
    CSkinButton* button = m_cameraButtons[channel];
    button->setChecked(checked);
    button->SetTextColor(checked ? skin::kCameraOn : skin::kCameraOff);
}

void COrbiscopeDlg::ToggleCamera(int channel) {
    if (channel < 0 || channel >= 32 || m_bBusy) return;
    CSkinButton* button = m_cameraButtons[channel];
    if (!IsRecordingOpen()) {
        button->setChecked(!button->isChecked());
        return;
    }
    BusyScope busy(*this, BusyScope::Cursor::kNone);
    // The click has already flipped the button: it says what the user wants.
    m_pPlayer->ToggleCamera(channel, button->isChecked());
    SyncCameraButtons();
}

void COrbiscopeDlg::SetDisplayMode(int mode) {
    if (m_bBusy || m_pPlayer->DisplayMode() == mode) return;
    BusyScope busy(*this, BusyScope::Cursor::kNone);
    m_pPlayer->SetSplit(mode);
}

void COrbiscopeDlg::OnQuadSplit() {
    if (m_bBusy) return;
    BusyScope busy(*this, BusyScope::Cursor::kNone);
    m_pPlayer->QuadSplit();
}

void COrbiscopeDlg::ToggleSingleView(int channel) {
    if (m_bBusy || channel < 0 || channel >= 32) return;
    BusyScope busy(*this, BusyScope::Cursor::kNone);
    m_pPlayer->ToggleSingleView(channel);
}

void COrbiscopeDlg::ToggleCameraGroup() {
    const bool toSecond = m_nCamGroup == 0;
    for (int c = 0; c < 32; ++c)
        m_cameraButtons[c]->setVisible(toSecond ? c >= 16 : c < 16);
    CSkinButton* group = Button(cmd::kCameraGroup);
    group->SetFace(toSecond ? ButtonFace::PreviousGroup : ButtonFace::NextGroup);
    group->setToolTip(toSecond ? QStringLiteral("PREV_CAMERA_GROUP")
                               : QStringLiteral("NEXT_CAMERA_GROUP"));
    m_nCamGroup = toSecond ? 1 : 0;
}

void COrbiscopeDlg::SyncCameraButtons() {
    const uint32_t shown = m_pPlayer->Lists().ModeSet(m_pPlayer->DisplayMode());
    for (int c = 0; c < 32; ++c)
        SetCameraLook(c, (shown >> c) & 1u);
}

void COrbiscopeDlg::ApplyCamMap(int mode) {
    if (!m_pPlayer->ApplyCamMap(mode, m_nCamMap)) return;
    if (mode >= 1 && mode <= 4) {
        SyncCameraButtons();
        return;
    }
    // No split was chosen: the map only clears the buttons.
    for (int c = 0; c < 32; ++c)
        SetCameraLook(c, false);
}

} // namespace qm
