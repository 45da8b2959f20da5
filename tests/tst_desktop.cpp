// ZELMO in the background: notifications on a session bus of the test's own, the tray
// menu beside the File menu, and the desktop choices in their own file.

#include "desktop/ColourSchemeWatcher.h"
#include "desktop/DesktopSettings.h"
#include "desktop/Notifier.h"
#include "support/DesktopKit.h"
#include "support/MessageKit.h"
#include "support/RawClient.h"
#include "ui/ToolbarButton.h"

#include <QToolButton>

using DesktopKit::FakeNotifications;

namespace {

// One ZELMO with its windows; its main window is not the active window unless a scenario
// makes it so.
struct Party : RunningProgram
{
    explicit Party(const QString &name, const QString &profile = QString())
        : RunningProgram(name, Options{.windows = true, .location = QStringLiteral("Lima"), .profile = profile})
    {
    }
    frmCallIn *prompt() { return windowOf<frmCallIn>(); }
};

// A caller made of a bare client that asks at once, to see the answer byte by byte.
struct Caller : RawClient
{
    Caller(int port, const QByteArray &request) : RawClient(port) { send(request); }
};

} // namespace

class TestDesktop : public QObject
{
    Q_OBJECT

    DesktopKit::PrivateBus m_bus;
    std::unique_ptr<FakeNotifications> m_service;
    // Another program's window: it has the focus while ZELMO works in the background.
    QWidget m_editor;

    void otherProgram()
    {
        m_editor.setWindowTitle(QStringLiteral("Editor"));
        m_editor.resize(200, 100);
        m_editor.show();
        m_editor.activateWindow();
    }

    FakeNotifications::Shown *latest(const QString &summaryStart)
    {
        for (qsizetype i = m_service->shown.size() - 1; i >= 0; --i) {
            if (m_service->shown[i].summary.startsWith(summaryStart))
                return &m_service->shown[i];
        }
        return nullptr;
    }
    bool isOpen(uint id)
    {
        for (const auto &s : m_service->shown) {
            if (s.id == id)
                return s.open;
        }
        return false;
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(m_bus.start(), "dbus-daemon did not start");
        // The program finds the bus where a desktop session says it is.
        qputenv("DBUS_SESSION_BUS_ADDRESS", m_bus.address.toUtf8());
        qunsetenv("DISPLAY");
        m_service = std::make_unique<FakeNotifications>(m_bus.connect(QStringLiteral("notifications")));
        // The peer's texts are escaped only where the service reads markup.
        m_service->capabilities << QStringLiteral("body-markup");
        QVERIFY(m_service->registerOnBus());
    }

    void init()
    {
        m_service->shown.clear();
        otherProgram();
    }

    void aCallInTheBackgroundIsAnsweredFromItsNotification()
    {
        Party bob(QStringLiteral("Bob"));
        Caller ann(bob.port, "RQC;Bob Caller;Lima;9:05;");
        QTRY_VERIFY(latest(QStringLiteral("Bob Caller")));
        const FakeNotifications::Shown call = *latest(QStringLiteral("Bob Caller"));
        QCOMPARE(call.summary, QStringLiteral("Bob Caller, Lima is calling"));
        QCOMPARE(call.body, QStringLiteral("Would you like to accept this call?"));
        QCOMPARE(call.appName, QStringLiteral("ZELMO"));
        QCOMPARE(call.actions, (QStringList{"answer", "Answer", "decline", "Decline", "default", "Show"}));
        // It stays until the prompt closes, and it comes as urgent.
        QCOMPARE(call.timeout, 0);
        QCOMPARE(call.hints.value(QStringLiteral("urgency")).toInt(), 2);
        QVERIFY(call.hints.contains(QStringLiteral("image-data")));
        QVERIFY(bob.prompt() && bob.prompt()->isVisible());
        // The prompt shows without taking the keyboard from the other program.
        QVERIFY(bob.prompt()->testAttribute(Qt::WA_ShowWithoutActivating));

        m_service->invoke(call.id, QStringLiteral("answer"));
        QTRY_COMPARE(ann.received, QByteArray("RRS;YES;Bob;Lima;9:05;"));
        QTRY_VERIFY(!isOpen(call.id));
        QVERIFY(!bob.prompt() || !bob.prompt()->isVisible());
    }

    // Declined from its notification, from the prompt or by the countdown, a call takes its
    // notification along.
    void theNotificationGoesWhenTheCallIsDeclinedOrTimesOut()
    {
        Party bob(QStringLiteral("Bob"));
        for (const bool fromNotification : {true, false}) {
            // The caller before has gone.
            QTRY_COMPARE(bob.call().callState, CallState::Idle);
            QTRY_VERIFY(bob.program->parts().ipdControl.connectionIds().isEmpty());
            m_service->shown.clear();
            Caller ann(bob.port, "RQC;Ann;Oslo;9:05;");
            QTRY_VERIFY(latest(QStringLiteral("Ann, Oslo is calling")));
            const uint id = latest(QStringLiteral("Ann, Oslo"))->id;
            if (fromNotification) {
                // A click on the notification itself answers nothing.
                m_service->invoke(id, QStringLiteral("default"));
                m_service->invoke(id, QStringLiteral("decline"));
            } else {
                QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
                QTest::mouseClick(control<QPushButton>(bob.prompt(), "cmdCallNo"), Qt::LeftButton);
            }
            QTRY_COMPARE(ann.received, QByteArray("RRS;NO;"));
            QTRY_VERIFY(!isOpen(id));
            // A late click on the withdrawn notification answers nothing twice.
            m_service->invoke(id, QStringLiteral("answer"));
            QTRY_VERIFY(ann.socket.state() != QAbstractSocket::ConnectedState || bob.call().callState == CallState::Idle);
            QCOMPARE(ann.received, QByteArray("RRS;NO;"));
        }
        QTRY_COMPARE(bob.call().callState, CallState::Idle);
        QTRY_VERIFY(bob.program->parts().ipdControl.connectionIds().isEmpty());

        // The prompt counts down and declines by itself.
        bob.program->settings().AutoDecTime = 5;
        Caller cid(bob.port, "RQC;Cid;Tromso;9:05;");
        QTRY_VERIFY(latest(QStringLiteral("Cid, Tromso")));
        const uint id = latest(QStringLiteral("Cid, Tromso"))->id;
        QPointer<frmCallIn> prompt = bob.prompt();
        QVERIFY(prompt);
        prompt->tmrCloseMe()->setInterval(5);
        QTRY_COMPARE(cid.received, QByteArray("RRS;NO;"));
        QTRY_VERIFY(!isOpen(id));
        for (const FakeNotifications::Shown &s : m_service->shown)
            QVERIFY(!s.open);
    }

    void aNotificationWithdrawnBeforeTheServiceAnswersIsClosedAllTheSame()
    {
        Party bob(QStringLiteral("Bob"));
        // The service shows the call but is slow to say under which number.
        m_service->holdReplies = true;
        Caller eve(bob.port, "RQC;Eve;Rome;9:05;");
        QTRY_VERIFY(latest(QStringLiteral("Eve, Rome")) && bob.prompt() && bob.prompt()->isVisible());
        // The call is over before that.
        bob.prompt()->decline();
        QTRY_COMPARE(eve.received, QByteArray("RRS;NO;"));
        const uint id = latest(QStringLiteral("Eve, Rome"))->id;
        QVERIFY(isOpen(id));
        m_service->holdReplies = false;
        m_service->releaseReplies();
        QTRY_VERIFY(!isOpen(id));
    }

    void nothingIsShownWhileTheMainWindowIsActive()
    {
        Party bob(QStringLiteral("Bob"));
        frmMain *main = bob.shell->mainWindow();
        // Started to the end: the self view it brings back would take the keyboard later.
        QVERIFY(bob.finishStarting());
        main->activateWindow();
        QTRY_VERIFY(main->isActiveWindow());
        {
            Caller ann(bob.port, "RQC;Ann;Oslo;9:05;");
            QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
            bob.prompt()->decline();
            QTRY_COMPARE(ann.received, QByteArray("RRS;NO;"));
        }
        // Back to the other program: the next event is told. The bus keeps the order of
        // the program's calls, so the call would have come first.
        otherProgram();
        QTRY_VERIFY(!main->isActiveWindow());
        QVERIFY(MessageKit::sendWhole(bob.port + 2, 12, "Hello there", "Ann"));
        QTRY_VERIFY(!m_service->shown.isEmpty());
        QCOMPARE(m_service->shown.size(), 1);
        QCOMPARE(m_service->shown[0].summary, QStringLiteral("Quick Message from Ann"));
    }

    void aMessageNotificationOpensThatMessageInTheViewer()
    {
        Party bob(QStringLiteral("Bob"));
        QVERIFY(MessageKit::sendWhole(bob.port + 2, 12, "Lunch at noon?\r\n\r\nThe <b>usual</b>   place, bring the papers and "
                                      "the slides for Monday, and tell Cid that the room changed to the one upstairs.",
                                      "Ann <ann>"));
        // Words to exactly the length a notification shows: none is cut.
        const QByteArray second100 = QByteArray("abcd ").repeated(19) + "vwxyz";
        QCOMPARE(second100.size(), Notifier::FirstWordsLength);
        QVERIFY(MessageKit::sendWhole(bob.port + 2, 13, second100, "Cid"));
        QTRY_COMPARE(m_service->shown.size(), 2);
        const FakeNotifications::Shown first = m_service->shown[0];
        const FakeNotifications::Shown second = m_service->shown[1];
        // The sender's name and the first words on one line; the service reads markup, so
        // the peer's text is escaped and shows as typed.
        QCOMPARE(first.summary, QStringLiteral("Quick Message from Ann <ann>"));
        QCOMPARE(first.body, QStringLiteral("Lunch at noon? The &lt;b&gt;usual&lt;/b&gt; place, bring the papers and "
                                            "the slides for Monday, and tell Cid that..."));
        QVERIFY(first.actions.contains(QStringLiteral("default")));
        QCOMPARE(second.body, QString::fromLatin1(second100));
        QCOMPARE(Notifier::firstWords(QString::fromLatin1(second100 + '!')), QString::fromLatin1(second100.left(94) + "..."));

        // The second message, though the first waited longer, opens from its notification.
        m_service->invoke(second.id, QStringLiteral("default"));
        QTRY_VERIFY(bob.shell->mainWindow()->findChild<frmMsgIn *>());
        frmMsgIn *viewer = bob.shell->mainWindow()->findChild<frmMsgIn *>();
        QCOMPARE(control<QPlainTextEdit>(viewer, "txtMessageIn")->toPlainText(), QString::fromLatin1(second100));
        QTRY_VERIFY(!isOpen(second.id));
        QVERIFY(isOpen(first.id));
        QCOMPARE(bob.program->messages().store().waitingCount(), 1);

        // The first, opened from the indicator as always, takes its notification with it.
        QTest::mouseDClick(control(bob.shell->mainWindow(), "imgMsgIn"), Qt::LeftButton);
        QTRY_VERIFY(!isOpen(first.id));
        // A click on a withdrawn notification opens nothing more.
        m_service->invoke(second.id, QStringLiteral("default"));
        QCOMPARE(bob.shell->mainWindow()->findChildren<frmMsgIn *>().size(), 2);
    }

    void theChatBellWhileTheChatIsHiddenBringsTheChatBack()
    {
        Party ann(QStringLiteral("Ann"));
        Party bob(QStringLiteral("Bob"));
        bob.program->settings().AutoAccept = true;
        ann.call(bob);
        QTRY_COMPARE_WITH_TIMEOUT(ann.call().callState, CallState::InCall, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(bob.call().callState, CallState::InCall, 10000);
        m_service->shown.clear();
        QVERIFY(!bob.windowOf<frmNewChat>()->isVisible());

        // The chat may still be connecting: Ann rings until Bob hears it.
        QTRY_VERIFY_WITH_TIMEOUT((ann.program->chat().ringUser(), latest(QStringLiteral("Text Chat"))), 10000);
        const FakeNotifications::Shown bell = *latest(QStringLiteral("Text Chat"));
        QCOMPARE(bell.summary, QStringLiteral("Text Chat - Ann"));
        QCOMPARE(bell.body, QStringLiteral("Ann rang the chat bell."));
        m_service->invoke(bell.id, QStringLiteral("default"));
        QTRY_VERIFY(bob.windowOf<frmNewChat>()->isVisible());
        QVERIFY(bob.item("Menu_ViewChat")->isChecked());
        QTRY_VERIFY(!isOpen(bell.id));
        // Several bells make one notification, never a pile of them.
        int bells = 0;
        for (const auto &s : m_service->shown)
            bells += s.summary.startsWith(QStringLiteral("Text Chat")) ? 1 : 0;
        QCOMPARE(bells, 1);

        // A bell whose notification the service has not numbered yet when the chat window
        // comes up: it goes all the same.
        bob.windowOf<frmNewChat>()->hide();
        m_service->holdReplies = true;
        const qsizetype before = m_service->shown.size();
        QTRY_VERIFY_WITH_TIMEOUT((ann.program->chat().ringUser(), m_service->shown.size() > before), 10000);
        const uint late = latest(QStringLiteral("Text Chat"))->id;
        bob.windowOf<frmNewChat>()->show();
        m_service->holdReplies = false;
        m_service->releaseReplies();
        QTRY_VERIFY(!isOpen(late));
    }

    void withoutANotificationServiceTheCallIsStillOffered()
    {
        m_service->unregister();
        Party bob(QStringLiteral("Bob"));
        Caller ann(bob.port, "RQC;Ann;Oslo;9:05;");
        QTRY_VERIFY(bob.prompt() && bob.prompt()->isVisible());
        bob.prompt()->answer();
        QTRY_COMPARE(ann.received, QByteArray("RRS;YES;Bob;Lima;9:05;"));
        QVERIFY(m_service->shown.isEmpty());
        QVERIFY(m_service->registerOnBus());
    }

    // Do Not Disturb from the tray, the File menu and the lamp (mouse and keys) in step.
    void theTrayMenuAndTheFileMenuGoTogether()
    {
        Party ann(QStringLiteral("Ann"));
        Party bob(QStringLiteral("Bob"));
        bob.program->settings().AutoAccept = true;
        TrayController &tray = ann.shell->desktop().tray();
        QAbstractButton *lamp = control<QAbstractButton>(ann.shell->mainWindow(), "imgDoNotDisturb");
        auto doNotDisturb = [&](bool on) {
            return ann.calls().doNotDisturb() == on && ann.item("menu_DoNotDisturb")->isChecked() == on
                   && tray.action(QStringLiteral("trayDoNotDisturb"))->isChecked() == on
                   && lamp->property("picture").toString() == (on ? "imgDNDOn" : "imgDNDOff")
                   && (tray.picture() == Artwork::TrayPicture::DoNotDisturb) == on;
        };
        QVERIFY(doNotDisturb(false));
        tray.action(QStringLiteral("trayDoNotDisturb"))->trigger();
        QVERIFY(doNotDisturb(true));
        ann.item("menu_DoNotDisturb")->trigger();
        QVERIFY(doNotDisturb(false));
        QTest::mouseClick(lamp, Qt::LeftButton);
        QVERIFY(doNotDisturb(true));
        tray.action(QStringLiteral("trayDoNotDisturb"))->trigger();
        QVERIFY(doNotDisturb(false));
        // The lamp takes Space and Enter as a keyboard user presses them.
        QTest::keyClick(lamp, Qt::Key_Space);
        QVERIFY(doNotDisturb(true));
        QTest::keyClick(lamp, Qt::Key_Enter);
        QVERIFY(doNotDisturb(false));

        // Hang Up is offered during a call only, and ends it as the File menu does.
        QAction *hangUp = tray.action(QStringLiteral("trayHangUp"));
        QVERIFY(!hangUp->isVisible());
        ann.call(bob);
        QTRY_COMPARE_WITH_TIMEOUT(ann.call().callState, CallState::InCall, 10000);
        QVERIFY(hangUp->isVisible());
        QCOMPARE(tray.picture(), Artwork::TrayPicture::InCall);
        QCOMPARE(tray.toolTip(), QStringLiteral("ZELMO: in a call"));
        hangUp->trigger();
        QTRY_COMPARE(ann.call().callState, CallState::Idle);
        QTRY_COMPARE(bob.call().callState, CallState::Idle);
        QVERIFY(!hangUp->isVisible());
        QCOMPARE(tray.picture(), Artwork::TrayPicture::Idle);

        // Show ZELMO brings the hidden main window back; Quit is the orderly shutdown.
        ann.shell->mainWindow()->hide();
        tray.action(QStringLiteral("trayShow"))->trigger();
        QVERIFY(ann.shell->mainWindow()->isVisible());
        QSignalSpy finished(&ann.program->events(), &ProgramEvents::finished);
        tray.action(QStringLiteral("trayQuit"))->trigger();
        QCOMPARE(finished.size(), 1);
    }

    void theDesktopChoicesLiveInTheirOwnFile()
    {
        QTemporaryDir profile;
        {
            Party ann(QStringLiteral("Ann"), profile.path());
            ann.item("Menu_ViewOptions")->trigger();
            frmOptions *options = ann.shell->mainController().optionsWindow();
            auto *notify = control<QCheckBox>(options, "chkNotify");
            auto *trayIcon = control<QCheckBox>(options, "chkTrayIcon");
            QVERIFY(notify->isChecked() && trayIcon->isChecked());
            QVERIFY(ann.shell->desktop().tray().icon());
            notify->click();
            trayIcon->click();
            QVERIFY(!ann.shell->desktop().notifier().isEnabled());
            QVERIFY(!ann.shell->desktop().tray().isIconWanted());
            QVERIFY(!ann.shell->desktop().tray().icon());
            // No talk key can be had here (no display, no portal), and the option says so.
            auto *status = control<QLabel>(options, "lblTalkKey");
            QTRY_COMPARE(status->text(),
                         QStringLiteral("This desktop offers no key that works while another window has the focus."));
            QVERIFY(!control(options, "cboTalkKey")->isEnabled());
        }
        const QString desktop = QString::fromUtf8(TestSupport::readBytes(profile.filePath(DesktopSettings::FileName)));
        QVERIFY(desktop.contains(QStringLiteral("Notifications=False")));
        QVERIFY(desktop.contains(QStringLiteral("TrayIcon=False")));
        const QString ini = QString::fromUtf8(TestSupport::readBytes(profile.filePath(QStringLiteral("zelmo.ini"))));
        QVERIFY(!ini.contains(QStringLiteral("Notifications")));
        QVERIFY(!ini.contains(QStringLiteral("TrayIcon")));
        QVERIFY(!ini.contains(QStringLiteral("TalkKey")));

        // The next start reads them back: a message in the background stays quiet.
        Party again(QStringLiteral("Ann"), profile.path());
        QVERIFY(!again.shell->desktop().notifier().isEnabled());
        QVERIFY(MessageKit::sendWhole(again.port + 2, 12, "Quiet please", "Bob"));
        QTRY_COMPARE(again.program->messages().store().waitingCount(), 1);
        // Only this message counts: the last scenario's program may still have a notice
        // on its way over the bus.
        for (const auto &s : std::as_const(m_service->shown))
            QVERIFY2(s.hints.value(QStringLiteral("category")).toString() != QLatin1String("im.received"), qPrintable(s.summary));
    }

    // The desktop turns dark and light again; the user's own choice in the options wins
    // and is kept. The artwork follows, in hidden windows too: the toolbar's faces are dark
    // on a dark window, the self view's pause bars light.
    void theWindowsFollowTheDesktopsColoursUnlessTheUserChooses()
    {
        DesktopKit::FakeAppearance portal(m_bus.connect(QStringLiteral("appearance")));
        portal.scheme = 1;
        QVERIFY(portal.registerOnBus());
        const auto dark = [] { return QApplication::palette().color(QPalette::Window).lightness() < 100; };
        const auto faceIsDark = [](Party &p) {
            auto *button = p.main()->findChild<ToolbarButton *>(QStringLiteral("cmdtoolbar1"));
            return button->picture()->pixmap().toImage().pixelColor(16, 6).lightness() < 110;
        };
        const auto pauseIsLight = [](Party &p) {
            const QImage bars = control<QToolButton>(p.windowOf<frmSelf>(), "cmdCamSet")->icon().pixmap(16, 16).toImage();
            return bars.pixelColor(bars.width() * 3 / 10, bars.height() / 2).lightness() > 128;
        };
        QTemporaryDir profile;
        {
            Party ann(QStringLiteral("Ann"), profile.path());
            QTRY_VERIFY(dark());
            QTRY_VERIFY(faceIsDark(ann));
            QTRY_VERIFY(pauseIsLight(ann));
            ann.main()->hide();
            portal.setScheme(2);
            QTRY_VERIFY(!dark());
            QTRY_VERIFY(!faceIsDark(ann));
            QTRY_VERIFY(!pauseIsLight(ann));
            ann.main()->show();

            ann.item("Menu_ViewOptions")->trigger();
            auto *colours = control<QComboBox>(ann.shell->mainController().optionsWindow(), "cboColourScheme");
            QCOMPARE(colours->currentText(), QStringLiteral("System"));
            colours->setCurrentIndex(colours->findText(QStringLiteral("Dark")));
            emit colours->activated(colours->currentIndex());
            QVERIFY(dark());
            QTRY_VERIFY(faceIsDark(ann));
            // The desktop's word no longer counts.
            portal.setScheme(2);
            QTest::qWait(100);
            QVERIFY(dark());
        }
        const QString desktop = QString::fromUtf8(TestSupport::readBytes(profile.filePath(DesktopSettings::FileName)));
        QVERIFY(desktop.contains(QStringLiteral("ColourScheme=Dark")));
        Party again(QStringLiteral("Ann"), profile.path());
        QCOMPARE(again.shell->desktop().colourScheme().choice(), QStringLiteral("Dark"));
        again.shell->desktop().chooseColourScheme(QStringLiteral("System"));
        QVERIFY(!dark());
    }
};

QTEST_MAIN(TestDesktop)
#include "tst_desktop.moc"
