#include "app/single_instance.h"

#include "platform/diagnostics.h"

#include <QDir>
#include <QEventLoop>
#include <QLocalServer>
#include <QLocalSocket>
#include <QLockFile>
#include <QStandardPaths>
#include <QTimer>

namespace qm {

namespace {

constexpr char kRaiseRequest[] = "raise\n";
constexpr int kConnectTimeoutMs = 1000;

} // namespace

QString CSingleInstance::DefaultName() {
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty()) dir = QDir::tempPath();
    return dir + QStringLiteral("/QMPlayerHD");
}

CSingleInstance::CSingleInstance(QString name, QObject* parent)
    : QObject(parent), m_strName(std::move(name)) {}

CSingleInstance::~CSingleInstance() {
    if (m_pServer) m_pServer->close(); // removes the socket file
}

bool CSingleInstance::IsListening() const {
    return m_pServer && m_pServer->isListening();
}

CSingleInstance::Claim CSingleInstance::TryClaim() {
    if (IsListening()) return Claim::First;

    // Two instances started together must not both find the channel dead and
    // remove each other's socket; the lock orders them.
    QLockFile lock(m_strName + QStringLiteral(".lock"));
    lock.setStaleLockTime(10000);
    const bool locked = lock.tryLock(5000);
    if (!locked)
        qmLog("CSingleInstance lock %s not taken, going on\n", qPrintable(lock.fileName()));

    {
        QLocalSocket probe;
        probe.connectToServer(m_strName);
        if (probe.waitForConnected(kConnectTimeoutMs)) {
            probe.disconnectFromServer();
            return Claim::Another;
        }
    }

    // Nobody answers: whatever is left under the name belongs to a dead instance.
    QLocalServer::removeServer(m_strName);
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_pServer->listen(m_strName)) {
        // Without the channel we still run; a later start just won't find us.
        qmLog("CSingleInstance listen %s failed: %s\n", qPrintable(m_strName),
              qPrintable(m_pServer->errorString()));
        return Claim::First;
    }
    connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
    return Claim::First;
}

void CSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { OnRequest(socket); });
        if (socket->canReadLine()) OnRequest(socket);
    }
}

void CSingleInstance::OnRequest(QLocalSocket* socket) {
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(64);
        if (line != kRaiseRequest) continue;
        const bool raised = m_raiseHandler ? m_raiseHandler() : false;
        socket->write(raised ? "1\n" : "0\n");
        socket->flush();
    }
}

bool CSingleInstance::AskToRaise(int timeoutMs) {
    QLocalSocket socket;
    QEventLoop loop;
    QTimer timeout;
    timeout.setSingleShot(true);
    connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::readyRead, &loop, [&] {
        if (socket.canReadLine()) loop.quit();
    });
    connect(&socket, &QLocalSocket::disconnected, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::errorOccurred, &loop, &QEventLoop::quit);
    connect(&socket, &QLocalSocket::connected, &socket, [&] { socket.write(kRaiseRequest); });

    socket.connectToServer(m_strName);
    timeout.start(timeoutMs);
    if (!socket.canReadLine()) loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (!socket.canReadLine()) return false;
    return socket.readLine(64) == "1\n";
}

} // namespace qm
