#pragma once
// The window's keys, in the habits of mpv and VLC users. One table serves the
// shortcuts, the key list (F1) and the buttons' tooltips, so they cannot
// disagree.

#include <QKeySequence>
#include <QString>

#include <optional>
#include <vector>

namespace qm {

enum class KeyAction {
    kPlayPause,
    kStepForward,
    kStepBack,
    kSeekForward5,
    kSeekBack5,
    kSeekForward60,
    kSeekBack60,
    kFaster,
    kSlower,
    kToStart,
    kToEnd,
    kSelectCell1, // kSelectCell1 + n - 1 for cell n, 1 to 9
    kSelectCell9 = kSelectCell1 + 8,
    kSnapshot,
    kSavePicture,
    kOpen,
    kKeyList,
    kFullScreen,
    kLeaveFullScreen,
    kCoverageLanes,
    kZoomReset,
};

struct KeyBinding {
    QKeySequence keys;
    KeyAction action;
    const char* what; // for the key list
};

// Every binding, in the order the key list shows them.
const std::vector<KeyBinding>& KeyBindings();

// The action of a key press, when it has one.
std::optional<KeyAction> ActionOfKey(const QKeySequence& pressed);

// "Space", "]" ...: the keys of `action` as a tooltip names them; empty when
// it has none.
QString KeysOf(KeyAction action);

// A button's tooltip as it is shown: its own text, and the key that does the
// same, "Step Forward (.)". Texts of no keyed command come back as they are.
QString ToolTipWithKeys(const QString& tip);

// The key list shown by F1 or '?'.
QString KeyListText();

} // namespace qm
