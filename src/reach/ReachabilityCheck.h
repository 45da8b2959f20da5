#pragma once

#include <QObject>
#include <QString>

class QTcpSocket;
class QTimer;

// Asks a directory server, on a short connection of its own, to connect back to this
// program's control port as the internet sees it. Servers that do not know the question
// never answer it; the check then ends "unknown" after its time-out.
class ReachabilityCheck : public QObject
{
    Q_OBJECT

public:
    enum class Verdict { Reachable, NotReachable, Unknown };
    Q_ENUM(Verdict)
    static constexpr int TimeoutMs = 8000;

    explicit ReachabilityCheck(QObject *parent = nullptr);

    // Starts a check (ending any running one); finished() tells its verdict, within
    // timeoutMs at the latest.
    void start(const QString &host, int port, int askedPort, int timeoutMs = TimeoutMs);
    void cancel();
    bool isRunning() const;

signals:
    // address: where the server tried (the address it sees this program at); reason: why
    // not, or why unknown.
    void finished(Verdict verdict, const QString &address, int port, const QString &reason);

private:
    void end(Verdict verdict, const QString &address, int port, const QString &reason);

    QTcpSocket *m_socket = nullptr;
    QTimer *m_deadline;
    QByteArray m_received;
    int m_askedPort = 0;
};
