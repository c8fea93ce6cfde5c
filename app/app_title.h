#pragma once

namespace qm {

// The application's title: the main window's caption while no recording is
// open, and the root of the single-instance channel's name.
inline constexpr char kAppTitle[] = "QMPlayer HD";

} // namespace qm
