// A call's control as the user and a caller meet it: a knock during a call, the call button
// before the user has said who they are, and a call window's bookkeeping.

#include "support/RawClient.h"
#include "support/TestMain.h"
#include "support/Windows.h"
#include "ui/CallDialog.h"

namespace {

// One program of a scenario, with its windows: a user at a place.
struct Peer : RunningProgram
{
    Peer(const QString &name, const QString &location)
        : RunningProgram(name, Options{.windows = true, .testDevices = false, .location = location})
    {
    }
    frmCallIn *prompt() { return windowOf<frmCallIn>(); }
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
    void requestDuringACallIsBusyEvenOnConnectionOne()
    {
        Peer bob(QStringLiteral("Bob"), QStringLiteral("Bergen"));
        bob->parts().callStatus.callState = CallState::InCall;
        // Nor does the knock change the way the call on hand is shown to have come.
        QSignalSpy way(&bob.program->events(), &ProgramEvents::callWayChanged);
        RawClient eve(bob.port);
        QVERIFY(eve.send("RQC;Eve;Nowhere;1:00;"));
        QTRY_COMPARE(eve.received, QByteArray("BSY"));
        QVERIFY(bob.prompt() == nullptr);
        QCOMPARE(way.count(), 0);
    }

    void callButtonChecksTheUserData()
    {
        Peer ann(QStringLiteral("An"), QStringLiteral("Oslo"));
        emit ann.shell->mainWindow()->toolbarClicked(0);
        QCOMPARE(ann.windowOf<frmMessage>()->text(),
                 QStringLiteral("You must enter a name of at least 3 Characters in length.  "));
        QVERIFY(!ann.windowOf<frmDirectory>()->isVisible());
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
};

ZELMO_TEST_MAIN(TestCallControl)
#include "tst_callcontrol.moc"
