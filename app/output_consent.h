#pragma once
// The player's side of the output check: a name chosen in a save dialog is
// refused with a message when it reaches the recording being played (or is
// otherwise unwritable), and an existing file is replaced only when the user
// says yes.

#include "platform/output_files.h"

#include <QString>

class QWidget;

namespace qm {

class IUserPrompts;

// Registers `source` with `outputs` and checks `path`. True when it may be
// written (with replacing agreed to, when it exists); false after telling
// the user why not, or when the user keeps the existing file.
bool AgreeOutputName(IUserPrompts& prompts, QWidget* parent, const QString& source,
                     const QString& path, OutputFiles& outputs);

} // namespace qm
