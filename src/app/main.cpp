#include "ZelmoRevision.h"
#include "core/CrashReport.h"
#include "core/PeerChannel.h"
#include "core/ProcessEnd.h"
#include "core/TerminationSignals.h"
#include "media/DeviceNotice.h"
#include "messages/MessageService.h"
#include "root/Program.h"
#include "ui/TestHook.h"
#include "ui/WindowShell.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>
#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// Start-up says in plain words which device is missing; the sound system's own warnings
// about it are left out.
void filterMessages(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (DeviceNotice::isSoundSystemWarning(context.category, message))
        return;
    std::fprintf(stderr, "%s\n", qPrintable(qFormatLogMessage(type, context, message)));
    std::fflush(stderr);
}

const char *const MoreHelp =
    "\n"
    "ZELMO listens on four consecutive ports, from 2000 unless --port says otherwise: call\n"
    "control, media, quick messages and text chat. When the first is taken it moves on by\n"
    "four (2004, 2008, 2012). The directory server is localhost:2010 unless the Options\n"
    "dialog names another; the pal server is on the directory server's host, port 2015.\n"
    "\n"
    "The address to call is a host name, a dotted address, host:port or [IPv6]:port; the\n"
    "next incoming call is then accepted without asking.\n"
    "\n"
    "The profile folder holds zelmo.ini (settings), zelmo.log (activity log), refuse.dat\n"
    "(refused callers), zelmo.pal (pals) and zelmo.num (this user's number).\n";

int run(int argc, char *argv[])
{
    QCoreApplication::setApplicationName(QStringLiteral("zelmo"));
    // The desktop (and its portals) tell ZELMO's windows by its desktop entry's name.
    QGuiApplication::setDesktopFileName(QStringLiteral("org.zelmo.Zelmo"));
    QCoreApplication::setApplicationVersion(QStringLiteral(ZELMO_VERSION));
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("ZELMO: video calls, person to person."));
    const QCommandLineOption helpOption(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show this help and exit."));
    const QCommandLineOption versionOption(QStringList{QStringLiteral("v"), QStringLiteral("version")},
                                           QStringLiteral("Show the version and the build's git revision, and exit."));
    parser.addOption(helpOption);
    parser.addOption(versionOption);
    const QCommandLineOption profileOption(
        QStringLiteral("profile"),
        QStringLiteral("Keep the settings, the activity log and the pal and refuse lists in <dir> "
                       "(default: %1).")
            .arg(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) + QStringLiteral("/zelmo")),
        QStringLiteral("dir"));
    const QCommandLineOption testDevicesOption(
        QStringLiteral("test-devices"),
        QStringLiteral("Use a test microphone and speaker instead of the sound devices, and add a "
                       "\"Test Pattern\" camera: for machines without a camera or sound card."));
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Listen from port <n> on instead of 2000 (four ports, moving on "
                                                       "by four when taken)."),
                                        QStringLiteral("n"));
    const QCommandLineOption testHookOption(
        QStringLiteral("test-hook"),
        QStringLiteral("Take window actions (clicks, keys, pictures of windows) as commands on standard input "
                       "and answer on standard output; the demo drives ZELMO this way."));
    parser.addOption(profileOption);
    parser.addOption(testDevicesOption);
    parser.addOption(portOption);
    parser.addOption(testHookOption);
    parser.addPositionalArgument(QStringLiteral("address"), QStringLiteral("Address to call at once."),
                                 QStringLiteral("[address]"));
    // The command line is read before any window system is needed, so --help, --version
    // and mistakes are answered on a machine without a display too.
    const auto usage = [&parser] {
        return parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("zelmo"))
               + QString::fromLatin1(MoreHelp);
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
        std::printf("zelmo %s (git %s)\n", ZELMO_VERSION, ZELMO_REVISION);
        return 0;
    }
    if (parser.positionalArguments().size() > 1) {
        std::fprintf(stderr, "zelmo: give at most one address to call\n\n%s", qPrintable(usage()));
        return 2;
    }
    int firstPort = PortPlan::PublishedBase;
    if (parser.isSet(portOption)) {
        bool ok = false;
        firstPort = parser.value(portOption).toInt(&ok);
        // The four ports, moved on by up to twelve, must all exist.
        if (!ok || firstPort < 1 || firstPort + PortPlan::Span - 1 > 65535) {
            std::fprintf(stderr, "zelmo: --port wants a port from 1 to 65520\n");
            return 2;
        }
    }

    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")
        && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "zelmo: there is no graphical display (DISPLAY is not set).\n"
                             "Run it on a desktop, or try: xvfb-run -a zelmo\n");
        return 1;
    }
    CrashReport::install();
    qInstallMessageHandler(filterMessages);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);

    ProgramOptions options;
    options.firstPort = firstPort;
    options.profileDir = parser.isSet(profileOption)
                             ? QDir(parser.value(profileOption)).absolutePath()
                             : QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)
                                   + QStringLiteral("/zelmo");
    options.callAddress = parser.positionalArguments().value(0).trimmed();
    options.testDevices = parser.isSet(testDevicesOption);
    options.reachability = true;
    if (!QDir().mkpath(options.profileDir)) {
        std::fprintf(stderr, "zelmo: cannot create the profile folder %s\n", qPrintable(options.profileDir));
        return 1;
    }
    // The data files are named bare; the profile folder is where they live.
    QDir::setCurrent(options.profileDir);

    Program program(options);
    WindowShell shell(program.face());
    QObject::connect(&program.events(), &ProgramEvents::finished, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    TerminationSignals terminations;
    QObject::connect(&terminations, &TerminationSignals::received, &program, &Program::shutdown);
    QObject::connect(&program.events(), &ProgramEvents::devicesMissing, [](const QString &text) {
        std::fprintf(stderr, "zelmo: %s\n", qPrintable(text));
    });
    // The main window is built once the program listens; the hook reads nothing before the
    // event loop runs.
    shell.start();
    std::unique_ptr<TestHook> hook;
    if (parser.isSet(testHookOption)) {
        hook = std::make_unique<TestHook>(
            TestHook::Context{*shell.mainWindow(), program.videoEngine(), program.audioEngine(), program.messages()});
        hook->listen(STDIN_FILENO);
    }
    const int code = app.exec();
    program.finishReleasing();
    return code;
}

} // namespace

int main(int argc, char *argv[])
{
    // Everything of the program's own is gone when run() returns (its files written, its
    // peers told); the sound libraries' process-wide objects are not torn down after it.
    ProcessEnd::now(run(argc, argv));
}
