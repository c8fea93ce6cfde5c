#include "app/control_states.h"

#include "app/orbiscope_dlg.h"

namespace qm {

namespace {

// Usable once something was opened, and still after it was closed: Play
// then opens the recording again, the splits and the timeline keep working.
// (Save as AVI and JPG stay enabled throughout: with nothing open they say so.)
constexpr int kOnceOpened[] = {cmd::kPlay,     cmd::kReverse,         cmd::kTimeSearch,
                               cmd::kTimeline, cmd::kDisplayModeMenu, cmd::kQuadSplit,
                               cmd::kScaleIn,  cmd::kScaleOut};
// Usable only while a recording is open.
constexpr int kWhileOpen[] = {cmd::kStop, cmd::kFastForward, cmd::kFastReverse, cmd::kStepForward,
                              cmd::kStepReverse};
constexpr int kAll[] = {
    cmd::kPlay,        cmd::kReverse,     cmd::kTimeSearch,  cmd::kTimeline, cmd::kDisplayModeMenu,
    cmd::kQuadSplit,   cmd::kScaleIn,     cmd::kScaleOut,    cmd::kStop,     cmd::kFastForward,
    cmd::kFastReverse, cmd::kStepForward, cmd::kStepReverse, cmd::kLoad};

template <size_t N> bool In(const int (&ids)[N], int id) {
    for (int i : ids)
        if (i == id) return true;
    return false;
}

} // namespace

std::optional<bool> ControlEnabledAt(int id, WindowStage stage) {
    if (id == cmd::kLoad) return true;
    if (In(kOnceOpened, id)) return stage != WindowStage::kNothingOpened;
    if (In(kWhileOpen, id)) return stage == WindowStage::kOpen;
    return std::nullopt;
}

std::span<const int> GovernedControls() {
    return kAll;
}

} // namespace qm
