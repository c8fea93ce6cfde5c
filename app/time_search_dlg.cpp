#include "app/time_search_dlg.h"

#include "app/user_prompts.h"

#include <QDateTime>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>

namespace qm {

namespace {

// Where each part sits in the field's format, and what one step of it is.
enum class Part { kYear, kMonth, kDay, kHour, kMinute, kSecond };

Part PartAt(int cursor) {
    // "yyyy/MM/dd HH:mm:ss": a cursor right after a part still belongs to it.
    if (cursor <= 4) return Part::kYear;
    if (cursor <= 7) return Part::kMonth;
    if (cursor <= 10) return Part::kDay;
    if (cursor <= 13) return Part::kHour;
    if (cursor <= 16) return Part::kMinute;
    return Part::kSecond;
}

QDateTime Stepped(const QDateTime& t, Part part, int steps) {
    switch (part) {
    case Part::kYear:
        return t.addYears(steps);
    case Part::kMonth:
        return t.addMonths(steps);
    case Part::kDay:
        return t.addDays(steps);
    case Part::kHour:
        return t.addSecs(int64_t(steps) * 3600);
    case Part::kMinute:
        return t.addSecs(int64_t(steps) * 60);
    case Part::kSecond:
        return t.addSecs(steps);
    }
    return t;
}

} // namespace

std::optional<int64_t> ParseSearchTime(const QString& text) {
    // The date's separator is the same twice, so that a half-edited text is
    // not read as some other date.
    static const QRegularExpression kTime(QStringLiteral(
        R"(^\s*(\d{4})([-/.])(\d{1,2})\2(\d{1,2})(?:\s*T\s*|\s+)(\d{1,2}):(\d{1,2}):(\d{1,2})(?:\.\d{1,3})?\s*$)"));
    const QRegularExpressionMatch m = kTime.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const QDate date(m.captured(1).toInt(), m.captured(3).toInt(), m.captured(4).toInt());
    const QTime time(m.captured(5).toInt(), m.captured(6).toInt(), m.captured(7).toInt());
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    const QDateTime local(date, time, Qt::LocalTime);
    // A time the clocks skipped (the spring change) names no moment.
    if (!local.isValid() || local.time() != time) return std::nullopt;
    return local.toSecsSinceEpoch();
}

QString SearchTimeText(int64_t seconds) {
    return QDateTime::fromSecsSinceEpoch(seconds, Qt::LocalTime)
        .toString(QString::fromLatin1(kTimeSearchFormat));
}

CTimeSearchDlg::CTimeSearchDlg(int64_t earliest, int64_t latest, int64_t initial,
                               IUserPrompts& prompts, QWidget* parent)
    : QDialog(parent), m_tEarliest(earliest), m_tLatest(latest), m_tPicked(earliest),
      m_prompts(prompts) {
    setWindowTitle(QStringLiteral("Time Search"));
    setFixedSize(300, 132);
    // The dark skin of the main window.
    setStyleSheet(QStringLiteral("QDialog { background-color: rgb(30, 30, 30); }"
                                 "QLabel { color: rgb(58, 181, 240); }"));

    m_pRange = new QLabel(RangeText(), this);
    m_pRange->setObjectName(QStringLiteral("range"));
    m_pRange->setGeometry(10, 6, 280, 36);
    m_pRange->setWordWrap(true);

    m_pPicker = new QLineEdit(this);
    m_pPicker->setObjectName(QStringLiteral("picker"));
    m_pPicker->setGeometry(10, 48, 280, 25);
    m_pPicker->setPlaceholderText(QString::fromLatin1(kTimeSearchFormat));
    m_pPicker->installEventFilter(this);
    // Where the player is now is the likeliest place to search from.
    SetPickerTime(initial >= earliest && initial <= latest ? initial : earliest);

    m_pOk = new QPushButton(QStringLiteral("Search"), this);
    m_pOk->setGeometry(60, 90, 80, 30);
    m_pOk->setDefault(true);
    m_pCancel = new QPushButton(QStringLiteral("Cancel"), this);
    m_pCancel->setGeometry(160, 90, 80, 30);

    connect(m_pOk, &QPushButton::clicked, this, &CTimeSearchDlg::OnOK);
    connect(m_pCancel, &QPushButton::clicked, this, &QDialog::reject);
}

std::optional<int64_t> CTimeSearchDlg::PickerTime() const {
    return ParseSearchTime(m_pPicker->text());
}

void CTimeSearchDlg::SetPickerTime(int64_t seconds) {
    m_pPicker->setText(SearchTimeText(seconds));
}

QString CTimeSearchDlg::RangeText() const {
    return QStringLiteral("Recorded from %1 to %2")
        .arg(SearchTimeText(m_tEarliest), SearchTimeText(m_tLatest));
}

void CTimeSearchDlg::OnOK() {
    const std::optional<int64_t> t = PickerTime();
    if (!t || *t < m_tEarliest || *t > m_tLatest) {
        m_prompts.Notice(this, QString::fromLatin1(kInvalidTime) + QLatin1Char('\n') + RangeText() +
                                   QLatin1Char('.'));
        return;
    }
    m_tPicked = *t;
    accept();
}

bool CTimeSearchDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_pPicker && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Up || key == Qt::Key_Down) {
            StepPartAtCursor(key == Qt::Key_Up ? 1 : -1);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CTimeSearchDlg::StepPartAtCursor(int steps) {
    const std::optional<int64_t> t = PickerTime();
    if (!t) return; // nothing to step in a text that is no time
    const int cursor = m_pPicker->cursorPosition();
    // Stepping rewrites the field in its own format, so the parts are where
    // the cursor says once the text is in that format.
    const QString shown = SearchTimeText(*t);
    const Part part = m_pPicker->text() == shown ? PartAt(cursor) : Part::kSecond;
    const QDateTime next = Stepped(QDateTime::fromSecsSinceEpoch(*t, Qt::LocalTime), part, steps);
    m_pPicker->setText(next.toString(QString::fromLatin1(kTimeSearchFormat)));
    m_pPicker->setCursorPosition(cursor);
}

} // namespace qm
