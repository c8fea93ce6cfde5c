#pragma once
// Which of the main window's controls can be used at each stage of its life:
// one table, so that opening, closing and failing to open agree.

#include <optional>
#include <span>

namespace qm {

enum class WindowStage {
    kNothingOpened, // since start, and after an open failed
    kOpen,          // an archive or a disk is open
    kClosed,        // a recording was open and has been closed
};

// Whether control `id` (a command id) is enabled at `stage`; nullopt for the
// controls the stages leave alone.
std::optional<bool> ControlEnabledAt(int id, WindowStage stage);

// The ids the table governs.
std::span<const int> GovernedControls();

// The stage after a recording was closed by the user.
constexpr WindowStage StageAfterClose(WindowStage before) {
    return before == WindowStage::kNothingOpened ? before : WindowStage::kClosed;
}

} // namespace qm
