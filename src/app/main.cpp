#include "core/TerminationSignals.h"
#include "ui/Program.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>
#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("zelmo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELMO_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("ZELMO: video calls, person to person."));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help."));
    const QCommandLineOption versionOption(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Show the version."));
    parser.addOption(helpOption);
    parser.addOption(versionOption);
    const QCommandLineOption profileOption(QStringLiteral("profile"),
                                           QStringLiteral("Keep settings, log and lists in <dir>."),
                                           QStringLiteral("dir"));
    const QCommandLineOption testDevicesOption(QStringLiteral("test-devices"),
                                               QStringLiteral("Add a test camera, microphone and speaker."));
    parser.addOption(profileOption);
    parser.addOption(testDevicesOption);
    parser.addPositionalArgument(QStringLiteral("address"), QStringLiteral("Address to call at once."),
                                 QStringLiteral("[address]"));
    // The command line is read before any window system is needed, so --help, --version
    // and mistakes are answered on a machine without a display too.
    const auto usage = [&parser] {
        return parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("zelmo"));
    };
    if (!parser.parse(arguments)) {
        std::fprintf(stderr, "zelmo: %s\n\n%s", qPrintable(parser.errorText()), qPrintable(usage()));
        return 2;
    }
    if (parser.isSet(helpOption)) {
        std::fputs(qPrintable(usage()), stdout);
        return 0;
    }
    if (parser.isSet(versionOption)) {
        std::printf("zelmo %s\n", ZELMO_VERSION);
        return 0;
    }
    if (parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "zelmo: give at most one address to call\n\n%s", qPrintable(usage()));
        return 2;
    }

    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "zelmo: there is no graphical display (DISPLAY is not set).\n"
                             "Run it on a desktop, or try: xvfb-run -a zelmo\n");
        return 1;
    }
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

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
