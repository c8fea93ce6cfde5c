#include "app/user_prompts.h"

#include "app/app_title.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>

namespace qm {

namespace {

// "MP4 Files (*.mp4)" -> "mp4"; empty unless the filter names one suffix.
QString SingleSuffixOf(const QString& qtFilter) {
    const qsizetype open = qtFilter.lastIndexOf(QStringLiteral("(*."));
    const qsizetype close = qtFilter.lastIndexOf(QLatin1Char(')'));
    if (open < 0 || close < open + 3) return {};
    const QString suffix = qtFilter.mid(open + 3, close - open - 3);
    if (suffix.contains(QLatin1Char('*')) || suffix.contains(QLatin1Char(' '))) return {};
    return suffix;
}

} // namespace

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
    // A file type chosen in the list is the suffix a bare name gets, and the
    // proposed name follows it (CH01.avi -> CH01.mp4).
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog](const QString& f) {
        const QString suffix = SingleSuffixOf(f);
        if (suffix.isEmpty()) return;
        dialog.setDefaultSuffix(suffix);
        const QStringList chosen = dialog.selectedFiles();
        if (chosen.isEmpty()) return;
        const QFileInfo file(chosen.first());
        if (file.isDir() || file.completeBaseName().isEmpty()) return;
        dialog.selectFile(file.completeBaseName() + QLatin1Char('.') + suffix);
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

QString CMessageBoxPrompts::FolderName(QWidget* parent, const QString& title) {
    QFileDialog dialog(parent, title);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    return dialog.selectedFiles().first();
}

int CMessageBoxPrompts::ChooseItem(QWidget* parent, const QString& text, const QStringList& items) {
    bool ok = false;
    const QString item =
        QInputDialog::getItem(parent, QString::fromLatin1(kAppTitle), text, items, 0, false, &ok);
    return ok ? int(items.indexOf(item)) : -1;
}

} // namespace qm
