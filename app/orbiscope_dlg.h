#pragma once
// The main window. For now it holds what start-up hands it (the recording,
// display mode and camera map) and asks for the recording to be opened once it
// is up; the controls, the player and the menus join it later.

#include "app/command_line_info.h"

#include <QDialog>
#include <QString>
#include <map>

class QTimer;

namespace qm {

class COrbiscopeDlg : public QDialog {
    Q_OBJECT
public:
    // Opens the recording given on the command line, shortly after the window is up.
    static constexpr int kTimerOpenFromCommandLine = 4351;
    static constexpr int kOpenFromCommandLineDelayMs = 100;

    explicit COrbiscopeDlg(QWidget* parent = nullptr);
    ~COrbiscopeDlg() override;

    void SetRecordingPath(const QString& path) { m_strAvrFile = path; }
    void SetMode(int mode) { m_nMode = mode; }
    void SetCamMap(const CamMap& map) { m_nCamMap = map; }

    const QString& RecordingPath() const { return m_strAvrFile; }
    int Mode() const { return m_nMode; }
    const CamMap& CamMapEntries() const { return m_nCamMap; }

    // Window timers by number; starting a running timer restarts it.
    void SetTimer(int id, int intervalMs, bool singleShot = false);
    void KillTimer(int id);
    bool IsTimerActive(int id) const;

signals:
    // The command line named a recording and the window is ready for it.
    void openFromCommandLineRequested(const QString& path);

protected:
    // Runs once, when the window is first shown.
    virtual void OnInitDialog();
    virtual void OnTimer(int id);
    // Opens m_strAvrFile and applies the mode and camera map.
    virtual void OpenFromCommandLine();

    void showEvent(QShowEvent* event) override;

    QString m_strAvrFile;
    int m_nMode = 0;
    CamMap m_nCamMap{};

private:
    std::map<int, QTimer*> m_timers;
    bool m_bInitialised = false;
};

} // namespace qm
