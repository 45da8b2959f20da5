#include "Demo.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("zelmo-demo"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The ZELMO two-party demo: a zelmo-directory and two ZELMOs with test devices call each "
                       "other, driven through their windows. Prints what happened; exits 1 when a step did not "
                       "happen. Needs a display (scripts/demo.sh starts a virtual one)."));
    parser.addHelpOption();
    const QCommandLineOption bin(QStringLiteral("bin"), QStringLiteral("Where zelmo and zelmo-directory are."),
                                 QStringLiteral("dir"), QStringLiteral(ZELMO_DEMO_BIN_DIR));
    const QCommandLineOption out(QStringLiteral("out"), QStringLiteral("Where the screenshots and logs go."),
                                 QStringLiteral("dir"), QDir::current().filePath(QStringLiteral("demo")));
    const QCommandLineOption portBase(
        QStringLiteral("port-base"),
        QStringLiteral("Use the 50 ports from <n> on instead of the programs' defaults (2000-2007, 2010, 2015)."),
        QStringLiteral("n"));
    const QCommandLineOption keep(QStringLiteral("keep"), QStringLiteral("Keep the temporary profile folders."));
    const QCommandLineOption twoMachines(
        QStringLiteral("two-machines"),
        QStringLiteral("Run on two machines made of network namespaces (needs root): the directory server and Ann "
                       "on one, Bob on the other."));
    parser.addOptions({bin, out, portBase, keep, twoMachines});
    parser.process(app);

    Demo::Options options;
    options.binDir = QDir(parser.value(bin)).absolutePath();
    options.outDir = QDir(parser.value(out)).absolutePath();
    options.keepProfiles = parser.isSet(keep);
    options.twoMachines = parser.isSet(twoMachines);
    if (parser.isSet(portBase)) {
        bool ok = false;
        options.portBase = parser.value(portBase).toInt(&ok);
        if (!ok || options.portBase < 1024 || options.portBase > 32000) {
            std::fprintf(stderr, "zelmo-demo: --port-base wants a port from 1024 to 32000\n");
            return 2;
        }
    }
    return Demo(options).run();
}
