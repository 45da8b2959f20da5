#include "support/RawClient.h"
#include "support/Windows.h"
#include "ui/frmCallIn.h"
#include "ui/frmDirectory.h"
#include "ui/frmHelp.h"
#include "ui/frmNewChat.h"
#include "ui/frmOptions.h"

#include <QMenu>
#include <QMenuBar>
#include <QTabWidget>

// ZELMO started on a German desktop (CTest gives this test LANG=de_DE.UTF-8): the windows
// speak German, and what goes on the wire is exactly what an English ZELMO sends.
class TestLanguage : public QObject
{
    Q_OBJECT

private slots:
    void theWindowsSpeakTheDesktopsLanguageAndTheWireStaysTheSame()
    {
        RunningProgram ann(QStringLiteral("Ann"), RunningProgram::Options{.windows = true, .autoAccept = true});
        QStringList menus;
        for (const QAction *menu : ann.main()->menuBar()->actions())
            menus << menu->text();
        QCOMPARE(menus, (QStringList{"&Datei", "&Ansicht", "&Extras", "&Hilfe"}));
        QCOMPARE(ann.main()->action(QStringLiteral("Menu_FileHangup"))->text(), QStringLiteral("Au&flegen"));

        ann.shell->mainController().showOptions(frmOptions::Personal);
        frmOptions *options = ann.shell->mainController().optionsWindow();
        QCOMPARE(options->windowTitle(), QStringLiteral("ZELMO-Eigenschaften"));
        QCOMPARE(options->tabs()->tabText(0), QStringLiteral("Persönlich"));
        QCOMPARE(options->tabs()->tabText(4), QStringLiteral("Nachrichten"));

        frmDirectory *directory = ann.windowOf<frmDirectory>();
        QCOMPARE(directory->windowTitle(), QStringLiteral("ZELMO-Verzeichnis"));
        QCOMPARE(shown(directory, "cmdCall"), QStringLiteral("Anrufen"));
        QCOMPARE(shown(directory, "cmdNewPal"), QStringLiteral("Neuer Freund"));

        // The help book follows, with its German pages.
        ann.shell->mainController().helpWindow()->showContents();
        QVERIFY2(ann.shell->mainController().helpWindow()->currentPage().path().startsWith(QStringLiteral("/help/de/")),
                 qPrintable(ann.shell->mainController().helpWindow()->currentPage().toString()));

        // A call: what goes on the wire is exactly what an English program sends.
        ann.settings().SendWelcome = false;
        RawCaller eve;
        QVERIFY(eve.callUpToChat(ann, true));
        QCOMPARE(shown(ann.windowOf<frmCallIn>(), "lblCallMessage"),
                 QStringLiteral("Dieser Anruf wird automatisch angenommen"));
        QCOMPARE(eve.control.received, QByteArray("RRS;YES;Ann;Annville;9:05;UIF;2.5;True;"));

        // The chat window's own line is German; typed text goes out as typed.
        frmNewChat *chat = ann.windowOf<frmNewChat>();
        QVERIFY(chat->conversation().startsWith(QStringLiteral("Anruf: Eve, Ortszeit in Evetown: 9:05.")));
        QTest::keyClicks(chat->txtOut(), QStringLiteral("Ja"));
        QTRY_COMPARE(eve.chat.received, QByteArray("TJ;<E>Ta;<E>"));
    }
};

QTEST_MAIN(TestLanguage)
#include "tst_language.moc"
