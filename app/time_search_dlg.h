#pragma once
// Asks for a date and time within the recording. OK ("Search") closes only
// when the picked time lies between the earliest and latest allowed time,
// both included; otherwise the user is told and the dialog stays open.

#include <QDialog>
#include <cstdint>

class QDateTimeEdit;
class QPushButton;

namespace qm {

class IUserPrompts;

class CTimeSearchDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr const char* kInvalidTime = "Input time is not valid.";

    // Times in seconds since 1970; the picker starts at `earliest`.
    CTimeSearchDlg(int64_t earliest, int64_t latest, IUserPrompts& prompts,
                   QWidget* parent = nullptr);

    // The picked time, seconds since 1970 (read it after OK).
    int64_t GetTime() const { return m_tPicked; }

    // The picker's current time, and setting it as the user would.
    int64_t PickerTime() const;
    void SetPickerTime(int64_t seconds);

    QDateTimeEdit* Picker() const { return m_pPicker; }
    QPushButton* SearchButton() const { return m_pOk; }
    QPushButton* CancelButton() const { return m_pCancel; }

public slots:
    void OnOK();

private:
    int64_t m_tEarliest;
    int64_t m_tLatest;
    int64_t m_tPicked;
    IUserPrompts& m_prompts;
    QDateTimeEdit* m_pPicker = nullptr;
    QPushButton* m_pOk = nullptr;
    QPushButton* m_pCancel = nullptr;
};

} // namespace qm
