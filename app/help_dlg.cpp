#include "app/help_dlg.h"

#include "app/rtf_reader.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QStyle>
#include <QTextBrowser>
#include <QTextDocument>
#include <algorithm>
#include <cmath>
#include <memory>

namespace qm {

namespace {

constexpr char kErrorPageHead[] =
    R"({\rtf1\ansi\ansicpg1252\deff0\deflang1033{\fonttbl{\f0\fswiss\fcharset0 Arial;}})"
    R"({\colortbl ;\red255\green0\blue0;}\viewkind4\uc1\pard\cf1\b\f0\fs36 )"
    R"(HelpDialog Internal Error\par\fs20\par\cf0 )";
constexpr char kPageEnd[] = R"(\par\cf0\b0\par})";

constexpr int kMinTextWidth = 100;
constexpr int kScreenHeightReserve = 80;
constexpr int kViewMargin = 2;

// Text as RTF: the characters RTF gives a meaning to are escaped, anything
// outside printable ASCII is written as \uN with a '?' for readers without
// Unicode.
QByteArray EscapeRtf(const QString& text) {
    QByteArray out;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\\' || u == '{' || u == '}') {
            out += '\\';
            out += static_cast<char>(u);
        } else if (u >= 0x20 && u < 0x7F) {
            out += static_cast<char>(u);
        } else {
            out += "\\u" + QByteArray::number(static_cast<int16_t>(u)) + '?';
        }
    }
    return out;
}

// The first help file that can be read, or why none could.
struct ReadResult {
    QByteArray data;
    QString path;
    QString reason;
    bool ok = false;
};

ReadResult ReadFirst(const QStringList& candidates) {
    ReadResult result;
    bool haveReason = false;
    for (const QString& path : candidates) {
        QFile file(path);
        QString reason;
        if (!file.open(QIODevice::ReadOnly)) {
            reason = file.errorString();
        } else if (file.size() > CHelpDlg::kMaxFileSize) {
            reason = QStringLiteral("File too large");
        } else {
            QByteArray data = file.read(CHelpDlg::kMaxFileSize + 1);
            if (file.error() != QFileDevice::NoError)
                reason = file.errorString();
            else if (data.size() > CHelpDlg::kMaxFileSize)
                reason = QStringLiteral("File too large");
            else {
                result.data = std::move(data);
                result.path = path;
                result.ok = true;
                return result;
            }
        }
        // The first place is where the file belongs; its reason is the one to tell.
        if (!haveReason) {
            result.reason = reason;
            haveReason = true;
        }
    }
    return result;
}

} // namespace

CHelpDlg::CHelpDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Help"));
    setSizeGripEnabled(true);
}

QStringList CHelpDlg::CandidatePaths(const QString& name, const QString& currentDir,
                                     const QString& programDir) {
    if (name.isEmpty()) return {};
    if (QDir::isAbsolutePath(name)) return {name};
    QStringList paths;
    const auto add = [&paths](const QString& path) {
        const QString clean = QDir::cleanPath(path);
        if (!paths.contains(clean)) paths << clean;
    };
    add(QDir(currentDir).filePath(name));
    if (!programDir.isEmpty()) {
        add(QDir(programDir).filePath(name));
        add(QDir(programDir).filePath(QStringLiteral("../share/qmplayer/") + name));
    }
    return paths;
}

QByteArray CHelpDlg::FileErrorPage(const QString& name, const QString& reason) {
    return QByteArray(kErrorPageHead) + "Failed to load RTF file '" + EscapeRtf(name) +
           R"('\par\par\cf0Reason: )" + EscapeRtf(reason) + kPageEnd;
}

QByteArray CHelpDlg::ResourceErrorPage() {
    return QByteArray(kErrorPageHead) + "Failed to load RTF from resources, check your code!" +
           kPageEnd;
}

QByteArray CHelpDlg::NoSourceErrorPage() {
    return QByteArray(kErrorPageHead) +
           "no RTF ID set in constructor AND no RTF File Loaded, check your code!" + kPageEnd;
}

bool CHelpDlg::LoadFile(const QString& name) {
    m_strFileName = name;
    m_bFileLoaded = true;
    const QString programDir =
        QCoreApplication::instance() ? QCoreApplication::applicationDirPath() : QString();
    const ReadResult read = ReadFirst(CandidatePaths(name, QDir::currentPath(), programDir));
    if (!read.ok) {
        m_strLoadedPath.clear();
        m_strRtf =
            FileErrorPage(name, read.reason.isEmpty() ? QStringLiteral("No such file or directory")
                                                      : read.reason);
        return false;
    }
    m_strLoadedPath = read.path;
    m_strRtf = read.data;
    return true;
}

int CHelpDlg::HeightForWidth(int width) const {
    // The view's frame takes its share of the width and adds to the height.
    const int frame = 2 * m_pView->frameWidth();
    std::unique_ptr<QTextDocument> doc(m_pView->document()->clone());
    doc->setTextWidth(std::max(1, width - frame));
    return static_cast<int>(std::ceil(doc->size().height())) + frame;
}

QSize CHelpDlg::FitTextSize(const std::function<int(int width)>& heightAt, int screenWidth,
                            int screenHeight, int menuBarHeight) {
    int low = kMinTextWidth;
    const int full = std::max(kMinTextWidth, screenWidth / 2 * 2);
    int high = full;
    const int reference = heightAt(full);
    while (high > low) {
        const int middle = low + (high - low) / 2;
        if (heightAt(middle) <= reference)
            high = middle - 1;
        else
            low = middle + 1;
    }
    // Every width above `high` fits; when the bounds met on an untried width,
    // that one may fit as well.
    int width = high + 1;
    if (high == low && heightAt(low) <= reference) width = low;
    width = std::clamp(width, kMinTextWidth, full);
    int height = heightAt(width) + menuBarHeight + 2;
    height = std::max(1, std::min(height, screenHeight - kScreenHeightReserve));
    return QSize(width + 5, height);
}

void CHelpDlg::OnInitDialog() {
    if (m_bInitialised) return;
    m_bInitialised = true;

    m_pView = new QTextBrowser(this);
    m_pView->setReadOnly(true);
    m_pView->setOpenLinks(false);
    m_pView->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    m_pView->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette palette = m_pView->palette();
    palette.setColor(QPalette::Base, palette.color(QPalette::ToolTipBase));
    palette.setColor(QPalette::Text, palette.color(QPalette::ToolTipText));
    m_pView->setPalette(palette);

    if (m_nResourceId != 0) {
        QFile resource(QStringLiteral(":/rtf/%1").arg(m_nResourceId));
        if (resource.open(QIODevice::ReadOnly))
            m_strRtf = resource.readAll();
        else
            m_strRtf = ResourceErrorPage();
    } else if (!m_bFileLoaded) {
        m_strRtf = NoSourceErrorPage();
    }
    RenderRtf(ParseRtf(m_strRtf), *m_pView->document());

    const QScreen* screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen();
    const QRect full = screen ? screen->geometry() : QRect(0, 0, 1024, 768);
    const int menuBar = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    m_textSize = FitTextSize([this](int width) { return HeightForWidth(width); }, full.width(),
                             full.height(), menuBar);

    m_pView->setGeometry(kViewMargin, kViewMargin, m_textSize.width(), m_textSize.height());
    m_pView->show();
    resize(m_textSize.width() + 2 * kViewMargin, m_textSize.height() + 2 * kViewMargin);
}

void CHelpDlg::showEvent(QShowEvent* event) {
    OnInitDialog();
    QDialog::showEvent(event);
}

void CHelpDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    if (m_pView)
        m_pView->setGeometry(kViewMargin, kViewMargin, std::max(1, width() - 2 * kViewMargin),
                             std::max(1, height() - 2 * kViewMargin));
}

} // namespace qm
