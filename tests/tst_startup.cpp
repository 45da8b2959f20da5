#include "support/Windows.h"
#include "support/TestMain.h"
#include "core/TerminationSignals.h"

#include <csignal>

namespace {

using TestSupport::listening;

QStringList fileLines(const QString &path)
{
    return QString::fromUtf8(TestSupport::readBytes(path)).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

// A command-line address that stays inside this test's own ports and finds nobody there.
QString quietAddress()
{
    return QStringLiteral("127.0.0.1:%1").arg(TestSupport::portBlock(1));
}

// A program as a user starts it, with its windows and the user of its profile; on the
// given first port, calling the given address.
struct Started : RunningProgram
{
    explicit Started(int port = 0, const QString &callAddress = {}, const QString &profile = {})
        : RunningProgram(QString(), Options{.windows = true, .testDevices = false, .profile = profile,
                                            .callAddress = callAddress, .port = port})
    {
    }
};

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void firstRunWritesEveryFileAtQuit()
    {
        const int base = TestSupport::portBlock();
        Started program(base);
        QVERIFY(program.windowOf<frmSplash>() && program.windowOf<frmSplash>()->isVisible());
        QVERIFY(!program.shell->mainWindow()->isVisible());
        QCOMPARE(program->listenPort(), base);
        QVERIFY(listening(base) && listening(base + 1) && listening(base + 2) && listening(base + 3));
        QVERIFY(program->activityLog().lines().last().endsWith(QStringLiteral(": ZELMO Power Up")));

        QSignalSpy finished(&*program, &Program::finished);
        program.shell->mainWindow()->action(QStringLiteral("Menu_Quit"))->trigger();
        QCOMPARE(finished.count(), 1);
        QVERIFY(!listening(base) && !listening(base + 1) && !listening(base + 2) && !listening(base + 3));

        const QDir dir(program.folder);
        const QStringList ini = fileLines(dir.filePath(QStringLiteral("zelmo.ini")));
        QCOMPARE(ini.filter(QStringLiteral("=")).size(), 29);
        QVERIFY(ini.contains(QStringLiteral("DirWidth= 8400")));
        QVERIFY(ini.contains(QStringLiteral("SelfViewOn=False")));
        QStringList log = fileLines(dir.filePath(QStringLiteral("zelmo.log")));
        // On a machine without a camera or sound device the start-up's notice about it is
        // there too.
        log.removeIf([](const QString &line) { return line.contains(QLatin1String(": ZELMO found no ")); });
        // The first run makes the key for encrypted calls, and says so.
        const qsizetype keyLines = log.removeIf(
            [](const QString &line) { return line.endsWith(QLatin1String(": Made a new key for encrypted calls")); });
        QCOMPARE(keyLines, 1);
        QCOMPARE(log.size(), 2);
        QVERIFY(log[0].endsWith(QStringLiteral(": ZELMO Power Up")));
        QVERIFY(log[1].endsWith(QStringLiteral(": ZELMO Power Down")));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("refuse.dat"))));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("zelmo.pal"))));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("identity.key"))));
    }

    void theMainWindowIsBuiltOnlyOnceTheProgramStarts()
    {
        const auto mainWindows = [] {
            int n = 0;
            for (QWidget *w : QApplication::topLevelWidgets())
                n += qobject_cast<frmMain *>(w) != nullptr;
            return n;
        };
        const int base = TestSupport::portBlock();
        // Its menus and first font load would hold up the moment calls can come in.
        RunningProgram program(QString(), {.windows = true, .testDevices = false, .port = base, .start = false});
        QCOMPARE(mainWindows(), 0);
        program.start();
        QVERIFY(listening(base) && listening(base + 1) && listening(base + 2) && listening(base + 3));
        QCOMPARE(mainWindows(), 1);
        QVERIFY(program.windowOf<frmSplash>() && program.windowOf<frmSplash>()->parentWidget() == program.shell->mainWindow());
        // What the program reports at once goes to its windows, the main window among them.
        program->messageBoxRequested(QStringLiteral("hello"));
        QCOMPARE(program.shell->mainWindow()->findChildren<QMessageBox *>().size(), 1);
    }

    void startupTailRestoresWindowsAndAsksForUserData()
    {
        Started program(TestSupport::portBlock());
        QSignalSpy tail(&*program, &Program::startupTailFinished);
        const int palPort = TestSupport::portBlock(TestSupport::BareServerPortSpan);
        QTcpServer palServer;
        QVERIFY(palServer.listen(QHostAddress::AnyIPv4, quint16(palPort)));
        program->pals().setPalServer(QStringLiteral("127.0.0.1"), palPort);
        // Five one-second ticks would slow the suite; the sequence is what matters here.
        program->parts().startupTimer.start(5);
        QVERIFY(tail.wait(2000));
        QVERIFY(!program->parts().startupTimer.isActive());
        QVERIFY(program.windowOf<frmSplash>() == nullptr);
        QVERIFY(program.shell->mainWindow()->isVisible());
        // RememberWin and SelfViewOn default to true: the self view comes back.
        QVERIFY(program.windowOf<frmSelf>()->isVisible());
        QVERIFY(program.shell->mainWindow()->action(QStringLiteral("Menu_ViewSelf"))->isChecked());
        QVERIFY(program.shell->mainController().optionsWindow()->isVisible());
        // The first tick logged in to the pal server.
        QTRY_VERIFY(palServer.hasPendingConnections() || palServer.nextPendingConnection());
        QCOMPARE(program.windowOf<frmMessage>()->text(),
                 QStringLiteral("Please take a moment to fill in your user information and verify the setup."));
    }

    void takenControlPortMovesAllListenersOnByFour()
    {
        const int base = TestSupport::portBlock();
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::AnyIPv4, quint16(base)));
        Started program(base);
        QCOMPARE(program->listenPort(), base + 4);
        QCOMPARE(program->parts().ipdMedia.localPort(), base + 5);
        QCOMPARE(program->messages().ipdMessage().localPort(), base + 6);
        QCOMPARE(program->chat().ipdText().localPort(), base + 7);
        QVERIFY(program->chat().ipdText().isListening());
        QVERIFY(boxTexts(program.main()).isEmpty());
    }

    void everyBaseTakenReportsTheControlListener()
    {
        const int base = TestSupport::portBlock();
        QTcpServer squatters[4];
        for (int i = 0; i < 4; ++i)
            QVERIFY(squatters[i].listen(QHostAddress::AnyIPv4, quint16(base + 4 * i)));
        Started program(base);
        const QStringList boxes = boxTexts(program.main());
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith(QStringLiteral("Failed to start Listen Daemon 1: 25049 ")));
        QCOMPARE(program->listenPort(), base + 12);
        QVERIFY(program->parts().ipdMedia.isListening());
        QCOMPARE(program->parts().ipdMedia.localPort(), base + 13);
        QCOMPARE(program->messages().ipdMessage().localPort(), base + 14);
        QVERIFY(!program->parts().ipdControl.isListening());
    }

    void commandLineStartShowsTheWindowAndCallsOnTheFirstTick()
    {
        Started program(0, QStringLiteral("127.0.0.1"));
        // The call's state after each media tick.
        QList<ConnectState> ticks;
        connect(&program->parts().mediaTimer, &QTimer::timeout, this, [&] { ticks << program.call().ConnectState; });
        QVERIFY(program.windowOf<frmSplash>() == nullptr);
        QVERIFY(program.shell->mainWindow()->isVisible());
        QVERIFY(program.calls().answersNextCall());
        QVERIFY(!program->parts().startupTimer.isActive());
        QCOMPARE(program.call().ConnectState, ConnectState::NoAttempt);
        // The first media tick places the call, to the address on port 2000.
        QTRY_VERIFY(!ticks.isEmpty());
        QCOMPARE(ticks.first(), ConnectState::Establishing);
        QCOMPARE(program->parts().ippControl.remoteAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(program->parts().ippControl.remotePort(), 2000);
        QVERIFY(program.windowOf<frmConStatus>() && program.windowOf<frmConStatus>()->isVisible());
        QCOMPARE(shown(program.windowOf<frmConStatus>(), "pnlUserName"), QStringLiteral("Unknown"));
        QCOMPARE(shown(program.windowOf<frmConStatus>(), "pnlUserLocation"), QStringLiteral("127.0.0.1"));
        program.calls().cancelAttempt();
        // Only one call; the pal server is not contacted and the tail never runs.
        const qsizetype cancelledAt = ticks.size();
        // The loop goes on ticking, or rests with nothing left to do.
        QTRY_VERIFY(ticks.size() >= cancelledAt + 3 || !program->parts().mediaTimer.isActive());
        QCOMPARE(program.call().ConnectState, ConnectState::Canceled);
        QVERIFY(!program->parts().startupTimer.isActive());
        QVERIFY(program->pals().ippServerPal().remotePort() == 0);
    }

    void closeIsRefusedWhileAConnectionIsBeingEstablished()
    {
        Started program(0, quietAddress());
        program->parts().callStatus.ConnectState = ConnectState::Establishing;
        program.shell->mainWindow()->close();
        QVERIFY(!program->isShutDown());
        QVERIFY(program.shell->mainWindow()->isVisible());
        QCOMPARE(program.windowOf<frmMessage>()->text(),
                 QStringLiteral("You must cancel the connection that is being established before exiting."));
        program->parts().callStatus.ConnectState = ConnectState::Canceled;
        program.shell->mainWindow()->close();
        QVERIFY(program->isShutDown());
    }

    void terminationSignalRunsTheSameShutdown()
    {
        Started program(0, quietAddress());
        TerminationSignals terminations;
        connect(&terminations, &TerminationSignals::received, &*program, &Program::shutdown);
        program->parts().callStatus.ConnectState = ConnectState::Establishing; // a signal is not a user's close: it is never refused
        QSignalSpy finished(&*program, &Program::finished);
        std::raise(SIGTERM);
        QVERIFY(finished.wait(2000));
        QVERIFY(QFile::exists(program.folder + QStringLiteral("/zelmo.ini")));
        QVERIFY(fileLines(program.folder + QStringLiteral("/zelmo.log")).last().endsWith(QStringLiteral("ZELMO Power Down")));
    }

    void settingsOfTheLastRunComeBack()
    {
        QTemporaryDir dir;
        const QString ini = dir.filePath(QStringLiteral("zelmo.ini"));
        TestSupport::writeBytes(ini, "; written by hand\r\n[Personal]\r\nName=Ann\r\nFavourite=blue\r\n[Messaging]\r\n"
                                     "Disable=True\r\n[Windows]\r\nDirWidth=9000\r\nChatFontSize=12\r\n");
        Started program(0, quietAddress(), dir.path());
        QCOMPARE(program.settings().Name, QStringLiteral("Ann"));
        QVERIFY(control(program.shell->mainWindow(), "imgMsgIn")->isHidden());
        QCOMPARE(program.windowOf<frmNewChat>()->txtIn()->font().pointSize(), 12);
        program->shutdown();
        const QStringList lines = fileLines(ini);
        QVERIFY(lines.contains(QStringLiteral("; written by hand")));
        QVERIFY(lines.contains(QStringLiteral("Favourite=blue")));
        QVERIFY(lines.contains(QStringLiteral("DirWidth= 9000")));
        QVERIFY(lines.contains(QStringLiteral("Name=Ann")));
    }

    void twoProgramsRunSideBySide()
    {
        QTemporaryDir a, b;
        Program first({TestSupport::portBlock(), a.path(), quietAddress(), false});
        Program second({TestSupport::portBlock(), b.path(), quietAddress(), false});
        first.start();
        second.start();
        first.logLine(QStringLiteral("only in the first"));
        first.shutdown();
        QVERIFY(second.parts().ipdControl.isListening());
        second.shutdown();
        QVERIFY(fileLines(a.filePath(QStringLiteral("zelmo.log"))).join('\n').contains(QStringLiteral("only in the first")));
        QVERIFY(!fileLines(b.filePath(QStringLiteral("zelmo.log"))).join('\n').contains(QStringLiteral("only in the first")));
    }
};

ZELMO_TEST_MAIN(TestStartup)
#include "tst_startup.moc"
