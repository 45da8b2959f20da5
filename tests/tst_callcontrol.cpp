#include "support/Windows.h"
#include "media/MediaConnection.h"
#include "support/RawClient.h"
#include "support/TestMain.h"
#include "tls/TlsSetup.h"
#include "ui/CallDialog.h"

namespace {

// One program of a scenario, with its windows: a user at a place.
struct Peer : RunningProgram
{
    Peer(const QString &name, const QString &location)
        : RunningProgram(name, Options{.windows = true, .testDevices = false, .location = location})
    {
    }
    ConnectState connectState() { return call().ConnectState; }
    frmCallIn *prompt() { return windowOf<frmCallIn>(); }
    QString promptText() { return shown(prompt(), "lblCallMessage"); }
};

// A call window that counts its bookkeeping.
class CountingCallDialog : public CallDialog
{
public:
    using CallDialog::reopen;
    int closings = 0;

protected:
    void closing() override { ++closings; }
};

} // namespace

class TestCallControl : public QObject
{
    Q_OBJECT

private slots:
    void acceptedCallOpensTheMediaChannelToTheCallee()
    {
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        QSignalSpy media(&ann.program->parts().mediaConnection, &MediaConnection::opening);
        ann.call(bob);
        QCOMPARE(ann.connectState(), ConnectState::Establishing);
        QVERIFY(ann.windowOf<frmConStatus>()->isVisible());
        QCOMPARE(shown(ann.windowOf<frmConStatus>(), "pnlUserLocation"), QStringLiteral("127.0.0.1:%1").arg(bob.port));

        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        QCOMPARE(ann.connectState(), ConnectState::Requesting);
        QCOMPARE(shown(bob.prompt(), "pnlUserName"), QStringLiteral("Ann"));
        QCOMPARE(shown(bob.prompt(), "pnlUserLocation"), QStringLiteral("Oslo"));
        QCOMPARE(bob.promptText(), QStringLiteral("Would you like to accept this call?"));
        QVERIFY(bob.logged(QStringLiteral("Received Call from Ann, Oslo 127.0.0.1, 9:05")));
        QVERIFY(bob.windowOf<frmNewChat>()->conversation().contains(QStringLiteral("Call: Ann, Time in Oslo is 9:05.")));

        click(bob.prompt(), "cmdCallYes");
        QTRY_COMPARE(ann.connectState(), ConnectState::Accepted);
        QCOMPARE(ann.call().PeerName, QStringLiteral("Bob"));
        QVERIFY(ann.logged(QStringLiteral("Call Accepted from Bob, Bergen 127.0.0.1, 9:05")));
        QVERIFY(ann.windowOf<frmNewChat>()->conversation().contains(QStringLiteral("Call: Bob, Time in Bergen is 9:05.")));
        QCOMPARE(media.count(), 1);
        QCOMPARE(media[0][0].toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(media[0][1].toInt(), bob.port + 1);
        // The user-information exchange tells both sides they may chat in real time.
        QTRY_VERIFY(bob.call().PeerIsV25 && ann.call().PeerIsV25);
        QTRY_VERIFY(bob.call().RealTimeChat && ann.call().RealTimeChat);
        QVERIFY(bob.prompt() == nullptr);
        // Once the media channel is up the progress window has done its work.
        QTRY_VERIFY(ann.program->parts().ippClient.isConnected());
        QTRY_VERIFY(ann.windowOf<frmConStatus>() == nullptr);
    }

    void declinedCallEndsTheAttemptWithNo()
    {
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        ann.call(bob);
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        click(bob.prompt(), "cmdCallNo");
        QTRY_COMPARE(ann.connectState(), ConnectState::Refused);
        QVERIFY(ann.logged(QStringLiteral("Call Not Accepted from 127.0.0.1")));
        QVERIFY(!ann.program->parts().ippControl.isConnected());
        frmConStatus *progress = ann.windowOf<frmConStatus>();
        QTRY_COMPARE(shown(progress, "cmdCancel"), QStringLiteral("OK"));
        QCOMPARE(shown(progress, "pnlConStatus"), QStringLiteral("Connection Response is NO"));
        QTRY_COMPARE(shown(progress, "pnlSecond"), QStringLiteral("IDLE"));
        // The callee's side of the closed connection goes too; the answer stays as it was.
        QTRY_VERIFY(bob.program->parts().ipdControl.connectionIds().isEmpty());
        QCOMPARE(ann.connectState(), ConnectState::Refused);
    }

    void secondCallerIsToldBusyAndTheFirstCallGoesOn()
    {
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        Peer cid(QStringLiteral("Cid"), QStringLiteral("Tromso"));
        ann.call(bob);
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        cid.call(bob);
        QTRY_COMPARE(cid.connectState(), ConnectState::Busy);
        QVERIFY(cid.logged(QStringLiteral("User at 127.0.0.1 busy.")));
        QVERIFY(bob.windowOf<frmBusyNotify>()->isVisible());
        QCOMPARE(shown(bob.windowOf<frmBusyNotify>(), "pnlUserName"), QStringLiteral("Cid"));
        QVERIFY(bob.logged(QStringLiteral("Sent busy to :Cid, Tromso 127.0.0.1")));
        // The busy caller does not rename the call on hand.
        QCOMPARE(bob.call().PeerName, QStringLiteral("Ann"));
        click(bob.prompt(), "cmdCallYes");
        QTRY_COMPARE(ann.connectState(), ConnectState::Accepted);
        // The notice goes away by itself.
        bob.windowOf<frmBusyNotify>()->closeTimer()->start(10);
        QTRY_VERIFY(!bob.windowOf<frmBusyNotify>()->isVisible());
    }

    void requestDuringACallIsBusyEvenOnConnectionOne()
    {
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        bob->parts().callStatus.callState = CallState::InCall;
        // Nor does the knock change the way the call on hand is shown to have come.
        QSignalSpy way(bob.program.get(), &Program::callWayChanged);
        RawClient eve(bob.port);
        QVERIFY(eve.send("RQC;Eve;Nowhere;1:00;"));
        QTRY_COMPARE(eve.received, QByteArray("BSY"));
        QVERIFY(bob.prompt() == nullptr);
        QCOMPARE(way.count(), 0);
    }

    void autoAcceptAnswersBeforeThePromptAndClosesItAfterFiveSeconds()
    {
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        bob.settings().AutoAccept = true;
        RawClient ann(bob.port);
        QVERIFY(ann.send("RQC;Ann;Oslo;9:05;"));
        QTRY_COMPARE(ann.received, QByteArray("RRS;YES;Bob;Bergen;9:05;"));
        QVERIFY(bob.prompt()->isVisible());
        QCOMPARE(bob.promptText(), QStringLiteral("Auto Accepting this Call"));
        QVERIFY(control<QPushButton>(bob.prompt(), "cmdCallYes")->isHidden());
        QPointer<frmCallIn> prompt = bob.prompt();
        prompt->tmrCloseMe()->setInterval(5);
        QTRY_VERIFY(prompt.isNull());
        QCOMPARE(ann.received, QByteArray("RRS;YES;Bob;Bergen;9:05;"));
    }

    void autoDeclineCountsDownAndRefusesOnce_data()
    {
        QTest::addColumn<int>("autoDecTime");
        QTest::addColumn<QStringList>("countdown");
        QTest::newRow("5 seconds") << 5 << QStringList{"4", "3", "2", "1"};
        QTest::newRow("20 seconds") << 20 << QStringList{"9", "8", "7", "6", "5", "4", "3", "2", "1"};
    }

    void autoDeclineCountsDownAndRefusesOnce()
    {
        QFETCH(int, autoDecTime);
        QFETCH(QStringList, countdown);
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        bob.settings().AutoDecTime = qint16(autoDecTime);
        RawClient ann(bob.port);
        QVERIFY(ann.send("RQC;Ann;Oslo;9:05;"));
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        QPointer<frmCallIn> prompt = bob.prompt();
        prompt->tmrCloseMe()->stop();
        QStringList seen;
        for (int tick = 1; tick <= autoDecTime && prompt; ++tick) {
            QMetaObject::invokeMethod(prompt->tmrCloseMe(), "timeout", Qt::DirectConnection);
            if (prompt && prompt->isVisible()) {
                const QString text = bob.promptText();
                if (text.startsWith(QStringLiteral("Auto-Declining Call in ")) && !seen.contains(text))
                    seen << text;
            }
        }
        QStringList expected;
        for (const QString &n : countdown)
            expected << QStringLiteral("Auto-Declining Call in %1 Seconds.").arg(n);
        QCOMPARE(seen, expected);
        QTRY_VERIFY(prompt.isNull());
        QTRY_COMPARE(ann.received, QByteArray("RRS;NO;"));
        QVERIFY(bob.logged(QStringLiteral("Auto-Declined call from: Ann, Oslo")));
        // The answer to a later message proves that no second refusal went out before it.
        QVERIFY(ann.send("UIF;2.4;False;"));
        QTRY_COMPARE(ann.received, QByteArray("RRS;NO;UIF;2.5;False;"));
    }

    void cancelWhileConnectingSendsNoRequest()
    {
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        ann.call(bob);
        QCOMPARE(ann.connectState(), ConnectState::Establishing);
        click(ann.windowOf<frmConStatus>(), "cmdCancel");
        QCOMPARE(ann.connectState(), ConnectState::Canceled);
        QTRY_VERIFY(ann.windowOf<frmConStatus>() == nullptr);
        // Whatever reached the callee has gone again, so no request can follow.
        QTRY_VERIFY(bob.program->parts().ipdControl.connectionIds().isEmpty());
        QCOMPARE(ann.connectState(), ConnectState::Canceled);
        QVERIFY(bob.prompt() == nullptr);
        QVERIFY(!bob.logged(QStringLiteral("Received Call from Ann, Oslo 127.0.0.1, 9:05")));
    }

    // With `handshakeBreaks`, the callee's encrypted port takes the connection and drops it
    // in the handshake (as when a flood holds its places), so the call goes on plain.
    void aBareCalleesAnswerDecidesTheAttempt_data()
    {
        QTest::addColumn<bool>("handshakeBreaks");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("outcome");
        QTest::newRow("hangs up without answering: did not answer")
            << false << QByteArray() << int(ConnectState::DidNotAnswer);
        QTest::newRow("refuses, then closes: stays refused") << false << QByteArray("RRS;NO;") << int(ConnectState::Refused);
        QTest::newRow("handshake broken, then the plain way closes without a word: could not connect")
            << true << QByteArray() << int(ConnectState::CouldNotConnect);
        QTest::newRow("handshake broken, then refuses on the plain way: stays refused")
            << true << QByteArray("RRS;NO;") << int(ConnectState::Refused);
    }

    void aBareCalleesAnswerDecidesTheAttempt()
    {
        QFETCH(bool, handshakeBreaks);
        QFETCH(QByteArray, answer);
        QFETCH(int, outcome);
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        QTcpServer callee;
        QVERIFY(callee.listen(QHostAddress::LocalHost, quint16(TestSupport::portBlock())));
        QTcpServer encrypted;
        int hellos = 0;
        if (handshakeBreaks) {
            QVERIFY(encrypted.listen(QHostAddress::LocalHost, quint16(callee.serverPort() + PortPlan::EncryptedOffset)));
            connect(&encrypted, &QTcpServer::newConnection, [&] {
                QTcpSocket *s = encrypted.nextPendingConnection();
                connect(s, &QTcpSocket::readyRead, [&hellos, s] {
                    ++hellos;
                    s->readAll();
                    s->abort();
                });
            });
        }
        QByteArray request;
        connect(&callee, &QTcpServer::newConnection, [&] {
            QTcpSocket *s = callee.nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, [&request, &answer, s] {
                request += s->readAll();
                s->write(answer);
                s->flush();
                s->disconnectFromHost();
            });
        });
        ann.calls().placeCall(QStringLiteral("127.0.0.1:%1").arg(callee.serverPort()), 2000, 0);
        QTRY_COMPARE(int(ann.connectState()), outcome);
        QCOMPARE(request, QByteArray("RQC;Ann;Oslo;9:05;"));
        QCOMPARE(hellos > 0, handshakeBreaks);
        QCOMPARE(ann.program->parts().ippControl.security().fellBack, handshakeBreaks);
        QTRY_VERIFY(!ann.program->parts().ippControl.isConnected());
        QCOMPARE(int(ann.connectState()), outcome);
    }

    // Nobody takes the connection: the caller is told it could not connect, not that the
    // callee did not answer a call it never heard.
    void aCallNobodyTakesCouldNotConnect()
    {
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        const int nobody = TestSupport::portBlock();
        QVERIFY(!TestSupport::listening(nobody));
        ann.calls().placeCall(QStringLiteral("127.0.0.1:%1").arg(nobody), 2000, 0);
        QTRY_COMPARE(ann.connectState(), ConnectState::CouldNotConnect);
        QTRY_COMPARE(shown(ann.windowOf<frmConStatus>(), "pnlConStatus"), QStringLiteral("could not connect"));
    }

    void doNotDisturbRefusesTheConnectionSilently()
    {
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        const int logBefore = bob.log().size();
        control<QAction>(bob.shell->mainWindow(), "menu_DoNotDisturb")->trigger();
        QVERIFY(bob.calls().doNotDisturb());
        QCOMPARE(control(bob.shell->mainWindow(), "imgDoNotDisturb")->property("picture"),
                 QVariant(QStringLiteral("imgDNDOn")));
        ann.call(bob);
        QTRY_COMPARE(ann.connectState(), ConnectState::DidNotAnswer);
        QTRY_COMPARE(shown(ann.windowOf<frmConStatus>(), "pnlConStatus"), QStringLiteral("Did Not Answer"));
        QCOMPARE(bob.log().size(), logBefore);
        QVERIFY(bob.prompt() == nullptr);
    }

    void theAddressTypedDecidesWhetherACallStarts_data()
    {
        const QString invalid = QStringLiteral("You have entered an invalid Host Address: ");
        QTest::addColumn<QString>("address");
        QTest::addColumn<int>("state");
        QTest::addColumn<QString>("message");
        QTest::newRow("unknown host") << "no-such-host.invalid" << int(ConnectState::Canceled) << invalid;
        QTest::newRow("port beyond 65535") << "127.0.0.1:70000" << int(ConnectState::Canceled) << QString();
        QTest::newRow("no room for the media and chat ports") << "127.0.0.1:65533" << int(ConnectState::Canceled) << invalid;
        QTest::newRow("the last port with room") << "127.0.0.1:65532" << int(ConnectState::Establishing) << QString();
        QTest::newRow("blank") << "   " << int(ConnectState::NoAttempt)
                               << "Select a user on the list or enter an E-Mail or IP Address to place a call.";
        // Without the directory server an e-mail address cannot be looked up: nothing happens.
        QTest::newRow("e-mail without a directory") << "bob@example.org" << int(ConnectState::NoAttempt) << QString();
    }

    void theAddressTypedDecidesWhetherACallStarts()
    {
        QFETCH(QString, address);
        QFETCH(int, state);
        QFETCH(QString, message);
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        ann.calls().placeCall(address, 2000, 0);
        QCOMPARE(int(ann.connectState()), state);
        // The invalid-address message goes on with the address.
        if (!message.isEmpty()) {
            const QString text = ann.windowOf<frmMessage>()->text();
            QVERIFY2(message.endsWith(QStringLiteral(": ")) ? text.startsWith(message) : text == message, qPrintable(text));
        }
        ann.calls().cancelAttempt();
    }

    void hostileRequestsGetNoAnswer()
    {
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        for (const QByteArray &text : {QByteArray("RQC;Ann;Oslo;"), QByteArray("RQC;A;nn;Oslo;9:05;"),
                                       QByteArray("KEY;1;"), QByteArray("FST"), QByteArray(100000, ';'),
                                       QByteArray("\xff\xfe\x00RQC", 6)}) {
            qsizetype taken = 0;
            const QMetaObject::Connection counter =
                connect(&bob.program->parts().ipdControl, &IPDaemon::dataIn,
                        [&taken](int, const QByteArray &piece, bool) { taken += piece.size(); });
            RawClient eve(bob.port);
            QVERIFY(eve.send(text));
            // Each piece of data is one control message: the later message goes out only once
            // this one has been taken in, so that the two never arrive as one.
            QTRY_COMPARE(taken, text.size());
            disconnect(counter);
            // The answer to the later message proves that nothing came back for this one.
            QVERIFY(eve.send("UIF;2.4;False;"));
            QTRY_VERIFY(!eve.received.isEmpty());
            QCOMPARE(eve.received, QByteArray("UIF;2.5;False;"));
            eve.socket.disconnectFromHost();
            QTRY_VERIFY(bob.program->parts().ipdControl.connectionIds().isEmpty());
        }
        QVERIFY(bob.prompt() == nullptr);
        // An older version's user information changes nothing and still gets our reply.
        RawClient old(bob.port);
        QVERIFY(old.send("UIF;2.4;True;"));
        QTRY_COMPARE(old.received, QByteArray("UIF;2.5;False;"));
        QVERIFY(!bob.call().PeerIsV25);
    }

    void controlCharactersInAPeersNameNeverReachTheLog()
    {
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        RawClient eve(bob.port);
        QVERIFY(eve.send("RQC;Eve\x1b[2J\x07;Os\tlo\xc2\x85\xe2\x80\xae;9:05\x08\x08;"));
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        QVERIFY(bob.logged(QStringLiteral("Received Call from Eve [2J , Os lo   127.0.0.1, 9:05  ")));
        QCOMPARE(shown(bob.prompt(), "pnlUserName"), QStringLiteral("Eve [2J "));

        // What the log file gets holds no control byte but the line ends.
        const QString path = bob.dir.filePath(QStringLiteral("check.log"));
        QVERIFY(!bob.program->activityLog().save(path));
        const QByteArray file = TestSupport::readBytes(path);
        QVERIFY(file.contains("Eve [2J , Os lo "));
        for (const char c : file)
            QVERIFY2(uchar(c) >= 0x20 || c == '\r' || c == '\n', qPrintable(QString::number(uchar(c))));
    }

    void silentConnectionsDoNotBlockARealCaller()
    {
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        bob.calls().setDeadlines(300, 300, 300);
        std::vector<std::unique_ptr<QTcpSocket>> flood;
        for (int i = 0; i < 12; ++i) {
            flood.push_back(std::make_unique<QTcpSocket>());
            flood.back()->connectToHost(QHostAddress::LocalHost, quint16(bob.port));
        }
        // One address holds no more than its share of the places.
        QTRY_COMPARE(bob.program->parts().ipdControl.connectionIds().size(), int(CallControl::MaxControlPerSource));
        // The silent ones are dropped after a while; then a real caller is offered.
        QTRY_COMPARE(bob.program->parts().ipdControl.connectionIds().size(), 0);
        ann.call(bob);
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
    }

    void commandLineStartAcceptsTheNextCallOnce()
    {
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        bob.calls().setAnswerNextCall(true);
        {
            RawClient ann(bob.port);
            QVERIFY(ann.send("RQC;Ann;Oslo;9:05;"));
            QTRY_COMPARE(ann.received, QByteArray("RRS;YES;Bob;Bergen;9:05;"));
            QPointer<frmCallIn> prompt = bob.prompt();
            prompt->tmrCloseMe()->setInterval(5);
            QTRY_VERIFY(prompt.isNull());
        }
        QVERIFY(!bob.calls().answersNextCall());
        QTRY_COMPARE(bob.program->parts().ipdControl.connectionIds().size(), 0);
        RawClient cid(bob.port);
        QVERIFY(cid.send("RQC;Cid;Tromso;9:06;"));
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        QCOMPARE(bob.promptText(), QStringLiteral("Would you like to accept this call?"));
        QCOMPARE(cid.received, QByteArray());
    }

    void callButtonChecksTheUserData()
    {
        Peer ann(QStringLiteral("An"), QStringLiteral("Oslo"));
        emit ann.shell->mainWindow()->toolbarClicked(0);
        QCOMPARE(ann.windowOf<frmMessage>()->text(),
                 QStringLiteral("You must enter a name of at least 3 Characters in length.  "));
        QVERIFY(!ann.windowOf<frmDirectory>()->isVisible());
    }

    void aPromptLeftOpenDoesNotAnswerTheNextHolderOfConnectionOne()
    {
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        auto ann = std::make_unique<RawClient>(bob.port);
        QVERIFY(ann->send("RQC;Ann;Oslo;9:05;"));
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        QPointer<frmCallIn> prompt = bob.prompt();
        ann.reset(); // Ann gives up; the prompt stays
        QTRY_VERIFY(bob.program->parts().ipdControl.connectionIds().isEmpty());
        RawClient eve(bob.port);
        QVERIFY(eve.socket.waitForConnected(3000));
        QTRY_COMPARE(bob.program->parts().ipdControl.connectionIds(), QList<int>{1});
        click(prompt, "cmdCallYes");
        QTRY_VERIFY(prompt.isNull());
        QVERIFY(eve.send("UIF;2.5;True;"));
        QTRY_VERIFY(!eve.received.isEmpty());
        // Eve hears only the reply to her own message: no acceptance meant for Ann.
        QCOMPARE(eve.received, QByteArray("UIF;2.5;True;"));
        QVERIFY(!bob.call().callAcceptedOnControl);
    }

    void answeredCallersThatStaySilentAreLetGo()
    {
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        bob.calls().setDeadlines(10000, 200, 200);
        RawClient ann(bob.port);
        QVERIFY(ann.send("RQC;Ann;Oslo;9:05;"));
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        click(bob.prompt(), "cmdCallNo");
        QTRY_COMPARE(ann.received, QByteArray("RRS;NO;"));
        // Ann never hangs up; connection 1 is freed for the next caller all the same.
        QTRY_COMPARE(ann.socket.state(), QAbstractSocket::UnconnectedState);
        QTRY_VERIFY(bob.program->parts().ipdControl.connectionIds().isEmpty());
    }

    void escapeClosesDialogsWithTheirBookkeeping()
    {
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        bob.calls().setAnswerNextCall(true);
        ann.call(bob);
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        QPointer<frmCallIn> prompt = bob.prompt();
        control<QCheckBox>(prompt, "chkAutoAccept")->setChecked(true);
        QTest::keyClick(prompt, Qt::Key_Escape);
        QTRY_VERIFY(prompt.isNull());
        QVERIFY(bob.settings().AutoAccept);
        QVERIFY(!bob.calls().answersNextCall());

        Peer cid(QStringLiteral("Cid"), QStringLiteral("Tromso"));
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, quint16(TestSupport::portBlock(1))));
        cid.calls().placeCall(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), 2000, 0);
        QTRY_COMPARE(cid.connectState(), ConnectState::Requesting);
        QPointer<frmConStatus> progress = cid.windowOf<frmConStatus>();
        QTest::keyClick(progress, Qt::Key_Escape);
        QTRY_VERIFY(progress.isNull());
        // The attempt is given up, so quitting is allowed again.
        QCOMPARE(cid.connectState(), ConnectState::Canceled);
        QVERIFY(!cid.program->parts().ippControl.isConnected());
    }

    // The close box runs the dialog's own reject on its way: the bookkeeping still runs
    // once per showing, and a window shown again closes anew.
    void aCallWindowDoesItsBookkeepingOncePerShowing()
    {
        CountingCallDialog dialog;
        QSignalSpy closed(&dialog, &CallDialog::closed);
        dialog.show();
        QVERIFY(dialog.close());
        dialog.close();
        QCOMPARE(dialog.closings, 1);
        QCOMPARE(closed.count(), 1);
        dialog.reopen();
        dialog.show();
        QVERIFY(dialog.close());
        QCOMPARE(dialog.closings, 2);
        QCOMPARE(closed.count(), 2);
    }

    void aNewCallReplacesTheAttemptOnHand()
    {
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        QTcpServer silent;
        QVERIFY(silent.listen(QHostAddress::LocalHost, quint16(TestSupport::portBlock(1))));
        ann.calls().placeCall(QStringLiteral("127.0.0.1:%1").arg(silent.serverPort()), 2000, 0);
        QTRY_COMPARE(ann.connectState(), ConnectState::Requesting);
        ann.call(bob);
        // Closing the first attempt's connection does not turn the new one into "no answer".
        QCOMPARE(ann.connectState(), ConnectState::Establishing);
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        QCOMPARE(ann.connectState(), ConnectState::Requesting);
    }

    void aCallToOneselfIsOfferedWhileCallingOut()
    {
        // Calling one's own address: the request comes from the address the outgoing
        // control connection uses, which the busy rule lets through.
        Peer ann(QStringLiteral("Ann"), QStringLiteral("Oslo"));
        ann.call(ann);
        QTRY_VERIFY(ann.prompt() && ann.prompt()->isVisible());
        QCOMPARE(ann.windowOf<frmBusyNotify>()->isVisible(), false);
    }
};

ZELMO_TEST_MAIN(TestCallControl)
#include "tst_callcontrol.moc"
