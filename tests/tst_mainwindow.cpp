#include "support/Windows.h"
#include "core/Twips.h"

#include <QAccessible>
#include <QClipboard>
#include <QGuiApplication>
#include <QTextBrowser>

namespace {

QSize twips(int width, int height)
{
    return {Twips::toPixels(width), Twips::toPixels(height)};
}

// One program with its windows, its main window on the screen.
struct Running : RunningProgram
{
    explicit Running(const QString &name = QStringLiteral("Ann"), bool autoAccept = false, int firstPort = 0)
        : RunningProgram(name, Options{.windows = true, .autoAccept = autoAccept, .port = firstPort})
    {
        main()->show();
    }

    QAbstractButton *button(int i) { return window<QAbstractButton>(qPrintable(QStringLiteral("cmdtoolbar%1").arg(i))); }
    QAbstractButton *lamp(const char *name) { return window<QAbstractButton>(name); }
    QWidget *video() { return window<QWidget>("imgVidIn"); }
};

// The menu's items as "caption|shortcut", separators as "-", hidden items left out.
QStringList shownItems(QMenu *menu)
{
    QStringList items;
    for (QAction *a : menu->actions()) {
        if (!a->isVisible())
            continue;
        items << (a->isSeparator() ? QStringLiteral("-")
                                   : a->text() + QLatin1Char('|') + a->shortcut().toString(QKeySequence::PortableText));
    }
    return items;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private slots:
    void theMenusAtStartAndDuringACall()
    {
        Running ann(QStringLiteral("Ann"));
        Running bob(QStringLiteral("Bob"), true);
        QMenuBar *bar = ann.main()->menuBar();
        QStringList menus;
        for (QAction *a : bar->actions()) {
            if (a->isVisible())
                menus << a->text();
        }
        QCOMPARE(menus, (QStringList{"&File", "&View", "&Help"}));
        QCOMPARE(shownItems(control<QMenu>(ann.main(), "Menu_File")),
                 (QStringList{"&Call|Ctrl+C", "&Hangup|Ctrl+H", "-", "&Do Not Disturb|Ctrl+N", "-", "&Quit|Ctrl+Q"}));
        QCOMPARE(shownItems(control<QMenu>(ann.main(), "Menu_View")),
                 (QStringList{"&Self|Ctrl+S", "&Text Chat|Ctrl+T", "Sha&re Screen...|Ctrl+Shift+S", "&Zoom|", "-", "&Log|",
                              "&Data Rates|Ctrl+D", "-", "&Options...|"}));
        QCOMPARE(shownItems(ann.main()->zoomMenu()), (QStringList{"&Small (160x120)|", "&Normal (320x240)|"}));
        QCOMPARE(shownItems(control<QMenu>(ann.main(), "Menu_Help")),
                 (QStringList{"&Contents|F1", "&Help Topics|", "-", "&About...|"}));
        QVERIFY(!ann.item("Menu_ZoomVeryLarge")->isEnabled());
        QVERIFY(!control<QMenu>(ann.main(), "Menu_Tool")->menuAction()->isVisible());

        // Idle: calling is possible, hanging up is not; the logo shows, the lamp is dark.
        QVERIFY(ann.item("Menu_FileCall")->isEnabled());
        QVERIFY(!ann.item("Menu_FileHangup")->isEnabled());
        QVERIFY(control<QLabel>(ann.main(), "imgLogo")->isVisible());
        QCOMPARE(ann.button(0)->text(), QStringLiteral("Call"));

        // Bob watches himself, as he does after every start: his picture still goes out.
        bob.shell->mainController().toggleSelfView();
        ann.call(bob);
        QTRY_COMPARE_WITH_TIMEOUT(ann.call().callState, CallState::InCall, 10000);
        QVERIFY(!ann.item("Menu_FileCall")->isEnabled());
        QVERIFY(ann.item("Menu_FileHangup")->isEnabled());
        QCOMPARE(ann.button(0)->text(), QStringLiteral("HangUp"));
        QCOMPARE(shown(ann.main(), "lblcmd0"), QStringLiteral("HangUp"));
        QVERIFY(ann.lamp("imgConLED")->property("lit").toBool());
        QVERIFY(!control<QLabel>(ann.main(), "imgLogo")->isVisible());
        // The test pattern arrives and the clock runs.
        QTRY_VERIFY_WITH_TIMEOUT(!ann.main()->videoView()->frame().isNull(), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(control<QLabel>(ann.main(), "imgNum3")->property("digit").toInt() > 0, 5000);

        // Hang up from the keyboard shortcut's menu item: everything goes back.
        ann.item("Menu_FileHangup")->trigger();
        QTRY_COMPARE(ann.call().callState, CallState::Idle);
        QTRY_COMPARE(bob.call().callState, CallState::Idle);
        // Bob's prompt answered by itself and went; his auto-accept stays on.
        QTRY_VERIFY(!bob.windowOf<frmCallIn>() || !bob.windowOf<frmCallIn>()->isVisible());
        QVERIFY(bob.program->settings().AutoAccept);
        QVERIFY(ann.item("Menu_FileCall")->isEnabled());
        QVERIFY(!ann.item("Menu_FileHangup")->isEnabled());
        QCOMPARE(ann.button(0)->text(), QStringLiteral("Call"));
        QVERIFY(!ann.lamp("imgConLED")->property("lit").toBool());
        QVERIFY(control<QLabel>(ann.main(), "imgLogo")->isVisible());
        QCOMPARE(control<QLabel>(ann.main(), "imgNum3")->property("digit").toInt(), 0);
    }

    void selfViewAndChatToggleFromMenuToolbarAndKeyboardInStep()
    {
        Running r;
        frmSelf *self = r.windowOf<frmSelf>();
        frmNewChat *chat = r.windowOf<frmNewChat>();
        auto inStep = [&](QWidget *window, const char *item, int button, bool shown) {
            return window->isVisible() == shown && r.item(item)->isChecked() == shown
                   && r.main()->buttonPressed(button) == shown && r.button(button)->isChecked() == shown;
        };
        QVERIFY(inStep(self, "Menu_ViewSelf", 2, false));

        r.item("Menu_ViewSelf")->trigger();
        QVERIFY(inStep(self, "Menu_ViewSelf", 2, true));
        QTest::mouseClick(r.button(2), Qt::LeftButton);
        QVERIFY(inStep(self, "Menu_ViewSelf", 2, false));
        // Space on the focused button, as a keyboard user presses it.
        QTest::keyClick(r.button(2), Qt::Key_Space);
        QVERIFY(inStep(self, "Menu_ViewSelf", 2, true));
        // The user closes the window itself: menu and button follow.
        self->close();
        QVERIFY(inStep(self, "Menu_ViewSelf", 2, false));

        r.item("Menu_ViewChat")->trigger();
        QVERIFY(inStep(chat, "Menu_ViewChat", 3, true));
        QTest::keyClick(r.button(3), Qt::Key_Return);
        QVERIFY(inStep(chat, "Menu_ViewChat", 3, false));
        QTest::mouseClick(r.button(3), Qt::LeftButton);
        QVERIFY(inStep(chat, "Menu_ViewChat", 3, true));
        r.item("Menu_ViewChat")->trigger();
        QVERIFY(inStep(chat, "Menu_ViewChat", 3, false));
    }

    void zoomSizesTheVideoAndTheWindow()
    {
        Running r;
        frmMain *main = r.main();
        QCOMPARE(r.video()->size(), QSize(320, 240));
        // A right click on the video offers Small and Normal.
        QMenu *zoom = main->zoomMenu();
        QVERIFY(!zoom->isVisible());
        QVERIFY(QTest::qWaitForWindowExposed(main));
        const QPoint where(40, 30);
        QContextMenuEvent click(QContextMenuEvent::Mouse, where, r.video()->mapToGlobal(where));
        QCoreApplication::sendEvent(r.video(), &click);
        QTRY_VERIFY(zoom->isVisible());
        QCOMPARE(shownItems(zoom), (QStringList{"&Small (160x120)|", "&Normal (320x240)|"}));
        zoom->hide();
        QCOMPARE(main->size(), twips(4960, 5500));

        r.item("Menu_ViewZoomNorm")->trigger();
        QCOMPARE(main->displayWidth(), 160);
        QCOMPARE(r.program->mediaSession().displayWidth(), 160);
        QCOMPARE(main->size(), twips(2865, 3855));
        QTRY_COMPARE(r.video()->size(), QSize(160, 120));
        QVERIFY(main->isCompact());
        // The logo stays inside the smaller picture.
        const QRect logo = control<QLabel>(main, "imgLogo")->geometry();
        QVERIFY(r.video()->geometry().contains(logo));

        r.item("Menu_ViewZoomLarge")->trigger();
        QCOMPARE(main->size(), twips(4960, 5500));
        QTRY_COMPARE(r.video()->size(), QSize(320, 240));
        QVERIFY(!main->isCompact());

        // Dragged smaller than the least size, the window snaps back to it.
        main->resize(100, 100);
        QCOMPARE(main->size(), twips(frmMain::MinimumWidthTwips, frmMain::MinimumHeightTwips));
        main->resize(twips(4960, 5500));

        // Small does nothing while maximised, nor after a 320-byte frame on the calling side.
        main->setWindowState(Qt::WindowMaximized);
        r.item("Menu_ViewZoomNorm")->trigger();
        QCOMPARE(main->displayWidth(), 320);
        main->setWindowState(Qt::WindowNoState);
        r->parts().callStatus.lastVideoPayload = 320;
        r.item("Menu_ViewZoomNorm")->trigger();
        QCOMPARE(main->displayWidth(), 320);
        QVERIFY(MainWindowController::lastFrameLengthForbidsSmallZoom(320));
        r->parts().callStatus.lastVideoPayload = 321;
        r.item("Menu_ViewZoomNorm")->trigger();
        QCOMPARE(main->displayWidth(), 160);
    }

    void theToolbarLightsUnderTheMouse()
    {
        Running r;
        QVERIFY(QTest::qWaitForWindowExposed(r.main()));
        auto caption = [&](int i) { return r.main()->findChild<QLabel *>(QStringLiteral("lblcmd%1").arg(i)); };
        QTest::mouseMove(r.button(1), r.button(1)->rect().center());
        QTRY_COMPARE(r.main()->buttonState(1), 2);
        QVERIFY(caption(1)->font().bold());
        QCOMPARE(r.button(1)->property("look").toString(), QStringLiteral("raised"));

        // From one button to the next: the first goes back, the second rises.
        QTest::mouseMove(r.button(3), r.button(3)->rect().center());
        QTRY_COMPARE(r.main()->buttonState(3), 2);
        QCOMPARE(r.main()->buttonState(1), 0);
        QVERIFY(!caption(1)->font().bold());
        QCOMPARE(r.button(1)->property("look").toString(), QStringLiteral("normal"));

        // A held-down button keeps its look under the mouse; only the caption turns bold.
        r.item("Menu_ViewSelf")->trigger();
        QTest::mouseMove(r.button(2), r.button(2)->rect().center());
        QTRY_VERIFY(caption(2)->font().bold());
        QCOMPARE(r.main()->buttonState(2), 1);
        QCOMPARE(r.button(2)->property("look").toString(), QStringLiteral("pressed"));

        // Leaving the toolbar: nothing stays raised or bold.
        QTest::mouseMove(r.video(), r.video()->rect().center());
        QTRY_VERIFY(!caption(2)->font().bold());
        for (int i = 0; i < frmMain::ButtonCount; ++i)
            QVERIFY(r.main()->buttonState(i) != 2);
        QCOMPARE(r.main()->buttonState(2), 1);
    }

    void theToolbarAndTheLampsAreButtonsForKeyboardAndAssistiveTechnology()
    {
        Running r;
        const char *const captions[] = {"Call", "Directory", "SelfView", "Chat", "Talk"};
        for (int i = 0; i < frmMain::ButtonCount; ++i) {
            QCOMPARE(said(r.button(i)), QString::fromLatin1(captions[i]));
            QCOMPARE(accessibleRole(r.button(i)), QAccessible::Button);
            QVERIFY(r.button(i)->focusPolicy() & Qt::TabFocus);
        }
        // The lamps' names say their state.
        for (auto [name, tip] : {std::pair{"imgConLED", "Not connected"}, std::pair{"imgDoNotDisturb", "Do not disturb off"},
                                 std::pair{"imgMsgIn", "No quick message"}}) {
            QAbstractButton *lamp = r.lamp(name);
            QVERIFY2(lamp, name);
            QCOMPARE(said(lamp), QString::fromLatin1(tip));
            QCOMPARE(accessibleRole(lamp), QAccessible::Button);
            QVERIFY(lamp->focusPolicy() & Qt::TabFocus);
        }
        // Tab walks the toolbar, then the lamps that act.
        QWidget *w = r.button(0);
        QStringList order{w->objectName()};
        for (int i = 0; i < 7; ++i) {
            w = w->nextInFocusChain();
            while (!(w->focusPolicy() & Qt::TabFocus))
                w = w->nextInFocusChain();
            order << w->objectName();
        }
        QCOMPARE(order, (QStringList{"cmdtoolbar0", "cmdtoolbar1", "cmdtoolbar2", "cmdtoolbar3", "cmdtoolbar4",
                                     "imgConLED", "imgDoNotDisturb", "imgMsgIn"}));

        // A button held down says so.
        r.item("Menu_ViewSelf")->trigger();
        QVERIFY(QAccessible::queryAccessibleInterface(r.button(2))->state().checkable);
        QVERIFY(QAccessible::queryAccessibleInterface(r.button(2))->state().checked);
        QVERIFY(!QAccessible::queryAccessibleInterface(r.button(3))->state().checked);
        QAccessible::queryAccessibleInterface(r.button(3))->actionInterface()->doAction(
            QAccessibleActionInterface::pressAction());
        QVERIFY(r.windowOf<frmNewChat>()->isVisible());

        // Held Space on Talk talks; Enter latches and unlatches.
        QTest::keyPress(r.button(4), Qt::Key_Space);
        QVERIFY(r->audioControl().isMicOpen());
        QTest::keyRelease(r.button(4), Qt::Key_Space);
        QVERIFY(!r->audioControl().isMicOpen());
        QTest::keyClick(r.button(4), Qt::Key_Return);
        QVERIFY(r->audioControl().isMicOpen());
        QVERIFY(r.button(4)->isChecked());
        QTest::keyClick(r.button(4), Qt::Key_Return);
        QVERIFY(!r->audioControl().isMicOpen());

        // The message indicator: lit and unlit, opened by a double click or a key press, never
        // by a single click.
        frmMain *main = r.main();
        QSignalSpy opened(main, &frmMain::messageIndicatorActivated);
        QAbstractButton *msgIn = r.lamp("imgMsgIn");
        QVERIFY(!main->messageWaiting());
        main->setMessageWaiting(true);
        QVERIFY(msgIn->property("waiting").toBool());
        QCOMPARE(said(msgIn), QStringLiteral("Quick message waiting"));
        QTest::mouseClick(msgIn, Qt::LeftButton);
        QCOMPARE(opened.count(), 0);
        QTest::mouseDClick(msgIn, Qt::LeftButton);
        QCOMPARE(opened.count(), 1);
        QTest::keyClick(msgIn, Qt::Key_Space);
        QCOMPARE(opened.count(), 2);
        main->setMessageWaiting(false);
        QVERIFY(!msgIn->property("waiting").toBool());
    }

    void strayKeysPressNothingAndCtrlCCopiesInATextBox()
    {
        Running r;
        frmMain *main = r.main();
        // The splash screen of the start-up would hold the keyboard.
        delete r.windowOf<frmSplash>();
        main->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(main));
        // Typing at the freshly opened window presses no toolbar button.
        QSignalSpy toolbar(main, &frmMain::toolbarClicked);
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("hello there"));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QCOMPARE(toolbar.count(), 0);
        QSignalSpy calls(r.item("Menu_FileCall"), &QAction::triggered);
        QTest::keyClick(main, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(calls.count(), 1);
        QVERIFY(r.windowOf<frmDirectory>()->isVisible());
        r.windowOf<frmDirectory>()->hide();

        // File, Call's Ctrl+C belongs to the main window: in the chat window's conversation,
        // read-only as it is, the key copies and calls nobody.
        frmNewChat *chat = r.windowOf<frmNewChat>();
        emit r.program->calls().transcriptLine(QStringLiteral("worth keeping"));
        QPlainTextEdit *conversation = chat->txtIn();
        QTRY_VERIFY(conversation->toPlainText().contains(QStringLiteral("worth keeping")));
        conversation->selectAll();
        conversation->setFocus();
        QGuiApplication::clipboard()->clear();
        QTest::keyClick(conversation, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(calls.count(), 1);
        QCOMPARE(QGuiApplication::clipboard()->text().trimmed(), QStringLiteral("worth keeping"));
    }

    // Help opens at its contents and at its topic finder; About names the platform.
    void theHelpMenuOpensTheHelpAndTheAboutBox()
    {
        Running r;
        r.item("Menu_HelpContents")->trigger();
        frmHelp *help = r.shell->mainController().helpWindow();
        QVERIFY(help->isVisible());
        QCOMPARE(help->currentPage().fileName(), QStringLiteral("index.html"));
        auto *page = control<QTextBrowser>(help, "txtHelp");
        QVERIFY(page->toPlainText().contains(QStringLiteral("Placing a call")));
        QVERIFY(control<QTreeWidget>(help, "tvwContents")->topLevelItemCount() >= 10);

        help->hide();
        r.item("Menu_HelpSearch")->trigger();
        QVERIFY(help->isVisible());
        QCOMPARE(control<QTabWidget>(help, "tabHelp")->currentIndex(), 1);
        auto *find = control<QLineEdit>(help, "txtFind");
        auto *found = control<QListWidget>(help, "lstTopics");
        QTest::keyClicks(find, QStringLiteral("do not dis"));
        QVERIFY(found->count() >= 1);
        QVERIFY(found->item(0)->text().startsWith(QStringLiteral("do not disturb"), Qt::CaseInsensitive));
        QTest::keyClick(find, Qt::Key_Return);
        QCOMPARE(help->currentPage().fileName(), QStringLiteral("answering.html"));

        // A word that is no keyword finds the topics that mention it.
        find->setText(QStringLiteral("firewall router"));
        QCOMPARE(found->count(), 1);
        QVERIFY(found->item(0)->text().contains(QStringLiteral("Troubleshooting")));

        r.item("Menu_HelpAbout")->trigger();
        frmAbout *about = r.shell->mainController().aboutWindow();
        QVERIFY(about->isVisible());
        const QString line = shown(about, "pnlAbout1");
        QVERIFY(line.startsWith(QStringLiteral("ZELMO for ")));
        QVERIFY(line.contains(QSysInfo::currentCpuArchitecture()));
        QVERIFY(!line.contains(QStringLiteral("Windows")));
        QCOMPARE(shown(about, "pnlVersion"), QStringLiteral("Version 2.51"));
    }

    // They open beside the main window without covering it; minimising hides them, and
    // restoring brings back the checked ones.
    void satelliteWindowsOpenBesideTheMainWindowAndGoWithIt()
    {
        Running r;
        frmMain *main = r.main();
        main->move(10, 10);
        r.shell->mainController().toggleSelfView();
        r.item("Menu_ViewRates")->trigger();
        r.shell->mainController().toggleChat();
        const QRect mainRect = main->frameGeometry();
        const QRect self = r.windowOf<frmSelf>()->frameGeometry();
        const QRect rates = r.windowOf<frmRates>()->frameGeometry();
        const QRect chat = r.windowOf<frmNewChat>()->frameGeometry();
        // The self view at the main window's right, the rates below it, the chat below.
        QCOMPARE(self.topLeft(), QPoint(mainRect.right() + 1, mainRect.top()));
        QCOMPARE(rates.left(), self.left());
        QVERIFY(rates.top() > self.bottom());
        QCOMPARE(chat.topLeft(), QPoint(mainRect.left(), mainRect.bottom() + 1));
        for (const QRect &a : {mainRect, self, rates, chat}) {
            for (const QRect &b : {mainRect, self, rates, chat})
                QVERIFY(a == b || !a.intersects(b));
        }

        r.shell->mainController().toggleChat();
        r.item("Menu_HelpAbout")->trigger();
        QVERIFY(r.windowOf<frmSelf>()->isVisible() && r.windowOf<frmRates>()->isVisible());
        QVERIFY(!r.windowOf<frmNewChat>()->isVisible());
        main->setWindowState(Qt::WindowMinimized);
        QVERIFY(!r.windowOf<frmSelf>()->isVisible());
        QVERIFY(!r.windowOf<frmRates>()->isVisible());
        QVERIFY(!r.shell->mainController().aboutWindow()->isVisible());
        // Hidden with the main window, not by the user: still checked.
        QVERIFY(r.item("Menu_ViewSelf")->isChecked());
        main->setWindowState(Qt::WindowNoState);
        QVERIFY(r.windowOf<frmSelf>()->isVisible());
        QVERIFY(!r.windowOf<frmNewChat>()->isVisible());
        QVERIFY(!r.windowOf<frmRates>()->isVisible());
    }

    // With no room at either side of a main window as wide as the screen, a window goes
    // right under it, touching it.
    void aWindowWithNoRoomBesideTheMainWindowGoesUnderIt()
    {
        const QRect area = WindowPlacement::screenArea(nullptr);
        QWidget main;
        main.setGeometry(area.left(), area.top(), area.width() - 100, 100);
        QWidget window;
        window.resize(150, 50);
        WindowPlacement::besideMain(&window, &main, {});
        // Neither is shown: each is taken with a title bar's worth of frame.
        const QRect mainOuter = WindowPlacement::outerRect(&main, nullptr);
        QCOMPARE(window.pos(), QPoint(mainOuter.left(), mainOuter.bottom() + 1));
    }

    void aSecondProgramOpensOffsetFromTheFirst()
    {
        // A second program on a machine finds the first one's control port taken and moves
        // on by four ports; its window must not open on top of the first one's.
        const int base = TestSupport::portBlock(8);
        Running first(QStringLiteral("Ann"), false, base);
        Running second(QStringLiteral("Bob"), false, base);
        QCOMPARE(second->listenPort(), base + 4);
        QCOMPARE(second.main()->pos() - first.main()->pos(), QPoint(40, 40));
        QCOMPARE(WindowPlacement::basePortOffset(2000, 2000), QPoint());
        QCOMPARE(WindowPlacement::basePortOffset(2008, 2000), QPoint(80, 80));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
