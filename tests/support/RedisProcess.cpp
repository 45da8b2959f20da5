#include "support/RedisProcess.h"

#include <QDeadlineTimer>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>

#include <csignal>
#include <sys/prctl.h>

RedisProcess::~RedisProcess()
{
    stop();
}

QString RedisProcess::program()
{
    return QStandardPaths::findExecutable(QStringLiteral("redis-server"));
}

bool RedisProcess::start(int port, QString *error, const QString &host)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = why;
        stop();
        return false;
    };
    const QString exe = program();
    if (exe.isEmpty())
        return fail(QStringLiteral("redis-server is not installed"));
    const QHostAddress address(host);
    if (port == 0) {
        // A port the system has free right now.
        QTcpServer probe;
        if (!probe.listen(address, 0))
            return fail(QStringLiteral("no free port on %1").arg(host));
        port = probe.serverPort();
    }
    m_host = host;
    m_port = port;
    m_process.setProcessChannelMode(QProcess::MergedChannels);
    // A test killed by its time-out must not leave the server behind: it would keep the
    // test's ports, and the machine-wide build lock it inherited, for good.
    m_process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    m_process.start(exe, {QStringLiteral("--port"), QString::number(port), QStringLiteral("--bind"), host,
                          QStringLiteral("--protected-mode"), QStringLiteral("no"), QStringLiteral("--save"),
                          QString(), QStringLiteral("--appendonly"), QStringLiteral("no"),
                          QStringLiteral("--daemonize"), QStringLiteral("no"), QStringLiteral("--maxclients"),
                          QStringLiteral("1000")});
    if (!m_process.waitForStarted(5000))
        return fail(QStringLiteral("redis-server did not start: ") + m_process.errorString());
    const QDeadlineTimer deadline(10000);
    while (!deadline.hasExpired()) {
        if (m_process.state() != QProcess::Running)
            return fail(QStringLiteral("redis-server stopped: ") + QString::fromLocal8Bit(m_process.readAll()));
        QTcpSocket probe;
        probe.connectToHost(address, quint16(port));
        if (probe.waitForConnected(200))
            return true;
        QThread::msleep(20);
    }
    return fail(QStringLiteral("redis-server did not take connections on port %1").arg(port));
}

void RedisProcess::stop()
{
    if (m_process.state() == QProcess::NotRunning)
        return;
    m_process.terminate();
    if (!m_process.waitForFinished(5000)) {
        m_process.kill();
        m_process.waitForFinished(2000);
    }
}

QString RedisProcess::url() const
{
    return QStringLiteral("redis://%1:%2").arg(m_host).arg(m_port);
}
