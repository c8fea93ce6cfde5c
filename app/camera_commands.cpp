// Cameras and splits: the 32 camera buttons, the split menu and buttons, the
// double-click single view and the camera pages, kept in agreement with the
// player's channel lists.

#include "app/orbiscope_dlg.h"
#include "app/skin.h"
#include "player/player_ex.h"

#include <algorithm>
#include <span>

namespace qm {

namespace {

// Ascending, the free (-1) entries last.
void SortEntries(std::span<int> list) {
    std::sort(list.begin(), list.end(), [](int a, int b) {
        if (a < 0) return false;
        if (b < 0) return true;
        return a < b;
    });
}

} // namespace

void COrbiscopeDlg::SetCameraLook(int channel, bool checked) {
    CSkinButton* button = m_cameraButtons[channel];
    button->setChecked(checked);
    button->SetTextColor(checked ? skin::kCameraOn : skin::kCameraOff);
}

void COrbiscopeDlg::ClearVideo() {
    m_pPlayer->ClearVideo();
}

void COrbiscopeDlg::ToggleCamera(int i) {
    if (i < 0 || i >= 32 || m_bBusy) return;
    CSkinButton* button = m_cameraButtons[i];
    if (!m_bFileOpen && !m_bHddOpen) {
        button->setChecked(!button->isChecked());
        return;
    }
    m_bBusy = true;
    const bool checked = button->isChecked();
    ChannelLists& lists = m_pPlayer->MutableLists();

    // Puts channel i into a list (checked) or takes it out; a full list gives
    // up its first entry.
    auto toggleIn = [&](std::span<int> list, bool sort) {
        if (checked) {
            if (std::find(list.begin(), list.end(), i) == list.end()) {
                auto freeEntry = std::find(list.begin(), list.end(), -1);
                if (freeEntry != list.end()) {
                    *freeEntry = i;
                } else {
                    if (list[0] >= 0) SetCameraLook(list[0], false);
                    list[0] = i;
                }
            }
        } else {
            auto entry = std::find(list.begin(), list.end(), i);
            if (entry != list.end()) *entry = -1;
        }
        if (sort) SortEntries(list);
    };

    switch (m_pPlayer->m_nDisplayMode.load()) {
    case 1:
        if (i == lists.single) {
            button->setChecked(!checked); // the shown camera stays
        } else {
            if (lists.single >= 0) SetCameraLook(lists.single, false);
            lists.single = checked ? i : -1;
            m_pPlayer->ClearStarted(i);
        }
        break;
    case 2:
        toggleIn(lists.quad, true);
        break;
    case 3:
        toggleIn(lists.nine, true);
        break;
    case 4:
        toggleIn(lists.sixteen, true);
        break;
    case 5:
        toggleIn(lists.thirtyTwo, false);
        break;
    default:
        break;
    }
    SetCameraLook(i, button->isChecked());

    m_pPlayer->UpdateLayout();
    ClearVideo();
    m_pPlayer->RepaintChannel(-1);
    m_pPlayer->EnsureSelection();
    m_bBusy = false;
}

void COrbiscopeDlg::SetDisplayMode(int mode) {
    if (m_bBusy || m_pPlayer->m_nDisplayMode == mode) return;
    m_bBusy = true;
    const int old = m_pPlayer->m_nDisplayMode;
    m_pPlayer->ResetChannelsForMode(mode);
    m_pPlayer->m_nDisplayMode = mode;
    if (mode == 1) {
        ChannelLists& lists = m_pPlayer->MutableLists();
        const int sel = m_pPlayer->m_nSelCh;
        if (sel != -1 && sel != lists.single && m_pPlayer->IsDisplayed(sel)) {
            if (lists.single >= 0) SetCameraLook(lists.single, false);
            lists.single = m_cameraButtons[sel]->isChecked() ? sel : -1;
        }
    }
    m_pPlayer->UpdateLayout();
    SyncCameraButtons();
    if (mode < old) m_pPlayer->ResetClock();
    m_pPlayer->RepaintChannel(-1);
    m_bBusy = false;
    if (mode >= 2) {
        ClearVideo();
        m_pPlayer->RepaintChannel(-1);
    }
}

void COrbiscopeDlg::OnQuadSplit() {
    if (m_bBusy) return;
    m_bBusy = true;
    const int old = m_pPlayer->m_nDisplayMode;
    m_pPlayer->ResetChannelsForMode(2);
    m_pPlayer->m_nDisplayMode = 2;
    m_pPlayer->UpdateLayout();
    SyncCameraButtons();
    if (2 < old) m_pPlayer->ResetClock();
    m_pPlayer->RepaintChannel(-1);
    m_bBusy = false;
}

void COrbiscopeDlg::ToggleSingleView(int channel) {
    if (m_bBusy || channel < 0 || channel >= 32) return;
    m_bBusy = true;
    const int before = m_pPlayer->m_nDisplayMode;
    if (before == 1) {
        const int back = m_nPrevMode >= 2 && m_nPrevMode <= 5 ? m_nPrevMode : 2;
        m_pPlayer->ResetChannelsForMode(back);
        m_pPlayer->m_nDisplayMode = back;
    } else {
        m_nPrevMode = before;
        m_pPlayer->MutableLists().single = channel;
        m_pPlayer->ResetChannelsForMode(1);
        m_pPlayer->m_nDisplayMode = 1;
    }
    m_pPlayer->UpdateLayout();
    SyncCameraButtons();
    if (before > 1) m_pPlayer->ResetClock();
    m_pPlayer->RepaintChannel(-1);
    ClearVideo();
    m_bBusy = false;
    m_pPlayer->RepaintChannel(-1);
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
    for (int c = 0; c < 32; ++c)
        SetCameraLook(c, false);
    const ChannelLists& lists = m_pPlayer->Lists();
    auto check = [&](std::span<const int> list) {
        for (int ch : list)
            if (ch >= 0 && ch < 32) SetCameraLook(ch, true);
    };
    switch (m_pPlayer->m_nDisplayMode.load()) {
    case 1:
        if (lists.single >= 0 && lists.single < 32) SetCameraLook(lists.single, true);
        break;
    case 2:
        check(lists.quad);
        break;
    case 3:
        check(lists.nine);
        break;
    case 4:
        check(lists.sixteen);
        break;
    case 5:
        check(lists.thirtyTwo);
        break;
    default:
        break;
    }
    m_pPlayer->EnsureSelection();
}

void COrbiscopeDlg::ApplyCamMap(int mode) {
    const uint32_t recorded = m_pPlayer->Reader().m_nChannelMask;
    auto isRecorded = [&](int camera) {
        return camera >= 1 && camera <= 32 && ((recorded >> (camera - 1)) & 1u);
    };
    if (std::none_of(m_nCamMap.begin(), m_nCamMap.end(), isRecorded)) return;
    for (int c = 0; c < 32; ++c)
        SetCameraLook(c, false);

    ChannelLists& lists = m_pPlayer->MutableLists();
    auto fill = [&](std::span<int> list) {
        for (size_t j = 0; j < list.size(); ++j) {
            list[j] = -1;
            if (isRecorded(m_nCamMap[j])) {
                list[j] = m_nCamMap[j] - 1;
                SetCameraLook(list[j], true);
            }
        }
    };
    switch (mode) {
    case 1:
        if (isRecorded(m_nCamMap[0])) {
            lists.single = m_nCamMap[0] - 1;
            SetCameraLook(lists.single, true);
        }
        break;
    case 2:
        fill(lists.quad);
        break;
    case 3:
        fill(lists.nine);
        break;
    case 4:
        fill(lists.sixteen);
        break;
    default:
        return; // no split was chosen: only the buttons were cleared
    }
    m_pPlayer->UpdateLayout();
    m_pPlayer->RepaintChannel(-1);
    m_pPlayer->EnsureSelection();
}

} // namespace qm
