#pragma once
// "Select a channel to save as AVI...": the channel (or every camera, listed
// last as "All cameras" when there are several), sound on or off and, for a
// DVR disk, the time range of one export. Start validates the choice
// and asks the main window (saveAviRequested, handled synchronously) to run
// the export; the progress bar follows the running job's percentage.

#include <QDialog>

#include <atomic>
#include <cstdint>
#include <functional>

class QComboBox;
class QDateTimeEdit;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QTimer;

namespace qm {

class CQMSaveAviDlg : public QDialog {
    Q_OBJECT
public:
    static constexpr int64_t kMaxDurationSeconds = 3600;
    // The channel saveAviRequested names for the list's "All cameras".
    static constexpr int kAllCameras = -1;

    // `notice` shows a message to the user (a message box in the program).
    using Notice = std::function<void(QWidget* parent, const QString& text)>;
    explicit CQMSaveAviDlg(Notice notice, QWidget* parent = nullptr);
    ~CQMSaveAviDlg() override;

    // Inputs, set before the dialog is shown.
    uint32_t channelMask = 0;
    int wholeRecording = 1;
    int64_t rangeFirst = 0;
    int64_t rangeLast = 0;

    // Outputs of Start.
    int selectedIndex = -1;
    int exportChannel = -1; // kAllCameras for "All cameras"
    int withAudio = 1;
    int64_t chosenStart = 0;
    int64_t chosenEnd = 0;
    // Set by Cancel and after a successful export.
    std::atomic<int> cancelRequested{0};

    // The running export's percentage, read every 100 ms for the progress
    // bar while an export runs; none between exports.
    void SetProgressSource(std::function<int()> source);

    // Fills the controls from the inputs; runs when the dialog is shown.
    void OnInitDialog();
    // Button "Start".
    void OnStart();
    // Button "Cancel": also ends a running export at its next frame.
    void OnCancelButton();
    // The dialog's ordinary cancel: also ends a running export.
    void reject() override;

    // Controls, for the main window and tests.
    QComboBox* ChannelList() const { return m_pChannels; }
    QRadioButton* AudioOn() const { return m_pAudioOn; }
    QRadioButton* AudioOff() const { return m_pAudioOff; }
    QDateTimeEdit* StartPicker() const { return m_pStart; }
    QDateTimeEdit* EndPicker() const { return m_pEnd; }
    QProgressBar* Progress() const { return m_pProgress; }

signals:
    // Run the export of `channel` now (the dialog waits for the handler).
    void saveAviRequested(int channel);

protected:
    void showEvent(QShowEvent* event) override;

private:
    void UpdateProgress();

    Notice m_notice;
    QComboBox* m_pChannels = nullptr;
    QRadioButton* m_pAudioOn = nullptr;
    QRadioButton* m_pAudioOff = nullptr;
    QLabel* m_pStartLabel = nullptr;
    QLabel* m_pEndLabel = nullptr;
    QDateTimeEdit* m_pStart = nullptr;
    QDateTimeEdit* m_pEnd = nullptr;
    QProgressBar* m_pProgress = nullptr;
    QPushButton* m_pStartButton = nullptr;
    QPushButton* m_pCancel = nullptr;
    QTimer* m_pProgressTimer = nullptr;
    std::function<int()> m_progressSource;
};

} // namespace qm
