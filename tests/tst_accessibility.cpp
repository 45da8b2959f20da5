// What a screen reader and a keyboard-only user get: every window opened from the menus,
// walked through the accessibility interfaces, and the journey from finding a user to
// hanging up made with key presses alone.

#include "directory/ServerKeyTrust.h"
#include "support/DirectoryKit.h"
#include "support/Windows.h"

#include <QAccessible>
#include <QMessageBox>
#include <QSet>

namespace {

struct Running : RunningProgram
{
    explicit Running(const QString &name, bool autoAccept = false)
        : RunningProgram(name, Options{.windows = true, .autoAccept = autoAccept})
    {
        if (!finishStarting())
            qWarning() << name << "did not finish starting";
    }
};

// Controls a person acts on; their inner items (a list's rows, a box's choices) are not
// walked, the control itself carries the name.
bool interactive(QAccessible::Role role)
{
    static const QAccessible::Role roles[] = {
        QAccessible::Button, QAccessible::CheckBox, QAccessible::RadioButton, QAccessible::ComboBox,
        QAccessible::EditableText, QAccessible::SpinBox, QAccessible::Slider, QAccessible::List,
        QAccessible::Tree, QAccessible::Table, QAccessible::PageTab, QAccessible::ButtonMenu,
        QAccessible::ButtonDropDown};
    return std::find(std::begin(roles), std::end(roles), role) != std::end(roles);
}

bool itemsWithin(QAccessible::Role role)
{
    return role == QAccessible::List || role == QAccessible::Tree || role == QAccessible::Table
           || role == QAccessible::ComboBox || role == QAccessible::MenuBar || role == QAccessible::PopupMenu;
}

// The interactive controls met so far, by accessible id, and the unnamed ones described.
struct Walk
{
    QSet<QAccessible::Id> controls;
    QMap<QAccessible::Id, QString> unnamed;

    void visit(QAccessibleInterface *a, const QString &where)
    {
        if (!a || a->state().invisible)
            return;
        const QAccessible::Role role = a->role();
        if (interactive(role)) {
            const QAccessible::Id id = QAccessible::uniqueId(a);
            controls.insert(id);
            if (a->text(QAccessible::Name).trimmed().isEmpty())
                unnamed.insert(id, where + QLatin1Char('/') + (a->object() ? a->object()->objectName() : QString())
                                       + QStringLiteral(" (role %1)").arg(int(role)));
        }
        if (itemsWithin(role))
            return;
        for (int i = 0; i < a->childCount(); ++i)
            visit(a->child(i), where);
    }

    // Every page of every tab set is walked in turn.
    void window(QWidget *w)
    {
        const QList<QTabWidget *> tabSets = w->findChildren<QTabWidget *>();
        visit(QAccessible::queryAccessibleInterface(w), w->objectName());
        for (QTabWidget *tabs : tabSets) {
            const int was = tabs->currentIndex();
            for (int i = 0; i < tabs->count(); ++i) {
                tabs->setCurrentIndex(i);
                visit(QAccessible::queryAccessibleInterface(w), w->objectName() + QLatin1Char(':') + tabs->tabText(i));
            }
            tabs->setCurrentIndex(was);
        }
    }
};

// The keyboard of one user: every key goes to the control with the focus (or the open
// menu), as a person's keyboard sends it.
QWidget *keyboardTarget()
{
    if (QWidget *popup = QApplication::activePopupWidget())
        return popup;
    if (QWidget *focused = QApplication::focusWidget())
        return focused;
    return QApplication::activeWindow();
}

void press(const QKeySequence &keys)
{
    QTest::keySequence(keyboardTarget(), keys);
}

void press(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QTest::keyClick(keyboardTarget(), key, modifiers);
}

void type(const QString &text)
{
    QTest::keyClicks(keyboardTarget(), text);
}

// Tab until the control of that name has the focus; false when the chain never reaches it.
bool tabTo(const char *name)
{
    for (int i = 0; i < 40; ++i) {
        if (QApplication::focusWidget() && QApplication::focusWidget()->objectName() == QLatin1String(name))
            return true;
        press(Qt::Key_Tab);
    }
    return false;
}

// The person at the other program sits down at it: its window takes the keyboard.
bool sitAt(QWidget *window)
{
    window->activateWindow();
    return QTest::qWaitFor([window] { return QApplication::activeWindow() == window; });
}

} // namespace

class TestAccessibility : public QObject
{
    Q_OBJECT

private slots:
    void everyWindowFromTheMenusNamesEveryControl()
    {
        Running ann(QStringLiteral("Ann"));
        Running bob(QStringLiteral("Bob"));
        for (const char *item : {"Menu_FileCall", "Menu_ViewSelf", "Menu_ViewChat", "Menu_ViewLog", "Menu_ViewRates",
                                 "Menu_ViewOptions", "Menu_HelpContents", "Menu_HelpAbout"})
            ann.item(item)->trigger();
        // A compose window, as the directory's Send Message opens it, and a call prompt.
        emit ann.program->directory().sendMessageRequested(QStringLiteral("Bob"), QStringLiteral("Bobville"),
                                                           QStringLiteral("127.0.0.1"), bob.port, 55);
        // The question the directory window asks when its server's key changed.
        emit ann.program->serverKeys().question(QStringLiteral("The key changed."));
        bob.call(ann);
        QTRY_VERIFY_WITH_TIMEOUT(ann.windowOf<frmCallIn>() && ann.windowOf<frmCallIn>()->isVisible(), 10000);
        QVERIFY(ann.windowOf<frmDirectory>()->findChild<QMessageBox *>(QStringLiteral("ServerKeyBox")));

        Walk walk;
        QSet<QWidget *> seen;
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (w->isVisible() && w->window() == w && w != bob.main() && !bob.main()->isAncestorOf(w))
                walk.window(w);
        }
        qInfo("accessibility walk: %d interactive controls, %d without a name", int(walk.controls.size()),
              int(walk.unnamed.size()));
        for (const QString &where : std::as_const(walk.unnamed))
            qInfo("  no name: %s", qPrintable(where));
        QVERIFY(walk.controls.size() > 40);
        QVERIFY2(walk.unnamed.isEmpty(), qPrintable(walk.unnamed.values().join(QStringLiteral(", "))));
    }

    // Ann finds Bob in the directory, leaves him a quick message and calls him; Bob
    // answers from his keyboard; they talk and chat; Ann changes her options and hangs up.
    // No mouse, no method calls: keys on whatever has the focus.
    void theWholeJourneyFromTheKeyboardAlone()
    {
        using namespace DirectoryKit;
        Server server;
        User ann(QStringLiteral("Ann"), server.directoryPort(), server.palPort(), {}, 31);
        User bob(QStringLiteral("Bob"), server.directoryPort(), server.palPort(), {}, 32);
        // The self view comes with the main window at the end of the start-up, as it does for a
        // person, not in the middle of the journey taking the keyboard.
        QVERIFY(ann.finishStarting());
        QVERIFY(bob.finishStarting());
        bob.openDirectory();
        QTRY_COMPARE(bob.window()->panelText(2), QStringLiteral("Select User for Connection"));
        bob.window()->hide();
        QVERIFY(sitAt(ann.main()));

        // Ctrl+C opens the directory; typing a name in the list finds the user.
        press(QKeySequence(Qt::CTRL | Qt::Key_C));
        QTRY_VERIFY(ann.window()->isActiveWindow());
        auto *list = ann.find<QTreeWidget>("lstGlobal");
        QTRY_COMPARE_WITH_TIMEOUT(list->topLevelItemCount(), 2, 10000);
        QVERIFY(tabTo("lstGlobal"));
        type(QStringLiteral("Bob"));
        QCOMPARE(list->currentItem()->text(0), QStringLiteral("Bob"));

        // Send Message: the compose window takes the text, Tab reaches Send.
        QVERIFY(tabTo("cmdSendMsg"));
        press(Qt::Key_Space);
        QPointer<frmMsgOut> out = ann.main()->findChild<frmMsgOut *>();
        QTRY_VERIFY(out && out->isActiveWindow());
        type(QStringLiteral("Call me"));
        QVERIFY(tabTo("cmdSend"));
        press(Qt::Key_Space);
        QTRY_COMPARE_WITH_TIMEOUT(bob->messages().waitingCount(), 1, 10000);
        // The envelope is announced; the alert itself needs a screen reader on the desktop.
        QCOMPARE(said(control(bob.main(), "imgMsgIn"), QAccessible::Description),
                 QStringLiteral("New quick message from Ann"));

        // Back in the directory, Enter on the picked user calls.
        QTRY_VERIFY(!out);
        QVERIFY(sitAt(ann.window()));
        QVERIFY(tabTo("lstGlobal"));
        press(Qt::Key_Return);
        QTRY_VERIFY_WITH_TIMEOUT(bob.windowOf<frmCallIn>() && bob.windowOf<frmCallIn>()->isVisible(), 10000);
        // The prompt is announced (this test's display activates every new window, so
        // that it leaves the keyboard alone is not seen here).
        QVERIFY(said(bob.windowOf<frmCallIn>(), QAccessible::Description)
                    .startsWith(QStringLiteral("Incoming call from Ann, Room Ann.")));
        QVERIFY(sitAt(bob.main()));
        press(frmCallIn::answerKey());
        QVERIFY(ann.waitInCall(bob));

        // Ann talks while she holds Space on Talk.
        QVERIFY(sitAt(ann.main()));
        QVERIFY(tabTo("cmdtoolbar4"));
        QTest::keyPress(keyboardTarget(), Qt::Key_Space);
        QTRY_VERIFY(ann->audioControl().isMicOpen());
        QCOMPARE(said(control(ann.main(), "imgLedMic")), QStringLiteral("Microphone open"));
        QTest::keyRelease(keyboardTarget(), Qt::Key_Space);
        QVERIFY(!ann->audioControl().isMicOpen());

        // Ctrl+T opens the chat with the typing box ready; Bob reads what she types.
        press(QKeySequence(Qt::CTRL | Qt::Key_T));
        QTRY_VERIFY(ann.windowOf<frmNewChat>()->isActiveWindow());
        type(QStringLiteral("hello"));
        QTRY_VERIFY(shown(bob.windowOf<frmNewChat>(), "txtIn").contains(QStringLiteral("hello")));

        // Alt+V, O: the options; a new name and Enter keeps it.
        QVERIFY(sitAt(ann.main()));
        press(Qt::Key_V, Qt::AltModifier);
        QTRY_VERIFY(QApplication::activePopupWidget());
        press(Qt::Key_O);
        frmOptions *options = ann.shell->mainController().optionsWindow();
        QTRY_VERIFY(options->isActiveWindow());
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("txtName"));
        press(QKeySequence::SelectAll);
        type(QStringLiteral("Annie"));
        press(Qt::Key_Return);
        QTRY_VERIFY(!options->isVisible());
        QCOMPARE(ann.settings().Name, QStringLiteral("Annie"));

        // Ctrl+H hangs up on both sides.
        QVERIFY(sitAt(ann.main()));
        press(QKeySequence(Qt::CTRL | Qt::Key_H));
        QTRY_COMPARE(ann.call().callState, CallState::Idle);
        QTRY_COMPARE(bob.call().callState, CallState::Idle);
    }
};

QTEST_MAIN(TestAccessibility)
#include "tst_accessibility.moc"
