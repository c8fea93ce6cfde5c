#include "app/user_prompts.h"

#include "app/app_title.h"

#include <QFileDialog>
#include <QMessageBox>

namespace qm {

QString QtFileFilter(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(QLatin1Char('|'), Qt::SkipEmptyParts);
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        const QString& name = parts[i];
        // The name usually shows its pattern already ("JPG(*.jpg)"); Qt reads
        // the pattern from the last parentheses, so it is added only if missing.
        const QString pattern = QString(parts[i + 1]).replace(QLatin1Char(';'), QLatin1Char(' '));
        filters << (name.contains(QLatin1Char('('))
                        ? name
                        : name + QStringLiteral(" (") + pattern + QLatin1Char(')'));
    }
    return filters.join(QStringLiteral(";;"));
}

void CMessageBoxPrompts::Notice(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

bool CMessageBoxPrompts::Confirm(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::Question, QString::fromLatin1(kAppTitle), text,
                    QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

QString CMessageBoxPrompts::OpenFileName(QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilter(QtFileFilter(filter));
    dialog.setOption(QFileDialog::ReadOnly, false);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString CMessageBoxPrompts::SaveFileName(QWidget* parent, const QString& name,
                                         const QString& filter, const QString& defaultSuffix) {
    QFileDialog dialog(parent);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setNameFilter(QtFileFilter(filter));
    dialog.setDefaultSuffix(defaultSuffix);
    // Whether an existing file may be replaced is asked after the choice,
    // together with the other checks of the name.
    dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!name.isEmpty()) dialog.selectFile(name);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

} // namespace qm
