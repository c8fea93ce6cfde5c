#pragma once
// The timeline's view of the main window and its player: the steps of a jump
// in time run on the window's player, under the window's busy flag.

#include "app/timeline_player.h"

namespace qm {

class COrbiscopeDlg;

class CMainWindowTimeline : public ITimelinePlayer {
public:
    explicit CMainWindowTimeline(COrbiscopeDlg& dlg) : m_dlg(dlg) {}

    bool IsOpen() const override;
    bool IsBusy() const override;
    void SetBusy(bool busy) override;
    uint32_t CurrentTime() const override;
    bool IsReverse() const override;
    uint32_t RecordingStart() const override;
    uint32_t RecordingEnd() const override;
    int64_t TimeOffset() const override;
    void Pause() override;
    void SeekTo(uint32_t time) override;
    void Play() override;
    void SettleAfterSeek() override;

private:
    COrbiscopeDlg& m_dlg;
};

} // namespace qm
