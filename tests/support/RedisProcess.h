#pragma once

#include <QProcess>
#include <QString>

// A private redis-server for one test or benchmark: on loopback (or the address given), on
// a port of its own, no
// persistence, stopped when this object goes.
class RedisProcess
{
public:
    RedisProcess() = default;
    ~RedisProcess();
    RedisProcess(const RedisProcess &) = delete;
    RedisProcess &operator=(const RedisProcess &) = delete;

    // The redis-server program on the PATH, empty when none is installed.
    static QString program();

    // Starts it on the port (0: a free port) of the numeric address and waits until it
    // takes connections.
    bool start(int port, QString *error, const QString &host = QStringLiteral("127.0.0.1"));
    void stop();
    bool isRunning() const { return m_process.state() == QProcess::Running; }
    int port() const { return m_port; }
    qint64 processId() const { return m_process.processId(); }
    // "redis://HOST:PORT", as zelmo-directory's --registry takes it.
    QString url() const;

private:
    QProcess m_process;
    QString m_host;
    int m_port = 0;
};
