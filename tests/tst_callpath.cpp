// The directory server as the meeting point of two programs that cannot reach each other
// directly: it passes a call's offer, answer and end between two programs logged in with
// their keys over TLS, says who sent an offer as far as it knows them, bounds what one
// program can make it pass, tells nothing of it to a plain connection, and hands out
// credentials for the relay beside it that a real relay takes.

#include "server/CallTable.h"
#include "server/RelayCredentials.h"
#include "support/DirectoryKit.h"
#include "support/NodeKit.h"

#include <QProcess>
#include <QStandardPaths>

namespace Proto = DirectoryProtocol;
using DirectoryKit::Server;
using NodeKit::KeyedClient;

namespace {

// The first whole message with this command that came, taken off what was heard.
QByteArray take(QByteArray &received, const QByteArray &command)
{
    const qsizetype at = received.startsWith(command + ';') ? 0 : received.indexOf("<ET>" + command + ';');
    if (at < 0)
        return {};
    const qsizetype start = at == 0 ? 0 : at + 4;
    const qsizetype end = received.indexOf("<ET>", start);
    if (end < 0)
        return {};
    const QByteArray message = received.mid(start, end - start);
    received.remove(start, end + 4 - start);
    return message;
}

// Waits for the next message with the command.
QByteArray next(KeyedClient &client, const QByteArray &command, int ms = 5000)
{
    QByteArray found;
    (void)QTest::qWaitFor([&] { return !(found = take(client.received, command)).isEmpty(); }, ms);
    return found;
}

QByteArray offer(const QByteArray &id, const QString &target, const QByteArray &description = "v=0 candidates")
{
    return Proto::callOffer({id, target, description});
}

QByteArray callId(int n)
{
    return QByteArray::number(0xc0ffee000000 + n, 16).rightJustified(Proto::CallIdLength, '0');
}

QByteArray ended(const QByteArray &id, const char *reason)
{
    return "CLX;" + id + ';' + reason + ';';
}

// A program logged in on the encrypted pal port with a key of its own, its e-mail and the
// number the server handed it out bound to that key; or, when `claimed` is given, that
// number, which nobody handed out (-1: none).
struct KeyedProgram
{
    NodeKit::Key key;
    std::unique_ptr<KeyedClient> pal;
    qint32 number = 0;

    KeyedProgram(Server &server, const QByteArray &email, qint32 claimed = 0)
        : number(claimed)
    {
        if (claimed == 0)
            number = NodeKit::numberFor(server.palPort() + PortPlan::EncryptedOffset, &key.identity);
        pal = std::make_unique<KeyedClient>(server.palPort() + PortPlan::EncryptedOffset, &key.identity);
        pal->send(login(number, "Someone", email, false));
    }
    void send(const QByteArray &bytes) { pal->send(bytes); }
    QByteArray next(const QByteArray &command, int ms = 5000) { return ::next(*pal, command, ms); }
    QByteArray &received() { return pal->received; }
};

// Whether the server's user with this e-mail is logged in with it bound to its key.
bool keyedOnLine(Server &server, const char *email, int connections)
{
    const UserRegistry::User *u = server.server->users().findByEmail(QString::fromLatin1(email));
    return u && u->entry.Keyed && server.server->users().connections() == connections;
}

// A relay (coturn's turnserver) on this test's ports, sharing `secret`.
struct Relay
{
    QTemporaryDir dir;
    QProcess process;
    int port = 0;
    QByteArray log;

    bool start(const QByteArray &secret)
    {
        const int base = TestSupport::portBlock(24);
        port = base;
        process.setProcessChannelMode(QProcess::MergedChannels);
        QObject::connect(&process, &QProcess::readyRead, [this] { log += process.readAll(); });
        process.start(QStandardPaths::findExecutable(QStringLiteral("turnserver")),
                      {QStringLiteral("--use-auth-secret"), QStringLiteral("--static-auth-secret=") + QString::fromLatin1(secret),
                       QStringLiteral("--realm=zelmo.test"), QStringLiteral("--listening-ip=127.0.0.1"),
                       QStringLiteral("--listening-port=%1").arg(base), QStringLiteral("--min-port=%1").arg(base + 4),
                       QStringLiteral("--max-port=%1").arg(base + 23), QStringLiteral("--no-cli"), QStringLiteral("--no-tls"),
                       QStringLiteral("--no-dtls"), QStringLiteral("--allow-loopback-peers"),
                       QStringLiteral("--log-file=stdout"), QStringLiteral("--simple-log"),
                       QStringLiteral("--pidfile=") + dir.filePath(QStringLiteral("turnserver.pid")),
                       QStringLiteral("--userdb=") + dir.filePath(QStringLiteral("turndb"))});
        // It listens once it says so; the client below tries until it answers anyway.
        return process.waitForStarted(5000)
               && QTest::qWaitFor([this] { return TestSupport::listening(port) || process.state() != QProcess::Running; },
                                  10000)
               && process.state() == QProcess::Running;
    }
    ~Relay()
    {
        if (process.state() != QProcess::NotRunning) {
            process.terminate();
            if (!process.waitForFinished(5000))
                process.kill();
            process.waitForFinished(2000);
        }
    }
    // Whether the relay gives these credentials an allocation and relays through it (its
    // own client's round of a few packets between two allocations).
    bool accepts(const QString &username, const QString &password, QByteArray *output)
    {
        QProcess client;
        client.setProcessChannelMode(QProcess::MergedChannels);
        client.start(QStandardPaths::findExecutable(QStringLiteral("turnutils_uclient")),
                     {QStringLiteral("-p"), QString::number(port), QStringLiteral("-u"), username, QStringLiteral("-w"),
                      password, QStringLiteral("-n"), QStringLiteral("1"), QStringLiteral("-m"), QStringLiteral("1"),
                      QStringLiteral("-y"), QStringLiteral("-e"), QStringLiteral("127.0.0.1"),
                      QStringLiteral("127.0.0.1")});
        const bool finished = client.waitForStarted(5000) && client.waitForFinished(60000);
        if (!finished)
            client.kill();
        client.waitForFinished(2000);
        *output = client.readAll();
        return finished && client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0;
    }
};

} // namespace

class TestCallPath : public QObject
{
    Q_OBJECT

private slots:
    void anOfferReachesTheKeyedCalleeAndOnlyItsPartiesTalk()
    {
        Server server;
        KeyedProgram ann(server, "ann@example.org");
        KeyedProgram bob(server, "bob@example.org");
        KeyedProgram mallory(server, "mallory@example.org");
        QTRY_VERIFY(keyedOnLine(server, "ann@example.org", 3) && keyedOnLine(server, "bob@example.org", 3));
        QCOMPARE(ann.number, 1);
        QCOMPARE(bob.number, 2);

        // By e-mail, written as a person might, then by number: Bob hears who offers as the
        // server knows Ann, and her description as she sent it.
        ann.send(offer(callId(1), QStringLiteral(" Bob@Example.ORG "), "ice-ufrag:a1;candidate 1"));
        ann.send(offer(callId(2), QStringLiteral("2"), "ice-ufrag:a2 candidate 2"));
        for (const int n : {1, 2}) {
            const std::optional<Proto::RelayedOffer> o = Proto::parseRelayedOffer(bob.next("CLO"));
            QVERIFY(o);
            QCOMPARE(o->callId, callId(n));
            QCOMPARE(o->fromEmail, QStringLiteral("ann@example.org"));
            QCOMPARE(o->fromNumber, ann.number);
            QCOMPARE(o->fromKey, ann.key.identity.fingerprint());
            QCOMPARE(o->fromKey.size(), 32);
            QCOMPARE(o->fromAddress, QStringLiteral("127.0.0.1"));
            QCOMPARE(o->description, n == 1 ? QByteArray("ice-ufrag:a1candidate 1") : QByteArray("ice-ufrag:a2 candidate 2"));
        }

        // Mallory forges Bob's answer and Ann's end of call 1, and offers under Ann's id;
        // only the last earns an answer, to her alone.
        mallory.send(Proto::callAnswer({callId(1), "forged answer"}) + Proto::callEnd({callId(1), QStringLiteral("forged")})
                     + offer(callId(1), QStringLiteral("bob@example.org")));
        QCOMPARE(mallory.next("CLX"), ended(callId(1), Proto::EndRefused));
        // The answer of the callee goes to the caller; the caller's own "answer" nowhere.
        ann.send(Proto::callAnswer({callId(2), "caller's own answer"}));
        bob.send(Proto::callAnswer({callId(1), "bob's answer"}));
        const std::optional<Proto::CallAnswer> answer = Proto::parseCallAnswer(ann.next("CLA"));
        QVERIFY(answer);
        QCOMPARE(answer->callId, callId(1));
        QCOMPARE(answer->description, QByteArray("bob's answer"));
        // Ann ends call 1 herself: Bob hears her end, after none of the forged texts.
        ann.send(Proto::callEnd({callId(1), QStringLiteral("hung up")}));
        QCOMPARE(bob.next("CLX"), ended(callId(1), "hung up"));
        QVERIFY2(!bob.received().contains("CLA") && !bob.received().contains("forged"), bob.received().constData());
        QVERIFY2(!ann.received().contains("forged") && !ann.received().contains("CLX"), ann.received().constData());
        QVERIFY2(!mallory.received().contains("CLA") && !mallory.received().contains("CLO"),
                 mallory.received().constData());
        // Call 1 is over: a late text of Bob's for it goes nowhere.
        bob.send(Proto::callAnswer({callId(1), "late"}) + offer(callId(6), QStringLiteral("nobody@example.org")));
        QCOMPARE(bob.next("CLX"), ended(callId(6), Proto::EndOffline));

        // Carol's number was never handed out, so it is not her key's: Bob hears her e-mail
        // alone, and nobody finds her by that number.
        KeyedProgram carol(server, "carol@example.org", 4242);
        QTRY_VERIFY(keyedOnLine(server, "carol@example.org", 4));
        QCOMPARE(server.server->users().findByEmail(QStringLiteral("carol@example.org"))->entry.UserNumber, 4242);
        carol.send(offer(callId(7), QStringLiteral("bob@example.org")) + offer(callId(8), QStringLiteral("2")));
        for (const int n : {7, 8}) {
            const std::optional<Proto::RelayedOffer> fromCarol = Proto::parseRelayedOffer(bob.next("CLO"));
            QVERIFY(fromCarol && fromCarol->callId == callId(n));
            QCOMPARE(fromCarol->fromEmail, QStringLiteral("carol@example.org"));
            QCOMPARE(fromCarol->fromNumber, Proto::NoUserNumber);
        }
        bob.send(offer(callId(9), QStringLiteral("4242")));
        QCOMPARE(bob.next("CLX"), ended(callId(9), Proto::EndOffline));

        // Nobody on line with that e-mail or number, or only Ann herself.
        ann.send(offer(callId(3), QStringLiteral("dave@example.org")) + offer(callId(4), QStringLiteral("77"))
                 + offer(callId(5), QStringLiteral("ann@example.org")));
        QCOMPARE(ann.next("CLX"), ended(callId(3), Proto::EndOffline));
        QCOMPARE(ann.next("CLX"), ended(callId(4), Proto::EndOffline));
        QCOMPARE(ann.next("CLX"), ended(callId(5), Proto::EndOffline));
        QVERIFY(!ann.received().contains("late"));

        // Ann goes while call 2 is open: Bob is told, and only of call 2; then Carol, who
        // called him: he learns of her two calls, her calls end with her.
        ann.pal->socket.abort();
        QCOMPARE(bob.next("CLX"), ended(callId(2), Proto::EndGone));
        QVERIFY2(!bob.received().contains("CLX"), bob.received().constData());
        carol.pal->socket.abort();
        QCOMPARE(bob.next("CLX"), ended(callId(7), Proto::EndGone));
        QCOMPARE(bob.next("CLX"), ended(callId(8), Proto::EndGone));
    }

    void offersBeyondTheBoundsAreRefusedWhileOthersPass()
    {
        Server server;
        KeyedProgram bob(server, "bob@example.org");
        KeyedProgram mallory(server, "mallory@example.org");
        KeyedProgram eve(server, "eve@example.org");
        KeyedProgram ann(server, "ann@example.org");
        QTRY_VERIFY(keyedOnLine(server, "ann@example.org", 4));

        // Mallory keeps four calls open with Bob, then floods: the rest are refused, the
        // offers to nobody too once the minute's share is gone.
        QByteArray flood;
        for (int n = 1; n <= 10; ++n)
            flood += offer(callId(n), QStringLiteral("bob@example.org"));
        for (int n = 11; n <= 30; ++n)
            flood += offer(callId(n), QStringLiteral("nobody@example.org"));
        mallory.send(flood);
        for (int n = 1; n <= 30; ++n) {
            const char *reason = n <= 4 ? nullptr : n <= 10 ? Proto::EndLimit : n <= 20 ? Proto::EndOffline : Proto::EndLimit;
            if (reason)
                QCOMPARE(mallory.next("CLX"), ended(callId(n), reason));
        }
        // Eve fills Bob's offers, by his number: eight in all; Ann's next finds no room.
        for (int n = 31; n <= 34; ++n)
            eve.send(offer(callId(n), QString::number(bob.number)));
        int offered = 0;
        while (offered < 8 && !bob.next("CLO").isEmpty())
            ++offered;
        QCOMPARE(offered, CallTable::MaxOffersPerCallee);
        ann.send(offer(callId(39), QStringLiteral("bob@example.org")));
        QCOMPARE(ann.next("CLX"), ended(callId(39), Proto::EndLimit));
        // Ann is not held up by either: her call to Eve passes.
        ann.send(offer(callId(40), QStringLiteral("eve@example.org")));
        QVERIFY(Proto::parseRelayedOffer(eve.next("CLO")));
        // Mallory ends one of hers: Bob has room for Ann's again.
        mallory.send(Proto::callEnd({callId(1), QStringLiteral("done")}));
        QCOMPARE(bob.next("CLX"), ended(callId(1), "done"));
        ann.send(offer(callId(41), QStringLiteral("bob@example.org")));
        const std::optional<Proto::RelayedOffer> toBob = Proto::parseRelayedOffer(bob.next("CLO"));
        QVERIFY(toBob && toBob->callId == callId(41) && toBob->fromEmail == QStringLiteral("ann@example.org"));
        QVERIFY2(!bob.received().contains("CLO"), bob.received().constData());

        // One line (they all come from one address, within the server's one-minute period),
        // then the summary counts the rest: the period is cut short to see it.
        QCOMPARE(server.logged(QStringLiteral("call offer refused")), 1);
        server.server->setSummaryPeriod(100);
        QTRY_VERIFY(server.logged(QStringLiteral("more like \"call offers beyond the bounds\"")) == 1);
    }

    void aPlainConnectionSeesNoneOfIt()
    {
        const QByteArray secret = "plain-secret";
        QTemporaryDir dir;
        const QString secretFile = dir.filePath(QStringLiteral("relay.secret"));
        TestSupport::writeBytes(secretFile, secret);
        QFile::setPermissions(secretFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ServerConfig config;
        config.relay = Proto::ServerEntry{QStringLiteral("127.0.0.1"), 3478, {}};
        config.relaySecretFile = secretFile;
        Server server(config);
        KeyedProgram bob(server, "bob@example.org");
        QVERIFY(!bob.next("RLY").isEmpty());
        QTRY_VERIFY(keyedOnLine(server, "bob@example.org", 1));

        // A program of the published protocol logs in on the pal port and offers, answers
        // and ends as if it knew how: it hears exactly what it heard before, and Bob nothing.
        RawClient plain(server.palPort());
        plain.send(login(0, "Plain", "plain@example.org", false) + offer(callId(1), QStringLiteral("bob@example.org"))
                   + Proto::callAnswer({callId(2), "answer"}) + Proto::callEnd({callId(2), QStringLiteral("x")}));
        QTRY_VERIFY(server.server->users().connections() == 2);
        plain.send(Proto::emailLookup(QStringLiteral("bob@example.org")));
        const QByteArray heard = plain.answer("GER", 5000, true);
        QVERIFY2(heard.startsWith("GER;bob@example.org;Someone;Here;127.0.0.1;2000;") && heard.count("<ET>") == 1,
                 heard.constData());
        // Bob's offer to the plain user finds nobody to pass it to.
        bob.send(offer(callId(3), QStringLiteral("plain@example.org")));
        QCOMPARE(bob.next("CLX"), ended(callId(3), Proto::EndOffline));
        QVERIFY2(!bob.received().contains("CLO") && !bob.received().contains("CLA"), bob.received().constData());
        QVERIFY2(plain.received.isEmpty(), plain.received.constData());

        // Over TLS with a key, but with an e-mail another key owns: not keyed, ignored too.
        NodeKit::Key other;
        KeyedClient impostor(server.palPort() + PortPlan::EncryptedOffset, &other.identity);
        impostor.send(login(0, "Impostor", "bob@example.org", false) + offer(callId(4), QStringLiteral("bob@example.org"))
                      + Proto::emailLookup(QStringLiteral("bob@example.org")));
        QTRY_VERIFY(impostor.received.contains("GER;"));
        QVERIFY2(!impostor.received.contains("CLX") && !impostor.received.contains("RLY"), impostor.received.constData());
        bob.send(offer(callId(5), QStringLiteral("nobody@example.org")));
        QCOMPARE(bob.next("CLX"), ended(callId(5), Proto::EndOffline));
        QVERIFY2(!bob.received().contains("CLO"), bob.received().constData());
    }

    void anOfferAsLongAsTheLongestPassesAndNoLongerLine()
    {
        Server server;
        KeyedProgram ann(server, "ann@example.org");
        KeyedProgram bob(server, "bob@example.org");
        QTRY_VERIFY(keyedOnLine(server, "ann@example.org", 2) && keyedOnLine(server, "bob@example.org", 2));
        // The longest description to the longest target a login can hold.
        const QString target(DirectoryServer::MaxFieldChars, QChar(0x20ac));
        const QByteArray description(Proto::MaxPathDescription, 'd');
        const QByteArray longest = offer(callId(1), target, description);
        QCOMPARE(longest.size() - 4, DirectoryServer::MaxEncryptedLineBytes);
        ann.send(longest);
        QCOMPARE(ann.next("CLX"), ended(callId(1), Proto::EndOffline));
        ann.send(offer(callId(2), QStringLiteral("bob@example.org"), description));
        const std::optional<Proto::RelayedOffer> o = Proto::parseRelayedOffer(bob.next("CLO"));
        QVERIFY(o && o->description == description);
        // One byte beyond the bound, and the connection is closed.
        ann.send("CLO;" + callId(3) + ';' + QByteArray(DirectoryServer::MaxEncryptedLineBytes - 21, 'x') + ";<ET>");
        QVERIFY(QTest::qWaitFor([&] { return ann.pal->socket.state() == QAbstractSocket::UnconnectedState; }, 5000));
        QCOMPARE(bob.next("CLX"), ended(callId(2), Proto::EndGone));
        // A plain connection keeps the published bound.
        RawClient plain(server.directoryPort());
        plain.send("GEM;" + QByteArray(DirectoryServer::MaxLineBytes, 'x') + ";<ET>");
        QVERIFY(plain.waitClosed());
    }

    void relayCredentialsAreTakenByARealRelay()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("turnserver")).isEmpty()
            || QStandardPaths::findExecutable(QStringLiteral("turnutils_uclient")).isEmpty())
            QSKIP("turnserver and turnutils_uclient are not installed (Debian package coturn): no relay to ask");
        const QByteArray secret = "s3cret-shared-with-the-relay";
        Relay relay;
        QVERIFY2(relay.start(secret), relay.log.constData());
        QTemporaryDir dir;
        const QString secretFile = dir.filePath(QStringLiteral("relay.secret"));
        TestSupport::writeBytes(secretFile, secret + "\n");
        QFile::setPermissions(secretFile, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        ServerConfig config;
        config.relay = Proto::ServerEntry{QStringLiteral("0.0.0.0"), relay.port, {}};
        config.relaySecretFile = secretFile;
        config.relayTlsPort = 5349;
        config.relayLifetimeSeconds = 3600;
        Server server(config);

        KeyedProgram ann(server, "ann@example.org");
        const qint64 now = QDateTime::currentSecsSinceEpoch();
        const std::optional<Proto::RelayAccess> access = Proto::parseRelayAccess(ann.next("RLY"));
        QVERIFY(access);
        QCOMPARE(access->host, QStringLiteral("127.0.0.1"));
        QCOMPARE(access->port, relay.port);
        QCOMPARE(access->tlsPort, 5349);
        QCOMPARE(access->lifetimeSeconds, 3600);
        const QStringList name = access->username.split(QLatin1Char(':'));
        QCOMPARE(name.size(), 2);
        QVERIFY(qAbs(name[0].toLongLong() - (now + 3600)) <= 5);
        QCOMPARE(name[1], QString::number(ann.number));
        // A program whose number is not its key's goes by its e-mail.
        KeyedProgram bob(server, "bob@example.org", -1);
        const std::optional<Proto::RelayAccess> bobs = Proto::parseRelayAccess(bob.next("RLY"));
        QVERIFY(bobs && bobs->username.endsWith(QStringLiteral(":bob@example.org")));

        QByteArray output;
        QVERIFY2(relay.accepts(access->username, access->password, &output), output.constData());
        QVERIFY2(!relay.accepts(access->username, RelayCredentials::password("another secret", access->username), &output),
                 output.constData());
        QVERIFY2(!relay.accepts(bobs->username, access->password, &output), output.constData());
    }

    void theRelaySecretFileMustBeTheOwnersAlone()
    {
        QTemporaryDir dir;
        const QString file = dir.filePath(QStringLiteral("relay.secret"));
        const auto startWith = [&](QString *why) {
            ServerConfig config;
            const int base = TestSupport::portBlock(TestSupport::ServerPortSpan);
            config.directoryPort = base;
            config.palPort = base + 1;
            config.listenAddress = QStringLiteral("127.0.0.1");
            config.dataDir = dir.path();
            config.relay = Proto::ServerEntry{QStringLiteral("relay.example.org"), 3478, {}};
            config.relaySecretFile = file;
            DirectoryServer server(config);
            return server.start(why);
        };
        QString why;
        QVERIFY(!startWith(&why));
        QVERIFY2(why.contains(QStringLiteral("does not exist")), qPrintable(why));
        TestSupport::writeBytes(file, " \n");
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        QVERIFY(!startWith(&why));
        QVERIFY2(why.contains(QStringLiteral("is empty")), qPrintable(why));
        TestSupport::writeBytes(file, "secret\n");
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
        QVERIFY(!startWith(&why));
        QVERIFY2(why.contains(QStringLiteral("chmod 600")), qPrintable(why));
        QFile::setPermissions(file, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
        const QString link = dir.filePath(QStringLiteral("link.secret"));
        QVERIFY(QFile::link(file, link));
        QVERIFY(RelayCredentials::readSecret(file, &why) == QByteArray("secret"));
        QVERIFY(!RelayCredentials::readSecret(link, &why));
        QVERIFY2(why.contains(QStringLiteral("is a link")), qPrintable(why));
        QVERIFY(!RelayCredentials::readSecret(dir.path(), &why));
        QVERIFY2(why.contains(QStringLiteral("is not a file")), qPrintable(why));
        QVERIFY2(startWith(&why), qPrintable(why));
    }

    // The books alone, on a clock of the test's own.
    void aCallIsForgottenAfterAMinuteOfSilenceAndPassesFewTexts()
    {
        using Text = CallTable::Text;
        CallTable calls;
        QCOMPARE(calls.offer("id", 1, 2, 0), CallTable::Verdict::Passed);
        QCOMPARE(calls.otherSide("id", 2, CallTable::IdleMs - 1, Text::Answer), std::optional<CallTable::Handle>(1));
        QCOMPARE(calls.otherSide("id", 1, 2 * CallTable::IdleMs - 2, Text::Answer), std::nullopt);
        QCOMPARE(calls.offer("id", 1, 2, 2 * CallTable::IdleMs - 2), CallTable::Verdict::Passed);
        QCOMPARE(calls.otherSide("id", 1, 3 * CallTable::IdleMs - 2, Text::End), std::nullopt);
        QVERIFY(calls.isEmpty());
        QCOMPARE(calls.offer("id", 3, 2, 0), CallTable::Verdict::Passed);
        calls.expire(CallTable::IdleMs - 1);
        QCOMPARE(calls.size(), 1);
        calls.expire(CallTable::IdleMs);
        QVERIFY(calls.isEmpty());
        // One side cannot pour texts over the other through one call; it can still end it.
        QCOMPARE(calls.offer("talk", 1, 2, 0), CallTable::Verdict::Passed);
        int passed = 1;
        while (calls.otherSide("talk", 2, 10, Text::Answer))
            ++passed;
        QCOMPARE(passed, CallTable::MaxTextsPerCall);
        QCOMPARE(calls.offer("talk", 1, 2, 10), CallTable::Verdict::Refused);
        QCOMPARE(calls.otherSide("talk", 1, 10, Text::End), std::optional<CallTable::Handle>(2));
        // The rate: a minute's share, then another after the minute.
        for (int n = 0; n < CallTable::OffersPerMinute; ++n)
            QVERIFY(calls.takeOffer(7, n));
        QVERIFY(!calls.takeOffer(7, 59999));
        QVERIFY(calls.takeOffer(7, 60000));
    }
};

QTEST_MAIN(TestCallPath)
#include "tst_callpath.moc"
