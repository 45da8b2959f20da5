// Two programs and the companion server on loopback: logging in, the user list, e-mail
// lookups, redirects, a full server, and the pal cycle.

#include "core/OptionsLogic.h"
#include "reach/ReachabilityCheck.h"
#include "support/DirectoryKit.h"

#include <QHeaderView>
#include <QSignalSpy>

using namespace DirectoryKit;
namespace Proto = DirectoryProtocol;

namespace {

QStringList names(QTreeWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(0);
    return out;
}

QByteArray yesNo(bool value)
{
    return value ? "YES" : "NO";
}

} // namespace

class TestDirectory : public QObject
{
    Q_OBJECT

private slots:
    void loginTextsAndTheUserNumberStore()
    {
        RawServer directory;
        RawServer pal;
        QTemporaryDir profile;
        {
            User ann(QStringLiteral("Ann"), directory.port(), pal.port(), profile.path());
            ann.settings().Comment = QStringLiteral("Hi");
            ann.openDirectory();
            // No user number yet: the pal server is asked for one first, on the first
            // connection, with nothing but the published texts on either port.
            QTRY_COMPARE(pal.received, QByteArray("RSN;<ET>"));
            QCOMPARE(pal.tlsHellos, 0);
            QCOMPARE(pal.connections, 1);
            // Well under the wait for a server that does not answer TLS (seconds), with room
            // for a busy machine.
            qInfo("the pal login came %lld ms after the first connection", pal.firstBytesAfterMs);
            QVERIFY2(pal.firstBytesAfterMs < 1000, qPrintable(QString::number(pal.firstBytesAfterMs)));
            const QByteArray tail = ";2.51;YES;NO;v1.2;" + QByteArray::number(ann.port) + ";<ET>";
            QTRY_COMPARE(directory.received, "LGN;-1;Ann;ann@example.org;Room Ann;Hi;0;"
                                                 + yesNo(ann->capture().isReady()) + ';'
                                                 + yesNo(ann->audioControl().hasAudio()) + tail + "INT<ET>");
            QCOMPARE(ann.settings().EMail, QStringLiteral("ann@example.org"));
            QCOMPARE(directory.tlsHellos, 0);
            directory.received.clear();
            // The last number of the servers' range is a number like any other.
            pal.send("NSN;1000000;<ET>");
            QTRY_COMPARE(pal.received, "RSN;<ET>LGN; 1000000;Ann;ann@example.org;Room Ann;Hi;3;NO;NO;2.51;NO;NO;v1.2;"
                                           + QByteArray::number(ann.port) + ";<ET>");
            // The directory entry made before the number came is brought up to date.
            QTRY_VERIFY(directory.received.startsWith("LGN; 1000000;Ann;"));
            QCOMPARE(ann->pals().userNumber(), 1000000);
            QCOMPARE(TestSupport::readBytes(profile.filePath(QStringLiteral("zelmo.num"))), QByteArray("1000000\r\n"));
        }
        // The next run logs in to the pal server at once with the stored number.
        pal.received.clear();
        User again(QStringLiteral("Ann"), directory.port(), pal.port(), profile.path());
        QCOMPARE(again->pals().userNumber(), 1000000);
        again.pals().connectPalServer();
        QTRY_VERIFY(pal.received.startsWith("LGN; 1000000;Ann;"));
    }

    void usersSeeEachOtherInTheList()
    {
        ServerConfig config;
        config.notice = QStringLiteral("Welcome to the test directory");
        // Six logins from one address: the log keeps every one, whichever port's comes first.
        config.verbose = true;
        Server server(config);
        User ann(QStringLiteral("Ann"), server.directoryPort(), server.palPort(), {}, 11);
        User bob(QStringLiteral("Bob"), server.directoryPort(), server.palPort(), {}, 12);
        bob.settings().Comment = QStringLiteral("Try me");
        ann.settings().Comment = QStringLiteral("Zebra");
        ann.openDirectory();
        QTRY_COMPARE(ann.window()->panelText(2), QStringLiteral("Select User for Connection"));
        QCOMPARE(ann.windowOf<frmMessage>()->text(), QStringLiteral("Welcome to the test directory"));
        bob.openDirectory();
        QTRY_COMPARE(bob.window()->panelText(2), QStringLiteral("Select User for Connection"));

        auto *list = ann.find<QTreeWidget>("lstGlobal");
        ann.find<QPushButton>("cmdRefresh")->click();
        QCOMPARE(ann.window()->panelText(2), QStringLiteral("Refreshing Directory List"));
        QTRY_COMPARE(list->topLevelItemCount(), 2);
        QCOMPARE(names(list), (QStringList{QStringLiteral("Ann"), QStringLiteral("Bob")}));
        QCOMPARE(list->topLevelItem(1)->text(1), QStringLiteral("Room Bob"));
        QCOMPARE(list->topLevelItem(1)->text(2), QStringLiteral("Try me"));
        QCOMPARE(list->topLevelItem(0)->text(2), QStringLiteral("Zebra"));
        QCOMPARE(list->topLevelItem(1)->data(0, Qt::UserRole).toString(), QStringLiteral("A0002"));
        QVERIFY(!list->topLevelItem(1)->icon(0).isNull());
        QCOMPARE(ann.window()->panelText(3), QStringLiteral("2 Users Online"));
        QCOMPARE(ann.window()->panelText(4), QStringLiteral("2 Users Listed"));
        QVERIFY(list->selectedItems().isEmpty());
        const Proto::UserEntry *b = ann.directory().entry(2);
        QCOMPARE(b->UserNumber, 12);
        QCOMPARE(b->Address, QStringLiteral("127.0.0.1"));
        QCOMPARE(b->Port, bob.port);
        QCOMPARE(DirectoryService::iconNumber(*b), bob->audioControl().hasAudio() ? 5 : 7);

        // A click on the comment column sorts by comment; the keys stay with their users.
        list->header()->sectionClicked(2);
        QCOMPARE(names(list), (QStringList{QStringLiteral("Bob"), QStringLiteral("Ann")}));
        QCOMPARE(list->topLevelItem(0)->data(0, Qt::UserRole).toString(), QStringLiteral("A0002"));

        // A user who leaves is gone from the next list; one who does not want to be
        // listed is counted but not shown.
        bob.settings().ShowOnList = false;
        emit bob->optionsLogic().loginChanged();
        QTRY_COMPARE(server.logged(QStringLiteral("login again directory")), 1);
        ann.find<QPushButton>("cmdRefresh")->click();
        QTRY_COMPARE(ann.window()->panelText(4), QStringLiteral("1 Users Listed"));
        QCOMPARE(ann.window()->panelText(3), QStringLiteral("2 Users Online"));
        QCOMPARE(names(list), QStringList{QStringLiteral("Ann")});
    }

    void callingByEmailLooksTheAddressUp()
    {
        // The server logs each lookup: what this scenario watches for.
        ServerConfig verbose;
        verbose.verbose = true;
        Server server(verbose);
        User ann(QStringLiteral("Ann"), server.directoryPort(), server.palPort(), {}, 21);
        User bob(QStringLiteral("Bob"), server.directoryPort(), server.palPort(), {}, 22);
        // Bob is on line at the pal server only; the directory finds him all the same.
        bob.pals().connectPalServer();
        QTRY_COMPARE(server.logged(QStringLiteral("login pal")), 1);
        ann.openDirectory();
        QTRY_VERIFY(ann.directory().ippServer().isConnected());

        auto *txtConnect = ann.find<QLineEdit>("txtConnect");
        txtConnect->setFocus();
        QTest::keyClicks(txtConnect, QStringLiteral(" Bob@example.org"));
        QCOMPARE(ann.find<QLineEdit>("txtConnectID")->text(), QStringLiteral(" Bob@example.org"));
        QTest::keyClick(txtConnect, Qt::Key_Return);
        QCOMPARE(ann.call().ConnectState, ConnectState::LookingUpEmail);
        // The answer calls Bob on his own port, and the progress window names him.
        QTRY_VERIFY(bob.windowOf<frmCallIn>() && bob.windowOf<frmCallIn>()->isVisible());
        auto *progress = ann.windowOf<frmConStatus>();
        QCOMPARE(progress->findChild<QLabel *>(QStringLiteral("pnlUserName"))->text(), QStringLiteral("Bob"));
        QCOMPARE(progress->findChild<QLabel *>(QStringLiteral("pnlUserLocation"))->text(),
                 QStringLiteral("Room Bob"));
        QCOMPARE(ann.program->parts().ippControl.remotePort(), bob.port);
        ann.program->calls().cancelAttempt();

        // Nobody on line with that address: no call, "Email address not found".
        ann.program->calls().placeCall(QStringLiteral("carol@example.org"), 2000, 0);
        QTRY_COMPARE(ann.call().ConnectState, ConnectState::EmailNotFound);
        QCOMPARE(progress->findChild<QLabel *>(QStringLiteral("pnlUserName"))->text(),
                 QStringLiteral("carol@example.org"));
        QTRY_COMPARE(server.logged(QStringLiteral("lookup <carol@example.org>: not on line")), 1);

        // An answer nobody asked for (the attempt was given up) places no call.
        ann.program->calls().cancelAttempt();
        ann.directory().ippServer().sendData("GEM;bob@example.org;<ET>");
        // The list asked for after it comes back after the answer.
        ann.directory().refresh();
        QCOMPARE(ann.window()->panelText(2), QStringLiteral("Refreshing Directory List"));
        QTRY_COMPARE(ann.window()->panelText(2), QStringLiteral("Select User for Connection"));
        QCOMPARE(ann.call().ConnectState, ConnectState::Canceled);

        // With the directory closed an e-mail address does nothing at all.
        ann.directory().ippServer().setConnected(false);
        ann.program->calls().placeCall(QStringLiteral("bob@example.org"), 2000, 0);
        QCOMPARE(ann.call().ConnectState, ConnectState::Canceled);
    }

    void aFullServerRedirectsOrTurnsAway()
    {
        Server second;
        ServerConfig config;
        config.maxUsers = 1;
        config.redirect = Proto::ServerEntry{QStringLiteral("127.0.0.1"), second.directoryPort(), QStringLiteral("Second")};
        Server full(config);

        User ann(QStringLiteral("Ann"), full.directoryPort(), full.palPort(), {}, 31);
        User bob(QStringLiteral("Bob"), full.directoryPort(), full.palPort(), {}, 32);
        ann.openDirectory();
        QTRY_COMPARE(full.logged(QStringLiteral("login directory")), 1);
        bob.openDirectory();
        QTRY_VERIFY(bob.window()->findChild<frmRedirect *>());
        auto *prompt = bob.window()->findChild<frmRedirect *>();
        const QString target = QStringLiteral("127.0.0.1:%1").arg(second.directoryPort());
        QCOMPARE(prompt->findChild<QLabel *>(QStringLiteral("pnlAddress"))->text(), target);
        QCOMPARE(prompt->findChild<QLabel *>(QStringLiteral("pnlDesc"))->text(), QStringLiteral("Second"));

        // The answer under the pointer reads bold.
        auto *yes = prompt->findChild<QPushButton *>(QStringLiteral("cmdYes"));
        QEvent enter(QEvent::Enter), leave(QEvent::Leave);
        QApplication::sendEvent(yes, &enter);
        QVERIFY(yes->font().bold());
        QApplication::sendEvent(yes, &leave);
        QVERIFY(!yes->font().bold());

        // Declined: the settings stay.
        prompt->findChild<QPushButton *>(QStringLiteral("cmdNo"))->click();
        QTRY_VERIFY(!bob.window()->findChild<frmRedirect *>());
        QCOMPARE(int(quint16(bob.settings().DirPort)), full.directoryPort());

        // Accepted: the next server, in the settings and in the box.
        bob.directory().reconnectDirectory();
        QTRY_VERIFY(bob.window()->findChild<frmRedirect *>());
        bob.window()->findChild<frmRedirect *>()->findChild<QPushButton *>(QStringLiteral("cmdYes"))->click();
        QCOMPARE(int(quint16(bob.settings().DirPort)), second.directoryPort());
        QCOMPARE(bob.find<QComboBox>("cboDirectory")->currentText(), target);
        QTRY_COMPARE(second.logged(QStringLiteral("login directory")), 1);
        QTRY_COMPARE(bob.window()->panelText(2), QStringLiteral("Select User for Connection"));

        // Without a redirect target a full server says so and the address is forgotten.
        ServerConfig small;
        small.maxUsers = 1;
        Server busy(small);
        User carol(QStringLiteral("Carol"), busy.directoryPort(), busy.palPort(), {}, 33);
        User dave(QStringLiteral("Dave"), busy.directoryPort(), busy.palPort(), {}, 34);
        carol.openDirectory();
        QTRY_COMPARE(busy.logged(QStringLiteral("login directory")), 1);
        dave.openDirectory();
        QTRY_COMPARE(dave.windowOf<frmMessage>() ? dave.windowOf<frmMessage>()->text() : QString(),
                     QStringLiteral("The directory server is full. Please try again later."));
        QVERIFY(dave.settings().DirAddress.isEmpty());
        QTRY_VERIFY(!dave.directory().ippServer().isConnected());
    }

    void palsGoOnAndOffLine()
    {
        // The server logs each lookup: what this scenario watches for.
        ServerConfig verbose;
        verbose.verbose = true;
        Server server(verbose);
        User ann(QStringLiteral("Ann"), server.directoryPort(), server.palPort(), {}, 41);
        auto bob = std::make_unique<User>(QStringLiteral("Bob"), server.directoryPort(), server.palPort(), QString(), 42);
        bob->pals().connectPalServer();
        QTRY_COMPARE(server.logged(QStringLiteral("login pal")), 1);

        // An empty pal list never asks about anyone.
        ann.openDirectory();
        QTRY_COMPARE(server.logged(QStringLiteral("login pal")), 2);
        ann.find<QPushButton>("cmdRefresh")->click();
        ann.pals().ippServerPal().sendData("GEM;marker@example.org;<ET>");
        QTRY_COMPARE(server.logged(QStringLiteral("lookup <marker@example.org>")), 1);
        QCOMPARE(server.logged(QStringLiteral("lookup")), 1);

        QVERIFY(ann.pals().addPal(QStringLiteral("BOB@example.org")));
        QVERIFY(ann.pals().addPal(QStringLiteral("nobody@example.org")));
        auto *online = ann.find<QTreeWidget>("lstOnline");
        auto *offline = ann.find<QTreeWidget>("lstOffline");
        QTRY_COMPARE(names(online), QStringList{QStringLiteral("Bob")});
        QCOMPARE(names(offline), QStringList{QStringLiteral("nobody@example.org")});
        QCOMPARE(online->topLevelItem(0)->data(0, Qt::UserRole).toString(), QStringLiteral("A0001"));
        const PalList::Pal &pal = ann.pals().list().pal(1);
        QCOMPARE(pal.EMail, QStringLiteral("bob@example.org"));
        QCOMPARE(pal.Address, QStringLiteral("127.0.0.1"));
        QCOMPARE(int(pal.Port), bob->port);
        QCOMPARE(ann.pals().palCheckPosition(), 0);

        // Bob leaves: the next check moves him off line with his name and address kept.
        bob.reset();
        QTRY_COMPARE(server.logged(QStringLiteral("logout pal")), 1);
        ann.find<QPushButton>("cmdRefresh")->click();
        QTRY_COMPARE(names(offline), (QStringList{QStringLiteral("Bob"), QStringLiteral("nobody@example.org")}));
        QVERIFY(names(online).isEmpty());
        QCOMPARE(ann.pals().list().pal(1).Address, QStringLiteral("127.0.0.1"));
        QCOMPARE(ann.pals().list().pal(1).Status, qint16(1));
    }

    // The pal server's answers, and where the pal server is: on the directory server's host
    // (two servers on this machine, told apart by the address they are reached at) unless
    // a "BSY" sends it elsewhere.
    void palAnswersAreMatchedByEmailAndBoundedAndThePalServerGoesWithTheDirectoryServer()
    {
        RawServer pal;
        User ann(QStringLiteral("Ann"), 1, pal.port(), {}, 51);
        PalService &d = ann.pals();
        d.addPalFromMessage(QStringLiteral("jo@x.org"));
        d.addPalFromMessage(QStringLiteral("ann@x.org"));
        ann.settings().DirAddress = QStringLiteral("localhost");
        d.connectPalServer();
        QTRY_VERIFY(pal.received.startsWith("LGN; 51;"));
        QCOMPARE(d.palServerHost(), QStringLiteral("localhost"));
        pal.received.clear();
        d.startPalCheck();
        QTRY_COMPARE(pal.received, QByteArray("GEM;jo@x.org;<ET>"));
        // The answer names Ann, so it updates Ann, though it came for jo's question; it
        // still moves the check on.
        pal.send("GER;ANN@x.org;Ann A;Oslo;10.0.0.9;2004;<ET>");
        QTRY_COMPARE(pal.received, QByteArray("GEM;jo@x.org;<ET>GEM;ann@x.org;<ET>"));
        QCOMPARE(d.list().pal(2).Status, qint16(2));
        QCOMPARE(d.list().pal(2).Name, QStringLiteral("Ann A"));
        QCOMPARE(d.list().pal(1).Status, qint16(1));
        // The last answer ends the cycle; answers after it move nothing.
        pal.send("GER;somebody@else.org;S;L;10.0.0.7;2000;<ET>");
        QTRY_COMPARE(d.palCheckPosition(), 0);
        pal.send("GER;jo@x.org;Jo;Rome;10.0.0.8;2008;<ET>GER;zed@x.org;Z;L;10.0.0.7;2000;<ET>"
                 "GER;ann@x.org;Ann B;Oslo;10.0.0.9;2004;<ET>");
        QTRY_COMPARE(d.list().pal(2).Name, QStringLiteral("Ann B"));
        QCOMPARE(d.list().pal(1).Status, qint16(2));
        QCOMPARE(d.palCheckPosition(), 0);
        QCOMPARE(pal.received, QByteArray("GEM;jo@x.org;<ET>GEM;ann@x.org;<ET>"));

        // "BSY" sends the next connection elsewhere while the directory server stays.
        RawServer elsewhere;
        pal.send("BSY;127.0.0.1;" + QByteArray::number(elsewhere.port()) + ";<ET>");
        QTRY_VERIFY(!d.ippServerPal().isConnected());
        QCOMPARE(d.palServerPort(), elsewhere.port());
        d.palCheckTick();
        QTRY_COMPARE(elsewhere.connections, 1);
        QCOMPARE(d.palServerHost(), QStringLiteral("127.0.0.1"));

        // A new directory server brings the pal server along, to its host and the usual
        // port, whatever the "BSY" said; the old pal connection closes.
        QTRY_VERIFY(d.ippServerPal().isConnected());
        pal.received.clear();
        ann.directory().chooseDirectory(QStringLiteral("127.0.0.1:1"));
        QCOMPARE(d.palServerHost(), QStringLiteral("127.0.0.1"));
        QCOMPARE(d.palServerPort(), pal.port());
        QTRY_COMPARE(pal.connections, 2);
        QTRY_VERIFY(pal.received.startsWith("LGN; 51;"));
        QTRY_COMPARE(elsewhere.client->state(), QAbstractSocket::UnconnectedState);

        // A restart goes back to the default.
        QTemporaryDir other;
        Program restarted({TestSupport::portBlock(), other.path(), {}, false});
        restarted.settings().DirAddress = QStringLiteral("dir.example.org");
        QCOMPARE(restarted.pals().palServerHost(), QStringLiteral("dir.example.org"));
        QCOMPARE(restarted.pals().palServerPort(), 2015);
    }

    void theServerChecksWhetherAProgramCanBeReachedFromOutside()
    {
        Server server;
        User ann(QStringLiteral("Ann"), server.directoryPort(), server.palPort());
        ReachabilityCheck check(&ann->security().directoryDialer());
        QSignalSpy verdicts(&check, &ReachabilityCheck::finished);
        const auto verdict = [&] { return verdicts.last().at(0).value<ReachabilityCheck::Verdict>(); };

        // The server connects back to the address it sees, on the port asked about.
        check.start(QStringLiteral("127.0.0.1"), server.directoryPort(), ann.port);
        QTRY_COMPARE(verdicts.size(), 1);
        QCOMPARE(verdict(), ReachabilityCheck::Verdict::Reachable);
        QCOMPARE(verdicts.last().at(1).toString(), QStringLiteral("127.0.0.1"));
        // Nothing listens on the block's last port.
        check.start(QStringLiteral("127.0.0.1"), server.directoryPort(), ann.port + 19);
        QTRY_COMPARE(verdicts.size(), 2);
        QCOMPARE(verdict(), ReachabilityCheck::Verdict::NotReachable);

        // An older server has no encrypted port: it is never asked, and the verdict is
        // "unknown" at once, never "reachable".
        RawServer older;
        check.start(QStringLiteral("127.0.0.1"), older.port(), ann.port);
        QTRY_COMPARE_WITH_TIMEOUT(verdicts.size(), 3, 2000);
        QCOMPARE(verdict(), ReachabilityCheck::Verdict::Unknown);
        QCOMPARE(older.connections, 0);
        QCOMPARE(older.received, QByteArray());
    }
};

QTEST_MAIN(TestDirectory)
#include "tst_directory.moc"
