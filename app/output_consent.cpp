#include "app/output_consent.h"

#include "app/user_prompts.h"

#include <QFile>

namespace qm {

bool AgreeOutputName(IUserPrompts& prompts, QWidget* parent, const QString& source,
                     const QString& path, OutputFiles& outputs) {
    if (!source.isEmpty()) outputs.AddSource(QFile::encodeName(source).toStdString());
    const std::string name = QFile::encodeName(path).toStdString();
    const OutputRefusal refusal = outputs.Check(name);
    if (refusal == OutputRefusal::kNone) return true;
    if (refusal == OutputRefusal::kExists) {
        if (!prompts.Confirm(parent,
                             path + QStringLiteral(" already exists.\nDo you want to replace it?")))
            return false;
        outputs.SetReplaceExisting(true);
        return true;
    }
    QString text = QString::fromStdString(RefusalText(refusal, name));
    if (!text.isEmpty()) text[0] = text[0].toUpper();
    prompts.Notice(parent, text);
    return false;
}

} // namespace qm
