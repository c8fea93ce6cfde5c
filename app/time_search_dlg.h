#pragma once
// Asks for a date and time within the recording. OK ("Search") closes only
// when the typed time can be read and lies between the earliest and latest
// allowed time, both included; otherwise the user is told, with the range,
// and the dialog stays open.
//
// The field is plain text in the clock format the player shows, so that a
// whole date and time can be pasted into it (from qmtool's output, a report
// or a log) as well as edited one part at a time; Up and Down step the part
// under the cursor.

#include <QDialog>
#include <QString>
#include <cstdint>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;

namespace qm {

class IUserPrompts;

// The field's format, as QDateTime writes it.
inline constexpr const char* kTimeSearchFormat = "yyyy/MM/dd HH:mm:ss";

// Seconds since 1970 of a local date and time written as the field shows
// it, or with '-' or '.' between the date's parts, 'T' before the time,
// and optional milliseconds (dropped); nullopt when it is no such time.
std::optional<int64_t> ParseSearchTime(const QString& text);
// Seconds since 1970 in the field's format, in local time.
QString SearchTimeText(int64_t seconds);

class CTimeSearchDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kInvalidTime = "Input time is not valid.";

    // Times in seconds since 1970; the field starts at `initial`, or at
    // `earliest` when `initial` lies outside the range.
    CTimeSearchDlg(int64_t earliest, int64_t latest, int64_t initial, IUserPrompts& prompts,
                   QWidget* parent = nullptr);
    CTimeSearchDlg(int64_t earliest, int64_t latest, IUserPrompts& prompts,
                   QWidget* parent = nullptr)
        : CTimeSearchDlg(earliest, latest, earliest, prompts, parent) {}

    // The picked time, seconds since 1970 (read it after OK).
    int64_t GetTime() const { return m_tPicked; }

    // The field's time (nullopt when its text is no time), and setting it
    // as the user would.
    std::optional<int64_t> PickerTime() const;
    void SetPickerTime(int64_t seconds);
    // "Recorded from START to END" in the field's format.
    QString RangeText() const;

    QLineEdit* Picker() const { return m_pPicker; }
    QLabel* RangeLabel() const { return m_pRange; }
    QPushButton* SearchButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }

public slots:
    void OnOK();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // Up/Down on the part under the cursor: +1 or -1 of that unit.
    void StepPartAtCursor(int steps);

    int64_t m_tEarliest;
    int64_t m_tLatest;
    int64_t m_tPicked;
    IUserPrompts& m_prompts;
    QLineEdit* m_pPicker = nullptr;
    QLabel* m_pRange = nullptr;
    QPushButton* m_pOk = nullptr;
    QPushButton* m_pCancel = nullptr;
};

} // namespace qm
