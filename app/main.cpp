#include "app/orbiscope_app.h"
#include "platform/diagnostics.h"

#include <QApplication>

int main(int argc, char** argv) {
    qm::EnableDiagnosticsFromArgs(argc, argv);
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QMPlayer HD"));
    // QApplication has taken its own options out of argv by now.
    qm::COrbiscopeApp app;
    return app.Run(argc, argv);
}
