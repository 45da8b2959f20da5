#include "core/TerminationSignals.h"
#include "ui/Program.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>
#include <cstdio>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("zelmo"));
    QApplication::setApplicationVersion(QStringLiteral(ZELMO_VERSION));
    QApplication::setQuitOnLastWindowClosed(false);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("ZELMO: video calls, person to person."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption profileOption(QStringLiteral("profile"),
                                           QStringLiteral("Keep settings, log and lists in <dir>."),
                                           QStringLiteral("dir"));
    const QCommandLineOption testDevicesOption(QStringLiteral("test-devices"),
                                               QStringLiteral("Add a test camera, microphone and speaker."));
    parser.addOption(profileOption);
    parser.addOption(testDevicesOption);
    parser.addPositionalArgument(QStringLiteral("address"), QStringLiteral("Address to call at once."),
                                 QStringLiteral("[address]"));
    if (!parser.parse(QApplication::arguments())) {
        std::fprintf(stderr, "zelmo: %s\n\n%s", qPrintable(parser.errorText()), qPrintable(parser.helpText()));
        return 2;
    }
    if (parser.isSet(QStringLiteral("help")))
        parser.showHelp(0);
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "zelmo: give at most one address to call\n\n%s", qPrintable(parser.helpText()));
        return 2;
    }

    ProgramOptions options;
    options.firstPort = 2000;
    options.profileDir = parser.isSet(profileOption)
                             ? QDir(parser.value(profileOption)).absolutePath()
                             : QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                   + QStringLiteral("/zelmo");
    options.callAddress = parser.positionalArguments().value(0).trimmed();
    options.testDevices = parser.isSet(testDevicesOption);
    if (!QDir().mkpath(options.profileDir)) {
        std::fprintf(stderr, "zelmo: cannot create the profile folder %s\n", qPrintable(options.profileDir));
        return 1;
    }
    // The data files are named bare; the profile folder is where they live.
    QDir::setCurrent(options.profileDir);

    Program program(options);
    QObject::connect(&program, &Program::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, &program, &Program::shutdown);
    program.start();
    return app.exec();
}
