#include "app/help_dlg.h"

#include <QTextBrowser>
#include <QVBoxLayout>

namespace qm {

CCommandHelpDlg::CCommandHelpDlg(QWidget* parent) : QDialog(parent) {
    auto* layout = new QVBoxLayout(this);
    m_pText = new QTextBrowser(this);
    m_pText->setReadOnly(true);
    layout->addWidget(m_pText);
    resize(640, 480);
}

bool CCommandHelpDlg::LoadHelpFile(const QString& fileName) {
    m_strFileName = fileName;
    // Reading the help file's rich text arrives with the help reader; until
    // then the usage line stands in.
    m_pText->setPlainText(QStringLiteral("Usage: qmplayer [options] [FileName/Mode/CameraMap]\n"
                                         "  -path FILE  -m MODE  -c CAMERAS  -h"));
    return false;
}

} // namespace qm
