// The splits and the cameras in them: which split shows, which camera each
// cell holds, the single view and back, the selection. The main window's
// camera buttons show what these leave in the lists.

#include "player/player_ex.h"
#include "player/sample_frame.h"

#include <algorithm>
#include <span>

namespace qm {

namespace {

constexpr uint32_t Bit(int channel) {
    return 1u << channel;
}

// Ascending, the free (-1) entries last.
void SortEntries(std::span<int> list) {
    std::sort(list.begin(), list.end(), [](int a, int b) {
        if (a < 0) return false;
        if (b < 0) return true;
        return a < b;
    });
}

} // namespace

void CQMPlayerEx::SetChannelMask(uint32_t mask) {
    m_lists.SetFromMask(mask);
}

void CQMPlayerEx::ResetChannelsForMode(int newMode) {
    const uint32_t current = m_lists.ModeSet(m_nDisplayMode);
    const uint32_t next = m_lists.ModeSet(newMode);
    for (int c = 0; c < kMaxChannels; ++c)
        if ((next & ~current) & Bit(c)) m_bStarted[c] = false;
}

void CQMPlayerEx::SelectChannel(int channel) {
    const int old = m_nSelCh.exchange(channel);
    if (old >= 0) RepaintChannel(old);
    if (channel >= 0 && channel != old) RepaintChannel(channel);
    m_state.selected = channel;
}

void CQMPlayerEx::EnsureSelection() {
    if (m_nSelCh == -1) m_nSelCh = 0;
    const int sel = m_nSelCh;
    if (sel >= 0 && sel < kMaxChannels && m_bDisplayed[sel]) return;
    for (int c = 0; c < kMaxChannels; ++c) {
        if (m_bDisplayed[c]) {
            m_nSelCh = c;
            return;
        }
    }
    m_nSelCh = -1;
}

void CQMPlayerEx::SetSplit(int mode) {
    const int old = m_nDisplayMode;
    if (mode == old || mode < 1 || mode > 5) return;
    ResetChannelsForMode(mode);
    m_nDisplayMode = mode;
    if (mode == 1) {
        // The selected camera goes on alone when the split showed it.
        const int sel = m_nSelCh;
        if (sel != -1 && sel != m_lists.single && IsDisplayed(sel))
            m_lists.single = (m_lists.ModeSet(old) & Bit(sel)) ? sel : -1;
    }
    if (mode < old) ResetClock();
    Relayout();
}

void CQMPlayerEx::QuadSplit() {
    const int old = m_nDisplayMode;
    ResetChannelsForMode(2);
    m_nDisplayMode = 2;
    if (2 < old) ResetClock();
    Relayout();
}

void CQMPlayerEx::ToggleCamera(int channel, bool on) {
    if (channel < 0 || channel >= kMaxChannels) return;
    // Puts the channel into a list or takes it out; a full list gives up its
    // first entry.
    auto toggleIn = [&](std::span<int> list, bool sort) {
        if (on) {
            if (std::find(list.begin(), list.end(), channel) == list.end()) {
                auto freeEntry = std::find(list.begin(), list.end(), -1);
                if (freeEntry != list.end())
                    *freeEntry = channel;
                else
                    list[0] = channel;
            }
        } else {
            auto entry = std::find(list.begin(), list.end(), channel);
            if (entry != list.end()) *entry = -1;
        }
        if (sort) SortEntries(list);
    };
    switch (m_nDisplayMode.load()) {
    case 1:
        // The shown camera stays; another one replaces it.
        if (channel != m_lists.single) {
            m_lists.single = on ? channel : -1;
            ClearStarted(channel);
        }
        break;
    case 2:
        toggleIn(m_lists.quad, true);
        break;
    case 3:
        toggleIn(m_lists.nine, true);
        break;
    case 4:
        toggleIn(m_lists.sixteen, true);
        break;
    case 5:
        toggleIn(m_lists.thirtyTwo, false);
        break;
    default:
        break;
    }
    Relayout();
}

void CQMPlayerEx::ToggleSingleView(int channel) {
    if (channel < 0 || channel >= kMaxChannels) return;
    const int before = m_nDisplayMode;
    if (before == 1) {
        const int back = m_nPrevMode >= 2 && m_nPrevMode <= 5 ? m_nPrevMode : 2;
        ResetChannelsForMode(back);
        m_nDisplayMode = back;
    } else {
        m_nPrevMode = before;
        m_lists.single = channel;
        ResetChannelsForMode(1);
        m_nDisplayMode = 1;
    }
    if (before > 1) ResetClock();
    Relayout();
}

bool CQMPlayerEx::ApplyCamMap(int mode, const std::array<int, kMaxChannels>& cameras) {
    const uint32_t recorded = m_reader.m_nChannelMask;
    auto isRecorded = [&](int camera) {
        return camera >= 1 && camera <= kMaxChannels && (recorded & Bit(camera - 1));
    };
    if (std::none_of(cameras.begin(), cameras.end(), isRecorded)) return false;
    auto fill = [&](std::span<int> list) {
        for (size_t j = 0; j < list.size(); ++j)
            list[j] = isRecorded(cameras[j]) ? cameras[j] - 1 : -1;
    };
    switch (mode) {
    case 1:
        if (isRecorded(cameras[0])) m_lists.single = cameras[0] - 1;
        break;
    case 2:
        fill(m_lists.quad);
        break;
    case 3:
        fill(m_lists.nine);
        break;
    case 4:
        fill(m_lists.sixteen);
        break;
    default:
        return true; // no split was chosen: nothing to fill
    }
    Relayout();
    return true;
}

void CQMPlayerEx::Relayout() {
    const uint32_t before = m_nDisplayedMask;
    UpdateLayout();
    EnsureSelection();
    // A camera that comes into view has nothing of the current moment yet:
    // its old picture (from whenever it was last shown) must not pass for
    // one. It waits for its next key frame, or is drawn at the moment below.
    const uint32_t added = m_nDisplayedMask & ~before;
    for (int c = 0; c < kMaxChannels; ++c) {
        if (!(added & Bit(c))) continue;
        m_bStarted[c] = false;
        std::lock_guard picture(m_csPicture[c]);
        m_shown[c] = SampleFrameRecord();
        if (m_picture[c].IsAllocated()) m_picture[c].Clear();
        m_nPictureHalvings[size_t(c)] = 0;
    }
    ClearVideo();
    RepaintChannel(-1);
    // Held playback shows the new cells at the moment the others show.
    if (added && m_nPlayState == kPlayStatePaused && m_llShownMs) StepExact(0);
    PublishLayout();
}

} // namespace qm
