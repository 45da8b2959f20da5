#include "path/CallPath.h"
#include "path/PathDialer.h"
#include "path/PathFinder.h"
#include "path/RelayLease.h"
#include "path/IceDescription.h"
#include "path/IceModule.h"
#include "path/IceSession.h"
#include "secure/CallSecurity.h"
#include "secure/SecureDialer.h"
#include "secure/SecurityService.h"
#include "server/RelayCredentials.h"
#include "ui/SecurityBadge.h"

#include "support/DirectoryKit.h"
#include "support/SecureKit.h"
#include "support/TestSupport.h"
#include "support/TurnRelay.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>

#include <unistd.h>

using namespace DirectoryKit;
namespace Proto = DirectoryProtocol;

namespace {

// A description a real program would send: its candidates on this machine.
QByteArray realDescription()
{
    IceModule module;
    IceSession session(IceSession::Role::Caller, 4, &module);
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
    // The server's credentials for the relay are good for a while: fresh ones are asked
    // for once half of it has passed, again while none come, and ones that ran out (a
    // computer that slept through the renewal) are not used at all.
    void relayCredentialsAreRenewedBeforeTheyRunOut()
    {
        qint64 now = 1'700'000'000'000;
        RelayLease lease([&now] { return now; });
        QSignalSpy wanted(&lease, &RelayLease::renewalWanted);
        Proto::RelayAccess access{QStringLiteral("relay.example.org"), 3478, QStringLiteral("1:ann"),
                                  QStringLiteral("pw"), 0, 600};
        lease.take(access);
        now += 290'000;
        lease.check();
        QCOMPARE(wanted.count(), 0);
        now += 20'000;
        lease.check();
        QCOMPARE(wanted.count(), 1);
        lease.check();
        QCOMPARE(wanted.count(), 1);
        now += RelayLease::RetryMs;
        lease.check();
        QCOMPARE(wanted.count(), 2);
        QCOMPARE(lease.usable()->username, access.username);

        access.username = QStringLiteral("2:ann");
        lease.take(access);
        now += 250'000;
        lease.check();
        QCOMPARE(wanted.count(), 2);
        QCOMPARE(lease.usable()->username, QStringLiteral("2:ann"));
        now += 400'000;
        QVERIFY(lease.expired());
        QVERIFY(!lease.usable());
        lease.check();
        QCOMPARE(wanted.count(), 3);

        // The lease looks at the clock by itself, often enough for a short lifetime.
        access.lifetimeSeconds = 4;
        lease.take(access);
        now += 2'500;
        QVERIFY(wanted.wait(5000));
        QCOMPARE(wanted.count(), 4);

        // A server that does not say how long they last: they are used as they are.
        access.lifetimeSeconds = 0;
        lease.take(access);
        now += 100LL * 86'400'000;
        lease.check();
        QCOMPARE(wanted.count(), 4);
        QVERIFY(lease.usable());
        lease.take(std::nullopt);
        QVERIFY(!lease.usable() && !lease.expired());
    }

    // A program whose relay credentials ran out while it slept is offered a call: it asks
    // for fresh ones and looks for the path with those, which the relay takes, rather than
    // with the old ones, which it refuses; without an answer it goes on without the relay.
    void aPathWaitsForFreshRelayCredentials()
    {
        if (TurnRelay::program().isEmpty())
            QSKIP("turnserver is not installed (Debian package coturn): no relay to ask");
        QTemporaryDir dir;
        TurnRelay relay;
        const int port = TestSupport::portBlock(20);
        QString why;
        QVERIFY2(relay.startOn(QStringLiteral("127.0.0.1"), port, 19, dir.path(), &why), qPrintable(why));
        const RelayCredentials credentials(relay.secret().toLatin1());
        qint64 now = QDateTime::currentMSecsSinceEpoch();
        const auto accessUntil = [&](qint64 endMs) {
            Proto::RelayAccess a = credentials.access(QStringLiteral("127.0.0.1"), port, 0, QStringLiteral("ann"), endMs / 1000);
            a.lifetimeSeconds = int((endMs - now) / 1000);
            return a;
        };

        QStringList sent;
        QStringList log;
        int renewals = 0;
        PathFinder finder({[&sent](const QByteArray &text) {
                               sent << QString::fromUtf8(text);
                               return true;
                           },
                           [] { return true; }, [](int, const QHostAddress &) { return false; },
                           [&log](const QString &line) { log << line; }, [] { return false; }, [&renewals] { ++renewals; },
                           [&now] { return now; }});
        const QByteArray description = realDescription();
        QVERIFY(!description.isEmpty());
        const auto answerOf = [&sent](const QByteArray &id) {
            return Proto::parseCallAnswer(sent.filter(QStringLiteral("CLA;") + QString::fromLatin1(id)).value(0).toUtf8().chopped(4));
        };
        const auto relayed = [](const QByteArray &answer) { return answer.contains(" typ relay"); };

        // Credentials for a minute, taken three minutes ago by a computer that slept since:
        // the relay refuses them now.
        now -= 180'000;
        finder.setRelay(accessUntil(now + 60'000));
        now += 180'000;
        finder.offerArrived(offer("00000000000000b1", description));
        QCOMPARE(renewals, 1);
        finder.setRelay(accessUntil(now + 600'000));
        QTRY_VERIFY_WITH_TIMEOUT(answerOf("00000000000000b1"), IceSession::GatherMs + 5000);
        QVERIFY2(relayed(answerOf("00000000000000b1")->description), answerOf("00000000000000b1")->description.constData());

        // Run out again, and nobody answers: the path is looked for all the same.
        now += 700'000;
        finder.offerArrived(offer("00000000000000b2", description));
        QCOMPARE(renewals, 2);
        QTRY_VERIFY_WITH_TIMEOUT(answerOf("00000000000000b2"), PathFinder::RenewalWaitMs + IceSession::GatherMs + 5000);
        QVERIFY(!relayed(answerOf("00000000000000b2")->description));
    }

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

    // A program left running keeps its relay credentials fresh by itself: the server says
    // how long they last, and the program logs in again for new ones before they run out.
    void aRunningProgramKeepsItsRelayCredentialsFresh()
    {
        QTemporaryDir dir;
        const QString secretFile = dir.filePath(QStringLiteral("relay.secret"));
        TestSupport::writeBytes(secretFile, "a-secret-shared-with-the-relay\n");
        QFile::setPermissions(secretFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ServerConfig config;
        config.relay = Proto::ServerEntry{QStringLiteral("0.0.0.0"), 3478, {}};
        config.relaySecretFile = secretFile;
        config.relayLifetimeSeconds = 4;
        Server server(config);
        User ann(QStringLiteral("Ann"), server.directoryPort(), server.palPort(), {}, 41);
        QSignalSpy relays(&ann.pals(), &PalService::relayAccessChanged);
        ann.pals().connectPalServer();
        QTRY_VERIFY_WITH_TIMEOUT(!relays.isEmpty(), 10000);
        const auto first = relays.first().first().value<std::optional<Proto::RelayAccess>>();
        QVERIFY(first && first->lifetimeSeconds == 4);
        // Renewed at half their life, well before they end.
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(relays.size() >= 2, 10000);
        const auto second = relays.at(1).first().value<std::optional<Proto::RelayAccess>>();
        QVERIFY(second && second->username != first->username);
        qInfo("Credentials for 4 s were renewed after %lld ms", clock.elapsed());
    }

    // Bob called Ann over a path before, so her address is one that answered encrypted,
    // and a direct call there waits longer for her encrypted port before it goes plain.
    // With a path being found beside it, what follows her port's silence is the path, not
    // a plain call: the direct way is given up on as soon as for anyone.
    void aRepeatedCallDoesNotWaitLongerForTheDirectWay()
    {
        SecureKit::End bob(QStringLiteral("bob@example.org"));
        bob.service->knownPeers().remember(QStringLiteral("ann@example.org"), QByteArray(32, 'a'), QStringLiteral("127.0.0.1"));
        SecureDialer &direct = bob.service->dialer();
        // Far apart, so that the wait taken shows on a busy machine.
        direct.setWaits(300, 60000, SecureDialer::HandshakeMs);
        const int base = TestSupport::portBlock(20);
        TestSupport::SilentPort silent(base + PortPlan::EncryptedOffset);
        QVERIFY(silent.isSilent());
        // The path is given up already, so the direct way's outcome is the call's.
        IceModule module;
        CallPath path(std::make_unique<IceSession>(IceSession::Role::Caller, 4, &module), CallPath::Role::Caller,
                      "00000000000000c1", QHostAddress(QHostAddress::LocalHost), base);
        path.fail(QStringLiteral("no path"));
        PathDialer dialer(direct, [&path](const QString &, int) { return &path; });
        bool done = false;
        QElapsedTimer took;
        took.start();
        const auto attempt = dialer.dial(QHostAddress(QHostAddress::LocalHost), base, PeerChannel::Control,
                                         [&done](ChannelDialer::Outcome) { done = true; });
        QTRY_VERIFY_WITH_TIMEOUT(done, 20000);
        qInfo("The direct way was given up after %lld ms", took.elapsed());
    }

    // Without its ICE module a program still answers: an offer is turned down through the
    // server, as when no path can be found, and the log says what is missing.
    void withoutTheIceModuleAnOfferIsTurnedDown()
    {
        QStringList sent;
        QStringList log;
        PathFinder::Context context{[&sent](const QByteArray &text) {
                                        sent << QString::fromUtf8(text);
                                        return true;
                                    },
                                    [] { return true; }, [](int, const QHostAddress &) { return false; },
                                    [&log](const QString &line) { log << line; }, [] { return false; }};
        QTemporaryDir empty;
        context.iceModuleFolders = {empty.path()};
        PathFinder finder(std::move(context));
        finder.offerArrived(offer("00000000000000d1", realDescription()));
        QTRY_COMPARE_WITH_TIMEOUT(sent.filter(QStringLiteral("CLX;00000000000000d1")).size(), 1, 5000);
        QVERIFY2(!log.filter(QStringLiteral("zelmo-ice.so was not found")).isEmpty(), qPrintable(log.join(QLatin1Char('\n'))));
        QTRY_COMPARE_WITH_TIMEOUT(finder.pathCount(), 0, 5000);
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
        IceModule module;
        IceSession caller(IceSession::Role::Caller, 4, &module);
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
        ann.pals().setListenPort(nowhere);
        for (User *u : {&ann, &bob})
            u->pals().connectPalServer();
        QTRY_VERIFY_WITH_TIMEOUT(ann.pals().passesPathTexts() && bob.pals().passesPathTexts(), 10000);
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
