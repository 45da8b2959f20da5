#pragma once

#include <QObject>
#include <QString>

#include <memory>

class ChannelDialer;
class QHostAddress;
class QTcpSocket;
class QTimer;

// Asks a directory server, on a short encrypted connection of its own, to connect back to
// this program's control port as the internet sees it. The question is not a published
// one: it goes only to a server that offers encryption on its own port (which only servers
// that know the question do); with any other the check ends "unknown" at once, and the
// server never sees it.
class ReachabilityCheck : public QObject
{
    Q_OBJECT

public:
    enum class Verdict { Reachable, NotReachable, Unknown };
    Q_ENUM(Verdict)
    static constexpr int TimeoutMs = 8000;

    // `dialer` makes the encrypted connection; without one there is nothing to ask over.
    explicit ReachabilityCheck(ChannelDialer *dialer, QObject *parent = nullptr);
    ~ReachabilityCheck() override;

    // Starts a check (ending any running one); finished() tells its verdict, within
    // timeoutMs at the latest.
    void start(const QString &host, int port, int askedPort, int timeoutMs = TimeoutMs);
    void cancel();

signals:
    // address: where the server tried (the address it sees this program at); reason: why
    // not, or why unknown.
    void finished(Verdict verdict, const QString &address, int port, const QString &reason);

private:
    void dial(const QHostAddress &address, int port);
    void ask(QTcpSocket *socket);
    void end(Verdict verdict, const QString &address, int port, const QString &reason);

    ChannelDialer *m_dialer;
    std::unique_ptr<QObject> m_dialAttempt;
    int m_lookup = -1;
    QTcpSocket *m_socket = nullptr;
    QTimer *m_deadline;
    QByteArray m_received;
    int m_askedPort = 0;
};
