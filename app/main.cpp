#include "app/orbiscope_app.h"
#include "app/skin.h"
#include "platform/diagnostics.h"

#include <QApplication>
#include <qm_version.h>

#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    // Answered before any window system is needed.
    for (int i = 1; i < argc; ++i)
        if (!std::strcmp(argv[i], "--version")) {
            std::printf("qmplayer %s\n", QM_VERSION_TEXT);
            return 0;
        }
    qm::EnableDiagnosticsFromArgs(argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QMPlayer HD"));
    // QApplication has taken its own options out of argv by now.
    QApplication::setOrganizationName(QStringLiteral("QMPlayer HD"));
    qm::ApplyDarkSkin();
    qm::COrbiscopeApp app;
    app.SetRemembering(true);
    return app.Run(argc, argv);
}
