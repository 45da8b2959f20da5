#include "ZelmoRevision.h"
#include "core/TerminationSignals.h"
#include "server/DirectoryServer.h"
#include "server/OperatorInput.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QHostAddress>
#include <QStandardPaths>
#include <cstdio>

#include <sys/resource.h>

namespace {

void printLine(const QString &line)
{
    const QString stamped = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd hh:mm:ss ")) + line;
    std::fprintf(stdout, "%s\n", qPrintable(stamped));
    std::fflush(stdout);
}

int usageError(const QString &text)
{
    std::fprintf(stderr, "zelmo-directory: %s\nTry zelmo-directory --help\n", qPrintable(text));
    return 2;
}

bool readPort(const QString &text, int *port)
{
    bool ok = false;
    const int value = text.toInt(&ok);
    if (!ok || value < 1 || value > 65535)
        return false;
    *port = value;
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelmo-directory"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELMO_VERSION " (git " ZELMO_REVISION ")"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The ZELMO directory and pal server: lists who is on line, hands out user numbers and "
                       "tells users where their pals are.\nLines typed on standard input go to every "
                       "directory user as a notice."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption directoryPort(QStringLiteral("directory-port"),
                                           QStringLiteral("Directory port (default 2010)."), QStringLiteral("N"),
                                           QStringLiteral("2010"));
    const QCommandLineOption palPort(QStringLiteral("pal-port"), QStringLiteral("Pal port (default 2015)."),
                                     QStringLiteral("N"), QStringLiteral("2015"));
    const QCommandLineOption listen(QStringLiteral("listen"),
                                    QStringLiteral("Listen on this numeric address only (default: all interfaces)."),
                                    QStringLiteral("ADDRESS"));
    const QCommandLineOption notice(QStringLiteral("notice"), QStringLiteral("The notice shown to each user."),
                                    QStringLiteral("TEXT"));
    const QCommandLineOption server(QStringLiteral("server"),
                                    QStringLiteral("A directory server for the users' server list (repeatable)."),
                                    QStringLiteral("HOST:PORT:DESCRIPTION"));
    const QCommandLineOption maxUsers(QStringLiteral("max-users"),
                                      QStringLiteral("Users on line beyond this are turned away (default 10000)."),
                                      QStringLiteral("N"), QStringLiteral("10000"));
    const QCommandLineOption redirect(QStringLiteral("redirect"),
                                      QStringLiteral("Send users beyond --max-users to this directory server."),
                                      QStringLiteral("HOST:PORT:DESCRIPTION"));
    const QCommandLineOption data(QStringLiteral("data"),
                                  QStringLiteral("Keep the user numbers in this folder (default: %1).")
                                      .arg(QStandardPaths::writableLocation(QStandardPaths::AppDataLocation)),
                                  QStringLiteral("DIR"));
    parser.addOptions({directoryPort, palPort, listen, notice, server, maxUsers, redirect, data});
    parser.process(app);
    if (!parser.positionalArguments().isEmpty())
        return usageError(QStringLiteral("unexpected argument %1").arg(parser.positionalArguments().first()));

    ServerConfig config;
    if (!readPort(parser.value(directoryPort), &config.directoryPort))
        return usageError(QStringLiteral("--directory-port wants a port from 1 to 65535"));
    if (!readPort(parser.value(palPort), &config.palPort))
        return usageError(QStringLiteral("--pal-port wants a port from 1 to 65535"));
    if (config.directoryPort == config.palPort)
        return usageError(QStringLiteral("the directory and pal ports must differ"));
    config.listenAddress = parser.value(listen).trimmed();
    if (!config.listenAddress.isEmpty() && QHostAddress(config.listenAddress).isNull())
        return usageError(QStringLiteral("--listen wants a numeric address, such as 127.0.0.1"));
    config.notice = parser.value(notice);
    for (const QString &text : parser.values(server)) {
        const auto target = ServerConfig::parseTarget(text);
        if (!target)
            return usageError(QStringLiteral("--server wants HOST:PORT:DESCRIPTION, not %1").arg(text));
        config.servers.append(*target);
    }
    bool ok = false;
    config.maxUsers = parser.value(maxUsers).toInt(&ok);
    if (!ok || config.maxUsers < 1)
        return usageError(QStringLiteral("--max-users wants a number of at least 1"));
    if (parser.isSet(redirect)) {
        config.redirect = ServerConfig::parseTarget(parser.value(redirect));
        if (!config.redirect)
            return usageError(QStringLiteral("--redirect wants HOST:PORT:DESCRIPTION"));
    }
    config.dataDir = parser.isSet(data) ? QDir(parser.value(data)).absolutePath()
                                        : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);

    // Every user holds up to two connections: the soft limit on open files (often 1024)
    // goes up to what the system allows.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    DirectoryServer directory(config);
    QObject::connect(&directory, &DirectoryServer::logLine, &printLine);
    QString error;
    if (!directory.start(&error)) {
        std::fprintf(stderr, "zelmo-directory: %s\n", qPrintable(error));
        return 1;
    }
    printLine(QStringLiteral("zelmo-directory %1 listening on %2 directory port %3, pal port %4, data in %5")
                  .arg(QStringLiteral(ZELMO_VERSION),
                       config.listenAddress.isEmpty() ? QStringLiteral("all interfaces") : config.listenAddress)
                  .arg(directory.directoryPort())
                  .arg(directory.palPort())
                  .arg(config.dataDir));

    OperatorInput operatorInput(0);
    QObject::connect(&operatorInput, &OperatorInput::line, &directory, &DirectoryServer::broadcast);
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, &app, [&](int signalNumber) {
        printLine(QStringLiteral("stopping on signal %1").arg(signalNumber));
        directory.stop();
        app.quit();
    });
    return app.exec();
}
