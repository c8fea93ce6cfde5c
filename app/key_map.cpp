#include "app/key_map.h"

#include <QStringList>

namespace qm {

namespace {

std::vector<KeyBinding> MakeBindings() {
    std::vector<KeyBinding> b = {
        {QKeySequence(Qt::Key_Space), KeyAction::kPlayPause, "play / pause"},
        {QKeySequence(Qt::Key_Period), KeyAction::kStepForward, "one frame forward (pauses)"},
        {QKeySequence(Qt::Key_Comma), KeyAction::kStepBack, "one frame back (pauses)"},
        {QKeySequence(Qt::Key_Right), KeyAction::kSeekForward5, "5 seconds forward"},
        {QKeySequence(Qt::Key_Left), KeyAction::kSeekBack5, "5 seconds back"},
        {QKeySequence(Qt::SHIFT | Qt::Key_Right), KeyAction::kSeekForward60, "60 seconds forward"},
        {QKeySequence(Qt::SHIFT | Qt::Key_Left), KeyAction::kSeekBack60, "60 seconds back"},
        {QKeySequence(Qt::Key_BracketRight), KeyAction::kFaster, "faster (as Fast Forward)"},
        {QKeySequence(Qt::Key_BracketLeft), KeyAction::kSlower, "slower (as Fast Reverse)"},
        {QKeySequence(Qt::Key_Home), KeyAction::kToStart, "start of the recording"},
        {QKeySequence(Qt::Key_End), KeyAction::kToEnd, "end of the recording"},
    };
    for (int n = 1; n <= 9; ++n)
        b.push_back({QKeySequence(Qt::Key(Qt::Key_0 + n)),
                     KeyAction(int(KeyAction::kSelectCell1) + n - 1), nullptr});
    b.push_back({QKeySequence(Qt::Key_S), KeyAction::kSnapshot, "save a snapshot (as JPG)"});
    b.push_back({QKeySequence(Qt::Key_P), KeyAction::kSavePicture,
                 "save the selected camera's picture at its recorded size"});
    b.push_back({QKeySequence(Qt::CTRL | Qt::Key_O), KeyAction::kOpen, "open a recording"});
    b.push_back({QKeySequence(Qt::Key_F1), KeyAction::kKeyList, "this list of keys"});
    b.push_back({QKeySequence(Qt::Key_Question), KeyAction::kKeyList, nullptr});
    b.push_back({QKeySequence(Qt::Key_F11), KeyAction::kFullScreen,
                 "the video alone on the whole screen, and back"});
    b.push_back({QKeySequence(Qt::Key_F), KeyAction::kFullScreen, nullptr});
    b.push_back({QKeySequence(Qt::Key_C), KeyAction::kCoverageLanes,
                 "each camera's recording under the timeline, on and off"});
    b.push_back(
        {QKeySequence(Qt::Key_0), KeyAction::kZoomReset, "every camera back to its whole picture"});
    b.push_back(
        {QKeySequence(Qt::Key_Escape), KeyAction::kLeaveFullScreen, "leave the whole screen"});
    return b;
}

} // namespace

const std::vector<KeyBinding>& KeyBindings() {
    static const std::vector<KeyBinding> bindings = MakeBindings();
    return bindings;
}

std::optional<KeyAction> ActionOfKey(const QKeySequence& pressed) {
    for (const KeyBinding& b : KeyBindings())
        if (b.keys == pressed) return b.action;
    return std::nullopt;
}

QString KeysOf(KeyAction action) {
    QStringList keys;
    for (const KeyBinding& b : KeyBindings())
        if (b.action == action) keys << b.keys.toString(QKeySequence::NativeText);
    return keys.join(QStringLiteral(" or "));
}

QString ToolTipWithKeys(const QString& tip) {
    static const std::pair<const char*, KeyAction> keyed[] = {
        {"Play", KeyAction::kPlayPause},           {"Pause", KeyAction::kPlayPause},
        {"Fast Forward", KeyAction::kFaster},      {"Fast Reverse", KeyAction::kSlower},
        {"Step Forward", KeyAction::kStepForward}, {"Step Reverse", KeyAction::kStepBack},
        {"Save as JPG", KeyAction::kSnapshot},     {"Load", KeyAction::kOpen},
        {"Save picture", KeyAction::kSavePicture},
    };
    for (const auto& [text, action] : keyed)
        if (tip == QLatin1String(text))
            return tip + QStringLiteral(" (") + KeysOf(action) + QLatin1Char(')');
    return tip;
}

QString KeyListText() {
    QStringList lines{QStringLiteral("Keys")};
    for (const KeyBinding& b : KeyBindings()) {
        if (b.action == KeyAction::kSelectCell1) {
            lines << QStringLiteral("1 - 9\tselect the camera of that cell");
            continue;
        }
        if (!b.what) continue;
        lines << KeysOf(b.action) + QLatin1Char('\t') + QString::fromLatin1(b.what);
    }
    lines << QStringLiteral("Wheel over a camera\tzoom it (up to 8x) around the pointer; drag "
                            "to move, middle click to reset");
    return lines.join(QLatin1Char('\n'));
}

} // namespace qm
