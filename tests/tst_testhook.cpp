#include "support/Windows.h"
#include "ui/TestHook.h"

namespace {

// A program past its start-up, main window shown, with the hook on it.
struct Hooked
{
    RunningProgram program{QString(), {.windows = true, .start = false}};
    TestHook hook{{*program.main(), program->videoEngine(), program->audioEngine(), program->messages()}};

    bool start()
    {
        QSignalSpy tail(&program->events(), &ProgramEvents::startupTailFinished);
        program.start();
        // Five one-second ticks would slow the suite; the sequence is what matters here.
        program->parts().startupTimer.start(5);
        return tail.wait(5000);
    }
};

} // namespace

class TestTestHook : public QObject
{
    Q_OBJECT

private slots:
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
        QTreeWidget *list = control<QTreeWidget>(h.program.windowOf<frmDirectory>(), "lstGlobal");
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("Ann"), QStringLiteral("Oslo")}));
        list->addTopLevelItem(new QTreeWidgetItem(QStringList{QStringLiteral("Bob"), QStringLiteral("Lima")}));
        QCOMPARE(h.hook.run(QStringLiteral("select frmDirectory lstGlobal Lima")), QStringLiteral("ok"));
        QCOMPARE(list->selectedItems().size(), 1);
        QCOMPARE(list->selectedItems().first()->text(0), QStringLiteral("Bob"));
        QCOMPARE(h.hook.run(QStringLiteral("select frmDirectory lstGlobal Paris")),
                 QStringLiteral("error no row of lstGlobal contains Paris"));
        QCOMPARE(h.hook.run(QStringLiteral("select frmDirectory cmdRefresh x")), QStringLiteral("error cmdRefresh is not a list"));

        // A closed window's controls are out of reach.
        h.program.windowOf<frmDirectory>()->hide();
        QCOMPARE(h.hook.run(QStringLiteral("text frmDirectory txtConnect")),
                 QStringLiteral("error no visible window frmDirectory"));
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
