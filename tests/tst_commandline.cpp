#include "support/TestSupport.h"
#include "media/DeviceNotice.h"

#include <QCoreApplication>
#include <QProcess>
#include <QRegularExpression>

namespace {

using TestSupport::listening;

// The executables are built beside the tests' folder.
QString executable(const QString &name)
{
    return QCoreApplication::applicationDirPath() + QStringLiteral("/../") + name;
}

struct Run
{
    int exitCode = -1;
    QString out;
    QString err;
};

Run run(const QString &name, const QStringList &arguments)
{
    QProcess p;
    p.start(executable(name), arguments);
    Run r;
    if (!p.waitForFinished(30000))
        return r;
    r.exitCode = p.exitCode();
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The options a help text lists, each with whether a description follows it.
QMap<QString, bool> helpOptions(const QString &help)
{
    QMap<QString, bool> options;
    static const QRegularExpression line(QStringLiteral("^  (-\\w, )?(--[a-z-]+)( <[^>]+>)?( {2,}\\S.*)?$"));
    for (const QString &text : help.split(QLatin1Char('\n'))) {
        const QRegularExpressionMatch m = line.match(text);
        if (m.hasMatch())
            options[m.captured(2)] = !m.captured(4).trimmed().isEmpty();
    }
    return options;
}

int count(const QString &text, const QString &part)
{
    return int(text.count(part));
}

} // namespace

class TestCommandLine : public QObject
{
    Q_OBJECT

private slots:
    void versionNamesTheReleaseAndTheRevision()
    {
        const Run zelmo = run(QStringLiteral("zelmo"), {QStringLiteral("--version")});
        const Run server = run(QStringLiteral("zelmo-directory"), {QStringLiteral("--version")});
        QCOMPARE(zelmo.exitCode, 0);
        QCOMPARE(server.exitCode, 0);
        static const QRegularExpression version(QStringLiteral("^(\\S+) 2\\.51 \\(git ([0-9a-f]{7,}(-modified)?|unknown)\\)\\n$"));
        const QRegularExpressionMatch z = version.match(zelmo.out);
        const QRegularExpressionMatch s = version.match(server.out);
        QVERIFY2(z.hasMatch(), qPrintable(zelmo.out));
        QVERIFY2(s.hasMatch(), qPrintable(server.out));
        QCOMPARE(z.captured(1), QStringLiteral("zelmo"));
        QCOMPARE(s.captured(1), QStringLiteral("zelmo-directory"));
        // Both come from the same build.
        QCOMPARE(z.captured(2), s.captured(2));
    }

    void helpDescribesEveryOption()
    {
        const Run zelmo = run(QStringLiteral("zelmo"), {QStringLiteral("--help")});
        QCOMPARE(zelmo.exitCode, 0);
        const QMap<QString, bool> options = helpOptions(zelmo.out);
        QCOMPARE(options.keys(), (QStringList{"--help", "--port", "--profile", "--test-devices", "--test-hook",
                                              "--version"}));
        for (auto it = options.cbegin(); it != options.cend(); ++it)
            QVERIFY2(it.value(), qPrintable(it.key() + QStringLiteral(" has no description")));
        QVERIFY(zelmo.out.contains(QStringLiteral("address")));
        QVERIFY(zelmo.out.contains(QStringLiteral("zelmo.ini")));

        const Run server = run(QStringLiteral("zelmo-directory"), {QStringLiteral("--help")});
        QCOMPARE(server.exitCode, 0);
        const QMap<QString, bool> serverOptions = helpOptions(server.out);
        for (const char *option : {"--directory-port", "--pal-port", "--listen", "--notice", "--server", "--max-users",
                                   "--redirect", "--data", "--help", "--version"})
            QVERIFY2(serverOptions.value(QLatin1String(option)), option);
    }

    void mistakesOnTheCommandLineAreAnsweredWithTheUsage()
    {
        const Run unknown = run(QStringLiteral("zelmo"), {QStringLiteral("--no-such-option")});
        QCOMPARE(unknown.exitCode, 2);
        QVERIFY(unknown.err.contains(QStringLiteral("no-such-option")));
        QVERIFY(unknown.err.contains(QStringLiteral("Usage: zelmo")));
        const Run port = run(QStringLiteral("zelmo"), {QStringLiteral("--port"), QStringLiteral("70000")});
        QCOMPARE(port.exitCode, 2);
        QVERIFY(port.err.contains(QStringLiteral("--port wants a port")));
        const Run two = run(QStringLiteral("zelmo"), {QStringLiteral("a.example"), QStringLiteral("b.example")});
        QCOMPARE(two.exitCode, 2);
        const Run nowhere = run(QStringLiteral("zelmo"), {QStringLiteral("--profile"), QStringLiteral("/dev/null/zelmo")});
        QCOMPARE(nowhere.exitCode, 1);
        QVERIFY(nowhere.err.contains(QStringLiteral("cannot create the profile folder /dev/null/zelmo")));
    }

    void startWithoutSoundServerSaysSoOnceInPlainWords()
    {
        QTemporaryDir dir;
        const int port = TestSupport::portBlock();
        QProcess zelmo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        // A sound server that is not there, and the sound system's own warnings let through.
        env.insert(QStringLiteral("PULSE_SERVER"), QStringLiteral("unix:") + dir.filePath(QStringLiteral("none")));
        env.remove(QStringLiteral("QT_LOGGING_RULES"));
        zelmo.setProcessEnvironment(env);
        QString err;
        connect(&zelmo, &QProcess::readyReadStandardError, this,
                [&] { err += QString::fromUtf8(zelmo.readAllStandardError()); });
        zelmo.start(executable(QStringLiteral("zelmo")),
                    {QStringLiteral("--profile"), dir.path(), QStringLiteral("--port"), QString::number(port)});
        // The program listens first; the notice follows once it has asked for its devices.
        QTRY_VERIFY_WITH_TIMEOUT(listening(port), 60000);
        QTRY_VERIFY2_WITH_TIMEOUT(err.contains(QStringLiteral("Calls still work without")), qPrintable(err), 30000);
        zelmo.terminate();
        QVERIFY(zelmo.waitForFinished(30000));
        err += QString::fromUtf8(zelmo.readAllStandardError());
        QCOMPARE(zelmo.exitCode(), 0);

        QCOMPARE(count(err, QStringLiteral("Calls still work without")), 1);
        QVERIFY2(err.contains(QStringLiteral("zelmo: ZELMO found ")), qPrintable(err));
        QVERIFY(err.contains(QStringLiteral("no microphone and no speaker (is the sound server running?)")));
        QVERIFY2(!err.contains(QStringLiteral("PulseAudio")), qPrintable(err));
        const QString logged = QString::fromUtf8(TestSupport::readBytes(dir.filePath(QStringLiteral("zelmo.log"))));
        QCOMPARE(count(logged, QStringLiteral("Calls still work without")), 1);
        QVERIFY(logged.contains(QStringLiteral("you do not hear the other side")));
    }

    void startWithEveryDeviceSaysNothingAboutThem()
    {
        QTemporaryDir dir;
        const int port = TestSupport::portBlock();
        QProcess zelmo;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        zelmo.setProcessEnvironment(env);
        zelmo.start(executable(QStringLiteral("zelmo")), {QStringLiteral("--profile"), dir.path(), QStringLiteral("--port"),
                                                           QString::number(port), QStringLiteral("--test-devices")});
        QTRY_VERIFY2_WITH_TIMEOUT(listening(port), zelmo.readAllStandardError().constData(), 60000);
        zelmo.terminate();
        QVERIFY(zelmo.waitForFinished(30000));
        QCOMPARE(zelmo.exitCode(), 0);
        QVERIFY(!QString::fromUtf8(zelmo.readAllStandardError()).contains(QStringLiteral("Calls still work")));
    }

    void theNoticeNamesWhatIsMissing()
    {
        QCOMPARE(DeviceNotice::text(true, true, true), QString());
        QCOMPARE(DeviceNotice::text(false, true, true),
                 QStringLiteral("ZELMO found no camera: the other side sees no picture of you. Calls still work "
                                "without it."));
        QCOMPARE(DeviceNotice::text(true, false, true),
                 QStringLiteral("ZELMO found no microphone (is the sound server running?): you cannot talk. Calls "
                                "still work without it."));
        QCOMPARE(DeviceNotice::text(false, false, false),
                 QStringLiteral("ZELMO found no camera, no microphone and no speaker (is the sound server running?): "
                                "the other side sees no picture of you, you cannot talk and you do not hear the "
                                "other side. Calls still work without them."));
        QVERIFY(DeviceNotice::isSoundSystemWarning("default", QStringLiteral("PulseAudioService: pa_context_connect() failed")));
        QVERIFY(DeviceNotice::isSoundSystemWarning("qt.multimedia.pulseaudio.output", QStringLiteral("anything")));
        QVERIFY(!DeviceNotice::isSoundSystemWarning("qt.multimedia.gstreamer", QStringLiteral("camera went away")));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
