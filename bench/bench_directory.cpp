// zelmo-directory under load: starts the server as a child process on loopback, logs in
// N clients (default 2000) to the directory port, each with its own pal login too, then
// has every client ask for the user list at once. Prints logins per second, the time
// until every client has its list, lookups per second, and the server's memory before,
// after and at its peak.
//
//   bench_directory [--clients N] [--port P]     (directory on P, pal on P + 1)

#include "directory/DirectoryProtocol.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <sys/resource.h>

#include <cstdio>
#include <memory>
#include <vector>

namespace Proto = DirectoryProtocol;

namespace {

qint64 statusKb(qint64 pid, const char *field)
{
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith(field))
            return line.mid(qstrlen(field)).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

struct Client
{
    QTcpSocket socket;
    QByteArray received;
    int answers = 0; // complete messages received

    void take()
    {
        received += socket.readAll();
        qsizetype end;
        while ((end = received.indexOf(Proto::Terminator)) >= 0) {
            received.remove(0, end + 4);
            ++answers;
        }
    }
};

// Runs the event loop until done() holds or the time runs out.
template<typename F>
bool waitFor(F done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption clientsOption(QStringLiteral("clients"), QStringLiteral("Clients (default 2000)."),
                                           QStringLiteral("N"), QStringLiteral("2000"));
    const QCommandLineOption portOption(QStringLiteral("port"), QStringLiteral("Directory port (default 27010)."),
                                        QStringLiteral("P"), QStringLiteral("27010"));
    parser.addOptions({clientsOption, portOption});
    parser.process(app);
    const int count = parser.value(clientsOption).toInt();
    const int port = parser.value(portOption).toInt();

    // Two sockets per client here, two more in the server.
    rlimit files{};
    getrlimit(RLIMIT_NOFILE, &files);
    files.rlim_cur = files.rlim_max;
    setrlimit(RLIMIT_NOFILE, &files);

    QTemporaryDir data;
    QProcess server;
    server.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    server.setStandardOutputFile(QProcess::nullDevice());
    server.start(QCoreApplication::applicationDirPath() + QStringLiteral("/../zelmo-directory"),
                 {QStringLiteral("--directory-port"), QString::number(port), QStringLiteral("--pal-port"),
                  QString::number(port + 1), QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                  QStringLiteral("--data"), data.path(), QStringLiteral("--max-users"), QString::number(count + 10)});
    if (!server.waitForStarted()) {
        std::fprintf(stderr, "bench_directory: zelmo-directory did not start\n");
        return 1;
    }
    const qint64 pid = server.processId();
    QThread::msleep(300);
    const qint64 rssStart = statusKb(pid, "VmRSS:");

    std::vector<std::unique_ptr<Client>> directory(count);
    std::vector<std::unique_ptr<Client>> pal(count);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        for (auto *list : {&directory, &pal}) {
            auto c = std::make_unique<Client>();
            Client *raw = c.get();
            QObject::connect(&raw->socket, &QTcpSocket::readyRead, [raw] { raw->take(); });
            raw->socket.connectToHost(QHostAddress::LocalHost, quint16(list == &directory ? port : port + 1));
            (*list)[i] = std::move(c);
        }
        const QString name = QStringLiteral("User %1").arg(i);
        const QString email = QStringLiteral("user%1@example.org").arg(i);
        // Queued until connected; "INT" is answered once the login has been read.
        directory[i]->socket.write(Proto::directoryLogin(i + 1, name, email, QStringLiteral("Somewhere"),
                                                         QStringLiteral("A comment of ordinary length"), i % 2,
                                                         true, true, 2000 + 4 * (i % 8))
                                   + Proto::noticeRequest());
        pal[i]->socket.write(Proto::palLogin(i + 1, name, email, QStringLiteral("Somewhere"), {}, 2000));
        // People arrive in waves, not all in one instant: a wave of 100 is let in before
        // the next knocks.
        if (i % 100 == 99 || i == count - 1) {
            waitFor(
                [&] {
                    for (int k = i - i % 100; k <= i; ++k)
                        if (directory[k]->answers < 1)
                            return false;
                    return true;
                },
                30000);
        }
    }
    const bool loggedIn = waitFor(
        [&] {
            for (const auto &c : directory)
                if (c->answers < 1)
                    return false;
            return true;
        },
        120000);
    const double loginSeconds = clock.nsecsElapsed() / 1e9;
    if (!loggedIn) {
        int connected = 0;
        for (const auto &c : directory)
            connected += c->socket.state() == QAbstractSocket::ConnectedState;
        std::fprintf(stderr, "bench_directory: not every client got in (%d connected)\n", connected);
        server.terminate();
        server.waitForFinished(5000);
        return 1;
    }

    clock.restart();
    for (auto &c : directory)
        c->socket.write(Proto::listRequest());
    const bool listed = waitFor(
        [&] {
            for (const auto &c : directory)
                if (c->answers < 2)
                    return false;
            return true;
        },
        120000);
    const double listSeconds = clock.nsecsElapsed() / 1e9;

    clock.restart();
    for (int i = 0; i < count; ++i)
        pal[i]->socket.write(Proto::emailLookup(QStringLiteral("user%1@example.org").arg((i * 7) % count)));
    const bool lookedUp = waitFor(
        [&] {
            for (const auto &c : pal)
                if (c->answers < 1)
                    return false;
            return true;
        },
        120000);
    const double lookupSeconds = clock.nsecsElapsed() / 1e9;
    const qint64 rssLoaded = statusKb(pid, "VmRSS:");

    // Everyone leaves; what stays is the server's own.
    directory.clear();
    pal.clear();
    QThread::msleep(500);
    QCoreApplication::processEvents();
    const qint64 rssAfter = statusKb(pid, "VmRSS:");
    const qint64 peak = statusKb(pid, "VmHWM:");
    server.terminate();
    server.waitForFinished(5000);

    std::printf("zelmo-directory load, %d clients on loopback (directory and pal connection each)\n", count);
    std::printf("  logins:        %.2f s for %d directory + %d pal logins, %.0f directory logins/s\n", loginSeconds,
                count, count, count / loginSeconds);
    std::printf("  user list:     %s; %.2f s until all %d clients had the list of %d (%.1f ms per list)\n",
                listed ? "complete" : "INCOMPLETE", listSeconds, count, qMin(count, Proto::MaxEntries),
                1000.0 * listSeconds / count);
    std::printf("  e-mail lookups: %s; %.0f lookups/s\n", lookedUp ? "complete" : "INCOMPLETE",
                count / lookupSeconds);
    std::printf("  server memory: %lld kB at start, %lld kB with everyone on line (%.1f kB per user), "
                "%lld kB after they left, peak %lld kB\n",
                rssStart, rssLoaded, double(rssLoaded - rssStart) / count, rssAfter, peak);
    return listed && lookedUp ? 0 : 1;
}
