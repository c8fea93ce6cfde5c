#include "app/orbiscope_dlg.h"

#include "app/app_title.h"
#include "platform/diagnostics.h"

#include <QTimer>

namespace qm {

COrbiscopeDlg::COrbiscopeDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QString::fromLatin1(kAppTitle));
    resize(1024, 720);
}

COrbiscopeDlg::~COrbiscopeDlg() = default;

void COrbiscopeDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!m_bInitialised) {
        m_bInitialised = true;
        OnInitDialog();
    }
}

void COrbiscopeDlg::OnInitDialog() {
    if (!m_strAvrFile.isEmpty())
        SetTimer(kTimerOpenFromCommandLine, kOpenFromCommandLineDelayMs, true);
}

void COrbiscopeDlg::SetTimer(int id, int intervalMs, bool singleShot) {
    QTimer*& timer = m_timers[id];
    if (!timer) {
        timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, [this, id] { OnTimer(id); });
    }
    timer->setSingleShot(singleShot);
    timer->start(intervalMs);
}

void COrbiscopeDlg::KillTimer(int id) {
    if (auto it = m_timers.find(id); it != m_timers.end()) it->second->stop();
}

bool COrbiscopeDlg::IsTimerActive(int id) const {
    auto it = m_timers.find(id);
    return it != m_timers.end() && it->second->isActive();
}

void COrbiscopeDlg::OnTimer(int id) {
    if (id == kTimerOpenFromCommandLine) {
        KillTimer(id);
        OpenFromCommandLine();
    }
}

void COrbiscopeDlg::OpenFromCommandLine() {
    qmLog("COrbiscopeDlg::OpenFromCommandLine %s mode %d\n", qPrintable(m_strAvrFile), m_nMode);
    emit openFromCommandLineRequested(m_strAvrFile);
}

} // namespace qm
