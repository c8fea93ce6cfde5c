#include "app/user_prompts.h"

#include "app/app_title.h"

#include <QMessageBox>

namespace qm {

void CMessageBoxPrompts::Notice(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kAppTitle), text, QMessageBox::Ok,
                    parent);
    box.exec();
}

} // namespace qm
