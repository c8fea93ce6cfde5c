#pragma once
// The command help window, shown instead of the player for -h / -help. It
// displays the help file from the working directory.

#include <QDialog>
#include <QString>

class QTextBrowser;

namespace qm {

class CCommandHelpDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCommandHelpDlg(QWidget* parent = nullptr);

    // Shows the help file's text; returns false when it cannot be shown.
    bool LoadHelpFile(const QString& fileName);

    const QString& HelpFileName() const { return m_strFileName; }

private:
    QTextBrowser* m_pText = nullptr;
    QString m_strFileName;
};

} // namespace qm
