#include "chat/ChatSession.h"
#include "core/ActivityLog.h"
#include "core/IPDaemon.h"
#include "core/TerminationSignals.h"
#include "support/TestSupport.h"
#include "ui/Program.h"
#include "ui/frmMain.h"
#include "ui/frmMessage.h"
#include "ui/frmNewChat.h"
#include "ui/frmOptions.h"
#include "ui/frmSelf.h"
#include "ui/frmSplash.h"
#include "call/CallControl.h"
#include "ui/frmConStatus.h"
#include "core/IPPort.h"
#include "directory/DirectoryService.h"
#include "messages/MessageService.h"

#include <QAction>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QPlainTextEdit>
#include <QTest>
#include <QTimer>
#include <csignal>

namespace {

QStringList fileLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(f.readAll()).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
}

QStringList messageBoxTexts(const Program &program)
{
    QStringList texts;
    for (const QMessageBox *box : program.mainWindow()->findChildren<QMessageBox *>())
        texts << box->text();
    return texts;
}

// A command-line address that stays inside this test's own ports and finds nobody there.
QString quietAddress()
{
    return QStringLiteral("127.0.0.1:%1").arg(TestSupport::portBlock(1));
}

bool listening(int port)
{
    QTcpServer probe;
    return !probe.listen(QHostAddress::AnyIPv4, quint16(port));
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void firstRunWritesEveryFileAtQuit()
    {
        QTemporaryDir dir;
        const int base = TestSupport::portBlock();
        Program program({base, dir.path(), {}, false});
        program.start();
        QVERIFY(program.splash() && program.splash()->isVisible());
        QVERIFY(!program.mainWindow()->isVisible());
        QCOMPARE(program.state().ListenPortBase, base);
        QVERIFY(listening(base) && listening(base + 1) && listening(base + 2) && listening(base + 3));
        QVERIFY(program.activityLog().lines().last().endsWith(QStringLiteral(": ZELMO Power Up")));

        QSignalSpy finished(&program, &Program::finished);
        program.mainWindow()->action(QStringLiteral("Menu_Quit"))->trigger();
        QCOMPARE(finished.count(), 1);
        QVERIFY(!listening(base) && !listening(base + 1) && !listening(base + 2) && !listening(base + 3));

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

    void startupTailRestoresWindowsAndAsksForUserData()
    {
        QTemporaryDir dir;
        Program program({TestSupport::portBlock(), dir.path(), {}, false});
        QSignalSpy tail(&program, &Program::startupTailFinished);
        program.start();
        const int palPort = TestSupport::portBlock(1);
        QTcpServer palServer;
        QVERIFY(palServer.listen(QHostAddress::AnyIPv4, quint16(palPort)));
        program.directory().setPalServer(QStringLiteral("127.0.0.1"), palPort);
        // Five one-second ticks would slow the suite; the sequence is what matters here.
        program.mainWindow()->tmrSecond()->start(5);
        QVERIFY(tail.wait(2000));
        QVERIFY(!program.mainWindow()->tmrSecond()->isActive());
        QVERIFY(program.splash() == nullptr);
        QVERIFY(program.mainWindow()->isVisible());
        // RememberWin and SelfViewOn default to true: the self view comes back.
        QVERIFY(program.selfView()->isVisible());
        QVERIFY(program.mainWindow()->action(QStringLiteral("Menu_ViewSelf"))->isChecked());
        QVERIFY(program.optionsWindow()->isVisible());
        // The first tick logged in to the pal server.
        QTRY_VERIFY(palServer.hasPendingConnections() || palServer.nextPendingConnection());
        QCOMPARE(program.messageWindow()->text(),
                 QStringLiteral("Please take a moment to fill in your user information and verify the setup."));
    }

    void takenControlPortMovesAllListenersOnByFour()
    {
        QTemporaryDir dir;
        const int base = TestSupport::portBlock();
        QTcpServer squatter;
        QVERIFY(squatter.listen(QHostAddress::AnyIPv4, quint16(base)));
        Program program({base, dir.path(), {}, false});
        program.start();
        QCOMPARE(program.state().ListenPortBase, base + 4);
        QCOMPARE(program.ipdMedia().localPort(), base + 5);
        QCOMPARE(program.messages().ipdMessage().localPort(), base + 6);
        QCOMPARE(program.chat().ipdText().localPort(), base + 7);
        QVERIFY(program.chat().ipdText().isListening());
        QVERIFY(messageBoxTexts(program).isEmpty());
    }

    void everyBaseTakenReportsTheControlListener()
    {
        QTemporaryDir dir;
        const int base = TestSupport::portBlock();
        QTcpServer squatters[4];
        for (int i = 0; i < 4; ++i)
            QVERIFY(squatters[i].listen(QHostAddress::AnyIPv4, quint16(base + 4 * i)));
        Program program({base, dir.path(), {}, false});
        program.start();
        const QStringList boxes = messageBoxTexts(program);
        QCOMPARE(boxes.size(), 1);
        QVERIFY(boxes[0].startsWith(QStringLiteral("Failed to start Listen Daemon 1: 25049 ")));
        QCOMPARE(program.state().ListenPortBase, base + 12);
        QVERIFY(program.ipdMedia().isListening());
        QCOMPARE(program.ipdMedia().localPort(), base + 13);
        QCOMPARE(program.messages().ipdMessage().localPort(), base + 14);
        QVERIFY(!program.ipdControl().isListening());
    }

    void commandLineStartShowsTheWindowAndCallsOnTheFirstTick()
    {
        QTemporaryDir dir;
        Program program({TestSupport::portBlock(), dir.path(), QStringLiteral("127.0.0.1"), false});
        program.start();
        QVERIFY(program.splash() == nullptr);
        QVERIFY(program.mainWindow()->isVisible());
        QVERIFY(program.state().AutoAnswerOnce);
        QVERIFY(!program.mainWindow()->tmrSecond()->isActive());
        QCOMPARE(program.state().PendingCallAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(program.state().ConnectState, ConnectState::NoAttempt);
        // The first main-timer tick places the call, to the address on port 2000.
        QTRY_VERIFY(program.state().ConnectState != ConnectState::NoAttempt);
        QVERIFY(program.state().PendingCallAddress.isEmpty());
        QCOMPARE(program.ippControl().remoteAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(program.ippControl().remotePort(), 2000);
        QVERIFY(program.progressWindow() && program.progressWindow()->isVisible());
        QCOMPARE(program.progressWindow()->findChild<QLabel *>(QStringLiteral("pnlUserName"))->text(),
                 QStringLiteral("Unknown"));
        QCOMPARE(program.progressWindow()->findChild<QLabel *>(QStringLiteral("pnlUserLocation"))->text(),
                 QStringLiteral("127.0.0.1"));
        program.calls().cancelAttempt();
        // Only one call; the pal server is not contacted and the tail never runs.
        QVERIFY(program.state().PendingCallAddress.isEmpty());
        QCOMPARE(program.state().ConnectState, ConnectState::Canceled);
        QCOMPARE(program.state().StartupTicks, 0);
        QVERIFY(program.directory().ippServerPal().remotePort() == 0);
    }

    void closeIsRefusedWhileAConnectionIsBeingEstablished()
    {
        QTemporaryDir dir;
        Program program({TestSupport::portBlock(), dir.path(), quietAddress(), false});
        program.start();
        program.state().ConnectState = ConnectState::Establishing;
        program.mainWindow()->close();
        QVERIFY(!program.isShutDown());
        QVERIFY(program.mainWindow()->isVisible());
        QCOMPARE(program.messageWindow()->text(),
                 QStringLiteral("You must cancel the connection that is being established before exiting."));
        program.state().ConnectState = ConnectState::Canceled;
        program.mainWindow()->close();
        QVERIFY(program.isShutDown());
    }

    void terminationSignalRunsTheSameShutdown()
    {
        QTemporaryDir dir;
        Program program({TestSupport::portBlock(), dir.path(), quietAddress(), false});
        TerminationSignals terminations;
        connect(&terminations, &TerminationSignals::received, &program, &Program::shutdown);
        program.start();
        program.state().ConnectState = ConnectState::Establishing; // a signal is not a user's close: it is never refused
        QSignalSpy finished(&program, &Program::finished);
        std::raise(SIGTERM);
        QVERIFY(finished.wait(2000));
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("zelmo.ini"))));
        QVERIFY(fileLines(dir.filePath(QStringLiteral("zelmo.log"))).last().endsWith(QStringLiteral("ZELMO Power Down")));
    }

    void settingsOfTheLastRunComeBack()
    {
        QTemporaryDir dir;
        QFile ini(dir.filePath(QStringLiteral("zelmo.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("; written by hand\r\n[Personal]\r\nName=Ann\r\nFavourite=blue\r\n[Messaging]\r\nDisable=True\r\n"
                  "[Windows]\r\nDirWidth=9000\r\nChatFontSize=12\r\n");
        ini.close();
        Program program({TestSupport::portBlock(), dir.path(), quietAddress(), false});
        program.start();
        QCOMPARE(program.settings().Name, QStringLiteral("Ann"));
        QVERIFY(program.mainWindow()->findChild<QWidget *>(QStringLiteral("imgMsgIn"))->isHidden());
        QCOMPARE(program.chatWindow()->txtIn()->font().pointSize(), 12);
        program.shutdown();
        const QStringList lines = fileLines(ini.fileName());
        QVERIFY(lines.contains(QStringLiteral("; written by hand")));
        QVERIFY(lines.contains(QStringLiteral("Favourite=blue")));
        QVERIFY(lines.contains(QStringLiteral("DirWidth= 9000")));
        QVERIFY(lines.contains(QStringLiteral("Name=Ann")));
    }

    void twoProgramsRunSideBySide()
    {
        QTemporaryDir a, b;
        const int portA = TestSupport::portBlock();
        const int portB = TestSupport::portBlock();
        Program first({portA, a.path(), quietAddress(), false});
        Program second({portB, b.path(), quietAddress(), false});
        first.start();
        second.start();
        first.logLine(QStringLiteral("only in the first"));
        first.shutdown();
        QVERIFY(second.ipdControl().isListening());
        second.shutdown();
        QVERIFY(fileLines(a.filePath(QStringLiteral("zelmo.log"))).join('\n').contains(QStringLiteral("only in the first")));
        QVERIFY(!fileLines(b.filePath(QStringLiteral("zelmo.log"))).join('\n').contains(QStringLiteral("only in the first")));
    }
};

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
