// Ways into a recording besides the Load menu's dialogs: the recordings opened
// last (kept between runs), and a file dropped on the window.

#include "app/bit_slider.h"
#include "app/orbiscope_dlg.h"
#include "storage/source_kind.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMenu>
#include <QMimeData>
#include <QSettings>
#include <QUrl>

namespace qm {

namespace {
const char* const kRecentKey = "recent/recordings";
constexpr int kRecentCount = 5;
} // namespace

std::unique_ptr<QSettings> COrbiscopeDlg::Settings() const {
    if (!m_strSettingsFile.isEmpty())
        return std::make_unique<QSettings>(m_strSettingsFile, QSettings::IniFormat);
    return std::make_unique<QSettings>();
}

void COrbiscopeDlg::RememberIn(const QString& settingsFile) {
    m_strSettingsFile = settingsFile;
    RememberGeometry(true);
}

QStringList COrbiscopeDlg::RecentRecordings() const {
    if (!m_bRememberGeometry) return {};
    return Settings()->value(QString::fromLatin1(kRecentKey)).toStringList();
}

void COrbiscopeDlg::NoteRecent(const QString& path) {
    if (!m_bRememberGeometry || path.isEmpty()) return;
    const QString full = QFileInfo(path).absoluteFilePath();
    QStringList recent = RecentRecordings();
    recent.removeAll(full);
    recent.prepend(full);
    while (recent.size() > kRecentCount)
        recent.removeLast();
    Settings()->setValue(QString::fromLatin1(kRecentKey), recent);
}

void COrbiscopeDlg::AddRecentToMenu(QMenu& menu) {
    const QStringList recent = RecentRecordings();
    if (recent.isEmpty()) return;
    menu.addSeparator();
    for (int i = 0; i < recent.size(); ++i) {
        const QString path = recent[i];
        QAction* item = menu.addAction(QStringLiteral("&%1 %2").arg(i + 1).arg(
            QFileInfo(path).fileName().replace(QLatin1Char('&'), QStringLiteral("&&"))));
        item->setToolTip(path);
        item->setStatusTip(path);
        connect(item, &QAction::triggered, this, [this, path] { OpenPath(path); });
    }
    menu.setToolTipsVisible(true);
}

void COrbiscopeDlg::OpenPath(const QString& path) {
    if (!CanCommand() || path.isEmpty()) return;
    if (ClassifySource(QFile::encodeName(path).toStdString()) == SourceKind::kDiskImage) {
        OpenDiskSource(path);
        return;
    }
    BusyScope busy(*this, BusyScope::Cursor::kNone);
    m_strFilePath = path;
    m_pTimeline->SetPos(0);
    m_pTimeline->update();
    OpenAvrFile();
}

void COrbiscopeDlg::dragEnterEvent(QDragEnterEvent* event) {
    const QMimeData* data = event->mimeData();
    if (data->hasUrls() && !data->urls().isEmpty() && data->urls().front().isLocalFile() &&
        CanCommand())
        event->acceptProposedAction();
}

void COrbiscopeDlg::dropEvent(QDropEvent* event) {
    const QList<QUrl> urls = event->mimeData()->urls();
    if (urls.isEmpty() || !urls.front().isLocalFile()) return;
    event->acceptProposedAction();
    OpenPath(urls.front().toLocalFile());
}

} // namespace qm
