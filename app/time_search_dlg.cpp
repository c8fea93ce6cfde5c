#include "app/time_search_dlg.h"

#include "app/user_prompts.h"

#include <QDateTime>
#include <QDateTimeEdit>
#include <QPushButton>

namespace qm {

CTimeSearchDlg::CTimeSearchDlg(int64_t earliest, int64_t latest, IUserPrompts& prompts,
                               QWidget* parent)
    : QDialog(parent), m_tEarliest(earliest), m_tLatest(latest), m_tPicked(earliest),
      m_prompts(prompts) {
    setWindowTitle(QStringLiteral("Time Search"));
    setFixedSize(190, 100);
    // The dark skin of the main window.
    setStyleSheet(QStringLiteral("QDialog { background-color: rgb(30, 30, 30); }"));

    m_pPicker = new QDateTimeEdit(this);
    m_pPicker->setGeometry(10, 20, 170, 25);
    m_pPicker->setDisplayFormat(QStringLiteral("yyyy/MM/dd HH:mm:ss"));
    // The picker's own limits would silently bend an out-of-range entry; the
    // range is checked on OK instead, where the user is told.
    m_pPicker->setDateTimeRange(QDateTime::fromSecsSinceEpoch(0),
                                QDateTime(QDate(9999, 12, 31), QTime(23, 59, 59)));
    SetPickerTime(earliest);

    m_pOk = new QPushButton(QStringLiteral("Search"), this);
    m_pOk->setGeometry(10, 60, 80, 30);
    m_pOk->setDefault(true);
    m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancel->setGeometry(100, 60, 80, 30);

    connect(m_pOk, &QPushButton::clicked, this, &CTimeSearchDlg::OnOK);
    connect(m_pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

int64_t CTimeSearchDlg::PickerTime() const {
    return m_pPicker->dateTime().toSecsSinceEpoch();
}

void CTimeSearchDlg::SetPickerTime(int64_t seconds) {
    m_pPicker->setDateTime(QDateTime::fromSecsSinceEpoch(seconds));
}

void CTimeSearchDlg::OnOK() {
    const int64_t t = PickerTime();
    if (t < m_tEarliest || t > m_tLatest) {
        m_prompts.Notice(this, QString::fromLatin1(kInvalidTime));
        return;
    }
    m_tPicked = t;
    accept();
}

} // namespace qm
