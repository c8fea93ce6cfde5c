#pragma once
// One player per user. The first instance listens on a local socket named
// after the application; a later one connects, asks it to bring its window
// forward and learns whether it did, then ends.

#include <QObject>
#include <QString>
#include <functional>

class QLocalServer;
class QLocalSocket;

namespace qm {

class CSingleInstance : public QObject {
    Q_OBJECT
public:
    // The default channel: "QMPlayerHD" in the user's runtime directory.
    static QString DefaultName();

    explicit CSingleInstance(QString name, QObject* parent = nullptr);
    ~CSingleInstance() override;

    enum class Claim {
        First,   // this process is the instance now
        Another, // another instance answers
    };
    // Becomes the instance unless a live one answers. A channel left behind
    // by a crashed instance is removed and taken over.
    Claim TryClaim();

    // For the first instance: what to do when a later one asks; returns
    // whether the window was found and brought forward.
    void SetRaiseHandler(std::function<bool()> handler) { m_raiseHandler = std::move(handler); }

    // For a later instance, after TryClaim() gave Another: asks the first to
    // bring its window forward. True when it says it did. Runs the event loop
    // while waiting (at most timeoutMs), so both ends may live in one process.
    bool AskToRaise(int timeoutMs = 3000);

    const QString& Name() const { return m_strName; }
    bool IsListening() const;

private:
    void OnNewConnection();
    void OnRequest(QLocalSocket* socket);

    QString m_strName;
    QLocalServer* m_pServer = nullptr;
    std::function<bool()> m_raiseHandler;
};

} // namespace qm
