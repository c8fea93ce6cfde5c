#include "app/orbiscope_app.h"

#include "app/app_title.h"
#include "app/help_dlg.h"
#include "app/orbiscope_dlg.h"
#include "app/single_instance.h"
#include "platform/diagnostics.h"

#include <QApplication>
#include <qm_version.h>

#include <cstdio>
#include <unistd.h>

namespace qm {

COrbiscopeApp::COrbiscopeApp(IUserPrompts* prompts, QString instanceName)
    : m_pPrompts(prompts), m_strInstanceName(instanceName.isEmpty() ? CSingleInstance::DefaultName()
                                                                    : std::move(instanceName)) {
    if (!m_pPrompts) {
        m_pDefaultPrompts = std::make_unique<CMessageBoxPrompts>();
        m_pPrompts = m_pDefaultPrompts.get();
    }
}

// The window goes before the instance channel, so a request arriving while
// we shut down finds no window rather than a dying one.
COrbiscopeApp::~COrbiscopeApp() {
    m_pMainWnd.reset();
}

COrbiscopeDlg* COrbiscopeApp::MainDialog() const {
    return qobject_cast<COrbiscopeDlg*>(m_pMainWnd.get());
}

CCommandHelpDlg* COrbiscopeApp::HelpDialog() const {
    return qobject_cast<CCommandHelpDlg*>(m_pMainWnd.get());
}

std::unique_ptr<CCommandHelpDlg> COrbiscopeApp::CreateHelpDialog() {
    return std::make_unique<CCommandHelpDlg>();
}

std::unique_ptr<COrbiscopeDlg> COrbiscopeApp::CreateMainDialog() {
    return std::make_unique<COrbiscopeDlg>(m_pPrompts);
}

bool COrbiscopeApp::RaiseMainWindow() {
    // Only a window still showing the bare title counts: once a recording is
    // open the caption names it and a second start leaves it alone.
    QDialog* window = m_pMainWnd.get();
    if (!window || window->windowTitle() != QLatin1String(kAppTitle)) return false;
    window->showNormal();
    window->raise();
    window->activateWindow();
    return true;
}

COrbiscopeApp::Outcome COrbiscopeApp::InitInstance(const std::vector<std::string>& args) {
    if (!m_pInstance) {
        m_pInstance = new CSingleInstance(m_strInstanceName, this);
        m_pInstance->SetRaiseHandler([this] { return RaiseMainWindow(); });
    }
    const CSingleInstance::Claim claim = m_pInstance->TryClaim();

    m_strVersion = QString::asprintf("%d.%d.%d.%d", QM_VERSION_MAJOR, QM_VERSION_MINOR,
                                     QM_VERSION_PATCH, QM_VERSION_TWEAK);

    if (claim == CSingleInstance::Claim::Another) {
        qmLog("COrbiscopeApp another instance runs\n");
        if (m_pInstance->AskToRaise())
            m_pPrompts->Notice(nullptr, QStringLiteral("QMPlayer already start"));
        return Outcome::AnotherInstance;
    }

    ParseCommandLine(m_cmdInfo, args);
    for (const std::string& option : m_cmdInfo.m_unknownOptions)
        std::fprintf(stderr, "qmplayer: unknown option %s (ignored; -h lists the options)\n",
                     option.c_str());

    if (m_cmdInfo.m_bShowHelp) {
        // Started from a terminal, the help is read there as well.
        if (::isatty(STDOUT_FILENO) == 1) {
            std::fputs(kCommandLineUsage, stdout);
            std::fflush(stdout);
        }
        std::unique_ptr<CCommandHelpDlg> help = CreateHelpDialog();
        help->setWindowTitle(QStringLiteral("Command Help"));
        help->LoadHelpFile(QStringLiteral("Help.rtf"));
        m_pMainWnd = std::move(help);
        return Outcome::Help;
    }

    std::unique_ptr<COrbiscopeDlg> dlg = CreateMainDialog();
    dlg->SetRecordingPath(QString::fromLocal8Bit(m_cmdInfo.m_strAvrFile));
    dlg->SetMode(m_cmdInfo.m_nMode);
    dlg->SetVersion(m_strVersion);
    if (m_cmdInfo.m_bCamMapValid) dlg->SetCamMap(m_cmdInfo.m_nCamMap);
    dlg->RememberGeometry(m_bRemembering);
    m_pMainWnd = std::move(dlg);
    return Outcome::MainWindow;
}

int COrbiscopeApp::RunModal() {
    if (m_pMainWnd) m_pMainWnd->exec();
    return 0;
}

int COrbiscopeApp::Run(int argc, const char* const* argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc && argv; ++i)
        args.emplace_back(argv[i] ? argv[i] : "");
    if (InitInstance(args) == Outcome::AnotherInstance) return 0;
    return RunModal();
}

} // namespace qm
