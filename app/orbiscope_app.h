#pragma once
// Start-up: one instance per user, the command line, then exactly one window
// run modally — the command help or the main window — until it closes.
//
// Start-up is split so that tests can drive it: InitInstance() does every step
// up to running the window and leaves the window in place; RunModal() runs
// it. Run() does both, as the program does.

#include "app/command_line_info.h"
#include "app/user_prompts.h"

#include <QDialog>
#include <QObject>
#include <QString>
#include <memory>
#include <string>
#include <vector>

namespace qm {

class CCommandHelpDlg;
class COrbiscopeDlg;
class CSingleInstance;

class COrbiscopeApp : public QObject {
    Q_OBJECT
public:
    // prompts: null for real message boxes. instanceName: the single-instance
    // channel, empty for the default one.
    explicit COrbiscopeApp(IUserPrompts* prompts = nullptr, QString instanceName = {});
    ~COrbiscopeApp() override;

    enum class Outcome {
        AnotherInstance, // another instance runs; nothing to show here
        Help,            // the command help window is ready
        MainWindow,      // the main window is ready
    };
    // args: the arguments after the program name.
    Outcome InitInstance(const std::vector<std::string>& args);
    // Runs the window InitInstance() made; returns the process's exit code.
    int RunModal();
    int Run(int argc, const char* const* argv);

    // The window that runs the program, null when there is none.
    QDialog* MainWidget() const { return m_pMainWnd.get(); }
    COrbiscopeDlg* MainDialog() const;
    CCommandHelpDlg* HelpDialog() const;

    const QString& Version() const { return m_strVersion; }
    // The main window keeps its size and place and the recent recordings
    // between runs (QSettings); the program sets it, tests leave it off.
    void SetRemembering(bool remember) { m_bRemembering = remember; }
    const CQMCommandLineInfo& CommandLine() const { return m_cmdInfo; }

protected:
    // Points where later windows plug in.
    virtual std::unique_ptr<CCommandHelpDlg> CreateHelpDialog();
    virtual std::unique_ptr<COrbiscopeDlg> CreateMainDialog();

private:
    bool RaiseMainWindow();

    IUserPrompts* m_pPrompts;
    std::unique_ptr<IUserPrompts> m_pDefaultPrompts;
    QString m_strInstanceName;
    CSingleInstance* m_pInstance = nullptr;
    CQMCommandLineInfo m_cmdInfo;
    std::unique_ptr<QDialog> m_pMainWnd;
    QString m_strVersion;
    bool m_bRemembering = false;
};

} // namespace qm
