#include "support/MessageKit.h"
#include "ui/TestHook.h"

namespace {

// A program past its start-up, main window shown, with the hook on it.
struct Hooked
{
    RunningProgram program{QString(), {.windows = true, .start = false}};
    TestHook hook{{*program.main(), program->videoEngine(), program->audioEngine(), program->messages()}};

    bool start()
    {
        QSignalSpy tail(&*program, &Program::startupTailFinished);
        program.start();
        // Five one-second ticks would slow the suite; the sequence is what matters here.
        program->startupTimer().start(5);
        return tail.wait(5000);
    }
};

} // namespace

class TestTestHook : public QObject
{
    Q_OBJECT

private slots:
    void clicksAndKeysWorkTheWindowsAsAPersonWould()
    {
        Hooked h;
        QVERIFY(h.start());
        QVERIFY(h.hook.run(QStringLiteral("windows")).split(QLatin1Char(' ')).contains(QStringLiteral("frmMain")));

        // The toolbar's Directory button opens the directory window.
        QVERIFY(!h.program.shell->directoryWindow()->isVisible());
        QCOMPARE(h.hook.run(QStringLiteral("click frmMain cmdtoolbar1")), QStringLiteral("ok"));
        QVERIFY(h.program.shell->directoryWindow()->isVisible());
        QVERIFY(h.hook.run(QStringLiteral("windows")).contains(QStringLiteral("frmDirectory")));

        // Keys typed into the address box are the box's text.
        QCOMPARE(h.hook.run(QStringLiteral("type frmDirectory txtConnect 10.0.0.7")), QStringLiteral("ok"));
        QCOMPARE(h.hook.run(QStringLiteral("text frmDirectory txtConnect")), QStringLiteral("ok 10.0.0.7"));
        QCOMPARE(h.hook.run(QStringLiteral("text frmDirectory -")), QStringLiteral("ok ") + h.program.shell->directoryWindow()->windowTitle());

        // Enter in the chat's typing box sends the line: outside a call it is echoed.
        QCOMPARE(h.hook.run(QStringLiteral("click frmMain cmdtoolbar3")), QStringLiteral("ok"));
        QCOMPARE(h.hook.run(QStringLiteral("type frmNewChat txtOut hello there\\n")), QStringLiteral("ok"));
        // The chat window catches up once per pass of the event loop.
        QTRY_COMPARE(h.hook.run(QStringLiteral("text frmNewChat txtIn")), QStringLiteral("ok > hello there\\n"));
    }

    // What a person cannot reach is refused; a list's row is picked by its text.
    void whatAPersonCannotReachIsRefusedAndRowsArePickedByText()
    {
        Hooked h;
        QVERIFY(h.start());
        h.hook.run(QStringLiteral("click frmMain cmdtoolbar1"));
        // The directory's Call button is disabled until there is someone to call.
        QCOMPARE(h.hook.run(QStringLiteral("click frmDirectory cmdCall")), QStringLiteral("error cmdCall is disabled"));
        // ... but what it says can be read.
        QCOMPARE(h.hook.run(QStringLiteral("text frmDirectory cmdCall")), QStringLiteral("ok Call"));
        QCOMPARE(h.hook.run(QStringLiteral("click frmCallIn cmdCallYes")),
                 QStringLiteral("error no visible window frmCallIn"));
        QCOMPARE(h.hook.run(QStringLiteral("click frmMain cmdNoSuchThing")),
                 QStringLiteral("error frmMain has no control cmdNoSuchThing"));
        // Hang up is greyed out outside a call.
        QCOMPARE(h.hook.run(QStringLiteral("trigger Menu_FileHangup")), QStringLiteral("error Menu_FileHangup is disabled"));
        QVERIFY(h.hook.run(QStringLiteral("fly away")).startsWith(QStringLiteral("error unknown command")));

        // A row is picked by its text; what is no list has no rows.
        QTreeWidget *list = control<QTreeWidget>(h.program.shell->directoryWindow(), "lstGlobal");
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("Ann"), QStringLiteral("Oslo")}));
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("Bob"), QStringLiteral("Lima")}));
        QCOMPARE(h.hook.run(QStringLiteral("select frmDirectory lstGlobal Lima")), QStringLiteral("ok"));
        QCOMPARE(list->selectedItems().size(), 1);
        QCOMPARE(list->selectedItems().first()->text(0), QStringLiteral("Bob"));
        QCOMPARE(h.hook.run(QStringLiteral("select frmDirectory lstGlobal Paris")),
                 QStringLiteral("error no row of lstGlobal contains Paris"));
        QCOMPARE(h.hook.run(QStringLiteral("select frmDirectory cmdRefresh x")), QStringLiteral("error cmdRefresh is not a list"));

        // A closed window's controls are out of reach.
        h.program.shell->directoryWindow()->hide();
        QCOMPARE(h.hook.run(QStringLiteral("text frmDirectory txtConnect")),
                 QStringLiteral("error no visible window frmDirectory"));
    }

    // Pictures and counters show what the program shows, a quick message read from its
    // lamp included.
    void picturesAndCountersShowWhatTheProgramShows()
    {
        Hooked h;
        QVERIFY(h.start());
        const QString file = h.program.folder + QStringLiteral("/main.png");
        QCOMPARE(h.hook.run(QStringLiteral("grab frmMain - ") + file), QStringLiteral("ok"));
        QCOMPARE(QImage(file).size(), h.program.main()->size() * h.program.main()->devicePixelRatio());
        QCOMPARE(h.hook.run(QStringLiteral("grab frmMain imgVidIn ") + file), QStringLiteral("ok"));
        QVERIFY(!QImage(file).isNull());
        QVERIFY(h.hook.run(QStringLiteral("grab frmMain - /no/such/folder/x.png")).startsWith(QStringLiteral("error")));
        // Nothing was received and the speaker never opened.
        QCOMPARE(h.hook.run(QStringLiteral("counters")),
                 QStringLiteral("ok framesDrawn=0 speakerBlocks=0 speakerSamples=0 messagesReceived=0 messagesWaiting=0"));

        // A peer leaves a message on the quick-message port.
        QVERIFY(MessageKit::sendWhole(h.program->listenPort() + 2, 4711, "see you at noon", "Eve", "eve@x.org"));
        QTRY_COMPARE(h.hook.run(QStringLiteral("counters")),
                     QStringLiteral("ok framesDrawn=0 speakerBlocks=0 speakerSamples=0 messagesReceived=1 messagesWaiting=1"));
        // A single click on the lamp does nothing; a double click opens the message.
        QCOMPARE(h.hook.run(QStringLiteral("click frmMain imgMsgIn")), QStringLiteral("ok"));
        QVERIFY(!h.hook.run(QStringLiteral("windows")).contains(QStringLiteral("frmMsgIn")));
        QCOMPARE(h.hook.run(QStringLiteral("doubleclick frmMain imgMsgIn")), QStringLiteral("ok"));
        QVERIFY(h.hook.run(QStringLiteral("windows")).contains(QStringLiteral("frmMsgIn")));
        QCOMPARE(h.hook.run(QStringLiteral("text frmMsgIn pnlUserName")), QStringLiteral("ok Eve"));
        QCOMPARE(h.hook.run(QStringLiteral("text frmMsgIn txtMessageIn")), QStringLiteral("ok see you at noon"));
        // Read, it no longer waits; it still came in.
        QVERIFY(h.hook.run(QStringLiteral("counters")).endsWith(QStringLiteral("messagesReceived=1 messagesWaiting=0")));
    }

    void answersKeepOneLineEach()
    {
        const QString text = QStringLiteral("a\\b\nc\r");
        QCOMPARE(TestHook::escaped(text), QStringLiteral("a\\\\b\\nc\\r"));
        QCOMPARE(TestHook::unescaped(TestHook::escaped(text)), text);
        QCOMPARE(TestHook::unescaped(QStringLiteral("trailing\\")), QStringLiteral("trailing\\"));
    }
};

QTEST_MAIN(TestTestHook)
#include "tst_testhook.moc"
