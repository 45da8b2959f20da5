#include "path/CallPath.h"
#include "path/PathFinder.h"
#include "reach/IceDescription.h"
#include "reach/IceSession.h"
#include "secure/CallSecurity.h"
#include "ui/SecurityBadge.h"

#include "support/DirectoryKit.h"
#include "support/TestSupport.h"

#include <QSignalSpy>

#include <unistd.h>

using namespace DirectoryKit;
namespace Proto = DirectoryProtocol;

namespace {

// A description a real program would send: its candidates on this machine.
QByteArray realDescription()
{
    IceSession session(IceSession::Role::Caller, 4);
    session.setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
    QSignalSpy gathered(&session, &IceSession::gathered);
    session.gather();
    if (!gathered.wait(10000))
        return {};
    return session.localDescription().toText();
}

Proto::RelayedOffer offer(const QByteArray &id, const QByteArray &description)
{
    return {id, QStringLiteral("bob@example.org"), 42, QByteArray(32, 'k'), QStringLiteral("127.0.0.1"), description};
}

} // namespace

class TestPathFinder : public QObject
{
    Q_OBJECT

private slots:
    // Offers come from strangers through the server: a few are answered at once, more wait
    // for none, and one that cannot be read is refused rather than answered.
    void offersFromOthersAreBoundedAndBadOnesRefused()
    {
        QStringList sent;
        QStringList log;
        PathFinder finder({[&sent](const QByteArray &text) {
                               sent << QString::fromUtf8(text);
                               return true;
                           },
                           [] { return true; }, [](int, const QHostAddress &) { return false; },
                           [&log](const QString &line) { log << line; }, [] { return false; }});
        const QByteArray description = realDescription();
        QVERIFY(!description.isEmpty());

        finder.offerArrived(offer("00000000000000a1", "v1|not|a|description"));
        QCOMPARE(sent.value(0), QStringLiteral("CLX;00000000000000a1;refused;<ET>"));
        finder.offerArrived(offer("00000000000000a2", description));
        finder.offerArrived(offer("00000000000000a2", description)); // the same offer twice
        finder.offerArrived(offer("00000000000000a3", description));
        finder.offerArrived(offer("00000000000000a4", description));
        QCOMPARE(finder.pathCount(), PathFinder::MaxIncomingFinding);
        QVERIFY(sent.contains(QStringLiteral("CLX;00000000000000a4;limit;<ET>")));
        // Each one taken is answered with this program's own description.
        QTRY_COMPARE(sent.filter(QStringLiteral("CLA;")).size(), 2);
        QVERIFY(Proto::parseCallAnswer(sent.filter(QStringLiteral("CLA;00000000000000a2")).value(0).toUtf8().chopped(4)));
        // An answer or an end for an offer this program never made changes nothing.
        finder.answerArrived({"00000000000000ff", description});
        finder.endArrived({"00000000000000ff", QStringLiteral("gone")});
        QCOMPARE(finder.pathCount(), 2);
        // The caller gives up: its offer's path goes.
        finder.endArrived({"00000000000000a3", QStringLiteral("gone")});
        QCOMPARE(finder.pathCount(), 1);
    }

    // A connection over a path that the encrypted port's handshake turns away is no call:
    // nothing says one came, and no way is shown for it.
    void aConnectionTheHandshakeRefusesIsNoCall()
    {
        QStringList sent;
        QStringList log;
        int refused = 0;
        PathFinder finder({[&sent](const QByteArray &text) {
                               sent << QString::fromUtf8(text);
                               return true;
                           },
                           [] { return true; },
                           [&refused](int descriptor, const QHostAddress &) {
                               ::close(descriptor);
                               ++refused;
                               return false;
                           },
                           [&log](const QString &line) { log << line; }, [] { return false; }});
        QSignalSpy came(&finder, &PathFinder::incomingWayKnown);
        IceSession caller(IceSession::Role::Caller, 4);
        caller.setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
        QSignalSpy gathered(&caller, &IceSession::gathered);
        caller.gather();
        QVERIFY(gathered.wait(10000));
        finder.offerArrived(offer("00000000000000b1", caller.localDescription().toText()));
        QTRY_COMPARE_WITH_TIMEOUT(sent.filter(QStringLiteral("CLA;")).size(), 1, 10000);
        const auto answer = Proto::parseCallAnswer(sent.filter(QStringLiteral("CLA;")).value(0).toUtf8().chopped(4));
        QVERIFY(answer);
        QSignalSpy ready(&caller, &IceSession::ready);
        const std::optional<IceDescription> theirs = IceDescription::parse(answer->description);
        QVERIFY(theirs && caller.start(*theirs));
        QVERIFY(ready.wait(IceSession::ConnectMs));
        const int control = caller.takeSocket(int(PeerChannel::Control) + 1);
        QCOMPARE(::write(control, "x", 1), 1);
        QTRY_COMPARE_WITH_TIMEOUT(refused, 1, 10000);
        QCOMPARE(came.size(), 0);
        QVERIFY2(log.filter(QStringLiteral("A call came")).isEmpty(), qPrintable(log.join(QLatin1Char('\n'))));
        ::close(control);
    }

    // Ann's router forwards nothing (here: she tells the server a port where nothing
    // listens), so Bob cannot call her directly; the server passes his offer, a path is
    // found, and the call runs over it encrypted with the same four words on both sides.
    void aCalleeNobodyCanReachDirectlyIsCalledOverAPath()
    {
        Server server;
        User ann(QStringLiteral("Ann"), server.directoryPort(), server.palPort(), {}, 41);
        User bob(QStringLiteral("Bob"), server.directoryPort(), server.palPort(), {}, 42);
        ann.settings().AutoAccept = true;
        const int nowhere = TestSupport::portBlock(4);
        ann.directory().setListenPort(nowhere);
        for (User *u : {&ann, &bob})
            u->directory().connectPalServer();
        QTRY_VERIFY_WITH_TIMEOUT(ann.directory().passesPathTexts() && bob.directory().passesPathTexts(), 10000);
        bob.openDirectory();
        QTRY_COMPARE(bob.window()->panelText(2), QStringLiteral("Select User for Connection"));

        bob.calls().placeCall(QStringLiteral("ann@example.org"), 0, 0);
        QVERIFY2(bob.waitInCall(ann, 30000), qPrintable(bob.log().join(QLatin1Char('\n'))));
        QVERIFY(bob.logged(QStringLiteral("Looking for a path to ann@example.org through the directory server")));
        QVERIFY(ann.log().filter(QStringLiteral("A call came")).size() == 1);
        const QString annCode = ann->security().call().status().shortCode;
        QVERIFY(!annCode.isEmpty());
        QCOMPARE(bob->security().call().status().shortCode, annCode);
        // On one machine the path found joins the two directly.
        QTRY_COMPARE(bob.main()->securityBadge()->way(), CallPath::wayText(CallPath::Way::Direct));
        QTRY_COMPARE(ann.main()->securityBadge()->way(), CallPath::wayText(CallPath::Way::Direct));

        QElapsedTimer hangUp;
        hangUp.start();
        bob.calls().hangUp();
        // The hang-up itself ends the call at the callee, not a lost path found much later.
        QTRY_VERIFY_WITH_TIMEOUT(!ann.inCall() && !bob.inCall(), 5000);
        qInfo("The hang-up reached the callee after %lld ms", hangUp.elapsed());
        QCOMPARE(ann.log().filter(QStringLiteral("The path of the call broke")).size(), 0);

        QTRY_VERIFY(bob.main()->securityBadge()->way().isEmpty());
    }
};

QTEST_MAIN(TestPathFinder)
#include "tst_pathfinder.moc"
