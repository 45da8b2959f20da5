// The directory window's controls with its service behind them.

#include "support/DirectoryKit.h"
#include "ui/frmNewPal.h"

using namespace DirectoryKit;

namespace {

QStringList keys(QTreeWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        out << list->topLevelItem(i)->text(0) + QLatin1Char('=') + list->topLevelItem(i)->data(0, Qt::UserRole).toString();
    return out;
}

} // namespace

class TestDirectoryWindow : public QObject
{
    Q_OBJECT

private slots:
    void choosingADirectoryServer()
    {
        // A second server, the one the server list offers.
        Server probe;
        const int listedPort = probe.directoryPort();
        ServerConfig config;
        config.servers = {{QStringLiteral("127.0.0.1"), listedPort, QStringLiteral("Listed one")},
                          {QStringLiteral("dir.example"), 2020, QStringLiteral("Far away")}};
        Server server(config);
        User ann(QStringLiteral("Ann"), server.directoryPort(), server.palPort(), {}, 61);
        auto *box = ann.find<QComboBox>("cboDirectory");
        // The box shows the settings as they were when the window was loaded.
        QCOMPARE(box->currentText(), QStringLiteral("localhost:2010"));
        box->setEditText(QStringLiteral("typed but not chosen"));

        ann.openDirectory();
        QTRY_COMPARE(box->count(), 2);
        QCOMPARE(box->itemText(0), QStringLiteral("127.0.0.1:%1  (Listed one)").arg(listedPort));
        // The server list leaves what the box said.
        QCOMPARE(box->currentText(), QStringLiteral("typed but not chosen"));

        // A server list item: its host and port, the description ignored.
        box->activated(0);
        QCOMPARE(ann.directory().ippServer().remotePort(), listedPort);
        QCOMPARE(int(quint16(ann.settings().DirPort)), listedPort);
        QTRY_COMPARE(probe.logged(QStringLiteral("login directory")), 1);

        // A typed name without ":" goes to port 2010.
        box->lineEdit()->setFocus();
        box->lineEdit()->selectAll();
        QTest::keyClicks(box->lineEdit(), QStringLiteral("127.0.0.1"));
        QTest::keyClick(box->lineEdit(), Qt::Key_Return);
        QCOMPARE(ann.settings().DirAddress, QStringLiteral("127.0.0.1"));
        QCOMPARE(int(ann.settings().DirPort), 2010);
        QCOMPARE(ann.directory().ippServer().remoteAddress(), QStringLiteral("127.0.0.1"));
        QCOMPARE(ann.directory().ippServer().remotePort(), 2010);
        QCOMPARE(ann.window()->panelText(2), QStringLiteral("Establishing Connection with 127.0.0.1:2010"));
        QCOMPARE(box->count(), 2); // Enter added no item
    }

    void newPersonalDetailsLogInAgainOnTheSameConnection()
    {
        Server server;
        User ann(QStringLiteral("Ann"), server.directoryPort(), server.palPort(), {}, 62);
        ann.openDirectory();
        QTRY_COMPARE(server.logged(QStringLiteral("login directory")), 1);

        // A new comment typed into the options dialog: the server hears a second login from
        // the connection it already has, and the list shows the new comment.
        ann.shell->mainWindow()->action(QStringLiteral("Menu_ViewOptions"))->trigger();
        QWidget *options = ann.shell->mainController().optionsWindow();
        control<QLineEdit>(options, "txtComment")->setText(QStringLiteral("back at noon"));
        QTest::mouseClick(control<QPushButton>(options, "cmdClose"), Qt::LeftButton);
        QTRY_COMPARE(server.logged(QStringLiteral("login again directory")), 1);
        QCOMPARE(server.logged(QStringLiteral("login directory")), 1);
        QCOMPARE(server.logged(QStringLiteral("logout")), 0);
        ann.find<QPushButton>("cmdRefresh")->click();
        auto *list = ann.find<QTreeWidget>("lstGlobal");
        QTRY_COMPARE(list->findItems(QStringLiteral("back at noon"), Qt::MatchExactly, 2).size(), 1);
    }

    void sendMessageAndCallFromTheLists()
    {
        RawServer directory;
        User ann(QStringLiteral("Ann"), directory.port(), 1, {}, 71);
        QSignalSpy compose(&ann.directory(), &DirectoryService::sendMessageRequested);
        ann.openDirectory();
        QTRY_VERIFY(directory.received.endsWith("INT<ET>"));
        directory.send("LS1;2;2;0;Old Timer;Bonn;10.0.0.6;;0;YES;YES;1;2000;"
                       "55;New Kid;Rome;127.0.0.1;hi;0;YES;NO;2;" + QByteArray::number(ann.port + 40) + ";<ET>");
        auto *list = ann.find<QTreeWidget>("lstGlobal");
        QTRY_COMPARE(list->topLevelItemCount(), 2);
        auto *send = ann.find<QPushButton>("cmdSendMsg");
        auto *callButton = ann.find<QPushButton>("cmdCall");
        QVERIFY(!send->isEnabled() && !callButton->isEnabled());

        send->setEnabled(true);
        send->click();
        QCOMPARE(boxTexts(ann.window()), QStringList{QStringLiteral("Select a user to send message.")});

        // A user of an older version (number 0) cannot get a message.
        list->setCurrentItem(list->topLevelItem(0));
        QVERIFY(send->isEnabled() && callButton->isEnabled());
        QCOMPARE(ann.find<QLineEdit>("txtConnectID")->text(), QStringLiteral("10.0.0.6"));
        send->click();
        QVERIFY(boxTexts(ann.window()).contains(
            QStringLiteral("This person is using an older version. You cannot send a message to an older version.")));
        QCOMPARE(compose.count(), 0);

        list->setCurrentItem(list->topLevelItem(1));
        send->click();
        QCOMPARE(compose.count(), 1);
        QCOMPARE(compose[0][0].toString(), QStringLiteral("New Kid"));
        QCOMPARE(compose[0][1].toString(), QStringLiteral("Rome"));
        QCOMPARE(compose[0][2].toString(), QStringLiteral("127.0.0.1"));
        QCOMPARE(compose[0][3].toInt(), ann.port + 40);
        QCOMPARE(compose[0][4].toInt(), 55);

        // Call with a user picked dials that user's own port, as a double-click or Enter does.
        callButton->click();
        QCOMPARE(ann.program->parts().ippControl.remotePort(), ann.port + 40);
        ann.program->calls().cancelAttempt();
        list->itemActivated(list->topLevelItem(0), 0);
        QCOMPARE(ann.program->parts().ippControl.remoteAddress(), QStringLiteral("10.0.0.6"));
        QCOMPARE(ann.program->parts().ippControl.remotePort(), 2000);
        ann.program->calls().cancelAttempt();

        // A typed address clears the pick and is called on 2000.
        auto *txt = ann.find<QLineEdit>("txtConnect");
        txt->setFocus();
        QTest::keyClicks(txt, QStringLiteral("127.0.0.1"));
        QVERIFY(list->selectedItems().isEmpty());
        callButton->click();
        QCOMPARE(ann.program->parts().ippControl.remotePort(), 2000);
        ann.program->calls().cancelAttempt();
    }

    void refreshWithTheDirectoryClosedStillChecksPals()
    {
        RawServer directory;
        RawServer pal;
        User ann(QStringLiteral("Ann"), directory.port(), pal.port(), {}, 81);
        ann.pals().addPalFromMessage(QStringLiteral("bob@x.org"));
        ann.window()->show();
        // The check asked for while connecting goes out once logged in.
        const QByteArray login = "LGN; 81;Ann;ann@example.org;Room Ann;;3;NO;NO;2.51;NO;NO;v1.2;"
                                 + QByteArray::number(ann.port) + ";<ET>";
        QTRY_COMPARE(pal.received, login + "GEM;bob@x.org;<ET>");
        pal.send("GER;bob@x.org;Bob;Lima;0.0.0.0;0;<ET>");
        QTRY_COMPARE(ann.pals().palCheckPosition(), 0);

        // The directory connection closes: Refresh does not open it again, and still checks
        // the pals.
        QTRY_VERIFY(ann.directory().ippServer().isConnected());
        ann.directory().ippServer().setConnected(false);
        directory.received.clear();
        pal.received.clear();
        ann.find<QPushButton>("cmdRefresh")->click();
        QTRY_COMPARE(pal.received, QByteArray("GEM;bob@x.org;<ET>"));
        QVERIFY(!ann.directory().ippServer().isConnected());
        QCOMPARE(directory.connections, 1);
        QCOMPARE(directory.received, QByteArray());
        QCOMPARE(ann.pals().tmrCheckPal()->interval(), 45000);
        QVERIFY(ann.pals().tmrCheckPal()->isActive());
    }

    // Without a directory server: pals are added and deleted all the same, and Refresh
    // dials nothing.
    void palsAreAddedAndDeletedFromTheWindowWithoutADirectoryServer()
    {
        User ann(QStringLiteral("Ann"), 1, 1, {}, 91);
        ann.settings().DirAddress.clear();
        ann.window()->show();
        QCOMPARE(ann.window()->panelText(2), QStringLiteral("Type in IP Address for Connection"));
        ann.find<QPushButton>("cmdNewPal")->click();
        auto *dialog = ann.window()->findChild<frmNewPal *>();
        QVERIFY(dialog && dialog->isVisible());
        control<QPushButton>(dialog, "cmdOK")->click();
        QVERIFY(boxTexts(dialog).contains(QStringLiteral("You must enter an email address to add this Pal")));
        QVERIFY(dialog->isVisible());
        for (const QString &who : {QStringLiteral("Ann@X.org"), QStringLiteral("bob@x.org"), QStringLiteral("cy@x.org")}) {
            ann.find<QPushButton>("cmdNewPal")->click();
            control<QLineEdit>(dialog, "txtEmail")->setText(who);
            control<QPushButton>(dialog, "cmdOK")->click();
            QVERIFY(!dialog->isVisible());
        }
        auto *offline = ann.find<QTreeWidget>("lstOffline");
        QCOMPARE(keys(offline), (QStringList{QStringLiteral("Ann@X.org=A0001"), QStringLiteral("bob@x.org=A0002"),
                                             QStringLiteral("cy@x.org=A0003")}));
        const QString file = ann.program->profilePath(QStringLiteral("zelmo.pal"));
        QCOMPARE(TestSupport::readBytes(file), QByteArray("Ann@X.org\r\nann@x.org\r\nbob@x.org\r\nbob@x.org\r\n"
                                                          "cy@x.org\r\ncy@x.org\r\n"));

        // Nothing selected: nothing goes. Pal 1 of three goes: the others move up.
        ann.find<QPushButton>("cmdDeletePal")->click();
        QCOMPARE(ann.pals().list().count(), 3);
        offline->setCurrentItem(offline->topLevelItem(0));
        ann.find<QPushButton>("cmdDeletePal")->click();
        QCOMPARE(keys(offline), (QStringList{QStringLiteral("bob@x.org=A0001"), QStringLiteral("cy@x.org=A0002")}));
        QCOMPARE(TestSupport::readBytes(file), QByteArray("bob@x.org\r\nbob@x.org\r\ncy@x.org\r\ncy@x.org\r\n"));

        // A full list takes no 201st pal and says so.
        for (int i = ann.pals().list().count(); i < PalList::Capacity; ++i)
            ann.pals().addPalFromMessage(QStringLiteral("p%1@x.org").arg(i));
        QCOMPARE(ann.pals().list().count(), PalList::Capacity);
        QVERIFY(!ann.pals().addPal(QStringLiteral("one.more@x.org")));
        QCOMPARE(ann.pals().list().count(), PalList::Capacity);
        QVERIFY(boxTexts(ann.window()).contains(
            QStringLiteral("Your pal list is full: it holds 200 pals. Delete a pal before adding another.")));
        QCOMPARE(offline->topLevelItemCount(), PalList::Capacity);

        // Nothing is dialled, not even for the pals: the pal server lives on the directory
        // server's host.
        ann.find<QPushButton>("cmdRefresh")->click();
        QCOMPARE(ann.directory().ippServer().remotePort(), 0);
        QVERIFY(ann.pals().palServerHost().isEmpty());
        QVERIFY(ann.pals().ippServerPal().remoteAddress().isEmpty());
    }
};

QTEST_MAIN(TestDirectoryWindow)
#include "tst_directorywindow.moc"
