// A directory nobody can take over: the first key to log in with an e-mail owns it and its
// number on every node of a registry; an impostor, plain or with another key, is served
// without them; the key moves to another profile with a passphrase; a program's directory
// and pal traffic is encrypted; a key owns a few e-mails and only the numbers handed out to
// it, on either registry, until it stays away for the lapse time; and a server whose key
// changed hears nothing until the user accepts the new key.

#include "secure/DirectoryDialer.h"
#include "support/DirectoryKit.h"
#include "support/NodeKit.h"
#include "support/SecureKit.h"

#include "server/SqliteStore.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTreeWidget>

namespace {

const QByteArray AnnLookup = DirectoryProtocol::emailLookup(QStringLiteral("ann@example.org"));

// The address and port the answer to an e-mail lookup gives (empty when nobody).
QByteArray foundAt(const QByteArray &answer)
{
    const QList<QByteArray> f = answer.left(answer.indexOf("<ET>")).split(';');
    return f.size() >= 6 ? f[4] + ':' + f[5] : QByteArray();
}

// The registry rows of the ownership scenarios: the embedded one, and one Redis shares.
void registryRows()
{
    QTest::addColumn<bool>("shared");
    QTest::newRow("embedded") << false;
    QTest::newRow("redis") << true;
}

// A server on the row's registry, once the registry answers.
std::unique_ptr<DirectoryKit::Server> serverOn(RedisProcess *redis)
{
    ServerConfig config;
    if (redis)
        config.redis = RedisAddress::parse(redis->url());
    auto server = std::make_unique<DirectoryKit::Server>(config);
    if (!QTest::qWaitFor([&] { return !server->server->registry().nodes().isEmpty(); }, 10000))
        qFatal("the registry did not answer");
    return server;
}

} // namespace

// A Redis of the scenario's own for the "redis" row; none for the embedded registry.
#define REGISTRY_OF_ROW(redis)                                                                                       \
    QFETCH(bool, shared);                                                                                          \
    RedisProcess redis;                                                                                            \
    if (shared) {                                                                                                  \
        if (RedisProcess::program().isEmpty())                                                                     \
            QSKIP("redis-server is not installed (scripts/deps.sh installs it): the shared registry is not tried"); \
        QString why;                                                                                               \
        QVERIFY2(redis.start(TestSupport::portBlock(1), &why), qPrintable(why));                                   \
    }

class TestDirectoryKeys : public QObject
{
    Q_OBJECT

private slots:
    void anImpostorOnAnotherNodeNeverTakesTheOwnersEntry()
    {
        if (RedisProcess::program().isEmpty())
            QSKIP("redis-server is not installed (scripts/deps.sh installs it): the shared registry is not tried");
        RedisProcess redis;
        QString why;
        QVERIFY2(redis.start(TestSupport::portBlock(1), &why), qPrintable(why));
        NodeKit::Node one(redis, "one");
        NodeKit::Node two(redis, "two");
        NodeKit::Key annKey;
        NodeKit::Key malloryKey;
        // Ann's number, handed out to her key.
        const int number = NodeKit::numberFor(one.pal(), &annKey.identity);
        QVERIFY(number > 0);
        const QByteArray numberText = QByteArray::number(number);

        // Plain logins took Ann's e-mail and number before her key bound them, on her node
        // and on the other: they keep neither once she logs in.
        NodeKit::Client early(one.dir());
        early.send(login(number, "Early", "ann@example.org", true, 3002));
        NodeKit::Client elsewhere(two.dir());
        elsewhere.send(login(number, "Elsewhere", "ann@example.org", true, 3004));
        QTRY_VERIFY(one.server->users().connections() == 1 && two.server->users().connections() == 1);
        NodeKit::KeyedClient ann(one.dir(), &annKey.identity);
        ann.send(login(number, "Ann", "ann@example.org", true, 2000));
        QTRY_VERIFY(one.server->users().connections() == 2);
        // Mallory claims Ann's e-mail and number on the other node, plain and with a key
        // of her own, on both ports.
        NodeKit::Client plain(two.dir());
        plain.send(login(number, "Mallory", "ann@example.org", true, 3000));
        NodeKit::KeyedClient keyed(two.pal(), &malloryKey.identity);
        keyed.send(login(number, "Mallory", "Ann@Example.org", false, 3001));
        QTRY_VERIFY(two.server->users().connections() == 3);

        for (NodeKit::Node *node : {&one, &two}) {
            NodeKit::Client asker(node->dir());
            QVERIFY(asker.askUntil(AnnLookup, [](const QByteArray &a) { return foundAt(a) == "127.0.0.1:2000"; }));
            NodeKit::Client palAsker(node->pal());
            QVERIFY(palAsker.askUntil(AnnLookup, [](const QByteArray &a) { return foundAt(a) == "127.0.0.1:2000"; }));
        }
        // Ann's entry is hers alone; Mallory is listed, as nobody's number.
        NodeKit::Client lister(one.dir());
        lister.send(login(0, "Lister", "", false, 2003));
        QVERIFY(lister.askUntil("LS1<ET>", [&](const QByteArray &list) {
            return list.contains(NodeKit::entry(number, "Ann")) && !list.contains(';' + numberText + ";Mallory")
                   && list.contains(NodeKit::entry(-1, "Mallory", 3000))
                   && list.contains(NodeKit::entry(-1, "Early", 3002))
                   && list.contains(NodeKit::entry(-1, "Elsewhere", 3004));
        }));
        QVERIFY(two.server->users().findByEmail(QStringLiteral("ann@example.org")) == nullptr);
        // A program of this version, over TLS, hears who is keyed just before the list; the
        // plain lister's answers carry no such note.
        NodeKit::KeyedClient keyedLister(two.dir());
        keyedLister.send(login(0, "Keyed lister", "", false, 2004) + "LS1<ET>");
        QTRY_VERIFY(keyedLister.received.contains("LS1;"));
        QVERIFY2(keyedLister.received.contains("LSK;1;" + numberText + ";<ET>LS1;"), keyedLister.received.left(80).constData());
        lister.send("LS1<ET>");
        QTRY_VERIFY(lister.received.contains("LS1;"));
        QVERIFY(!lister.received.contains("LSK"));

        // Ann gone, nobody answers for her address.
        ann.socket.abort();
        for (NodeKit::Node *node : {&one, &two}) {
            NodeKit::Client asker(node->dir());
            QVERIFY(asker.askUntil(AnnLookup, [](const QByteArray &a) { return foundAt(a) == "0.0.0.0:0"; }));
        }

        // Ann's key owns her address wherever she logs in; Mallory's key owns nothing.
        NodeKit::KeyedClient annAgain(two.dir(), &annKey.identity);
        annAgain.send(login(number, "Ann", "ann@example.org", true, 2002));
        QTRY_VERIFY(two.server->users().findByEmail(QStringLiteral("ann@example.org")) != nullptr);
        QCOMPARE(two.server->users().findByEmail(QStringLiteral("ann@example.org"))->entry.UserNumber, number);
    }

    void theKeyMovesToAnotherProfileWithItsPassphrase()
    {
        DirectoryKit::Server server;
        SecureKit::End oldProfile(QStringLiteral("ann@example.org"));
        SecureKit::End newProfile(QStringLiteral("ann@example.org"));
        const QByteArray oldKey = oldProfile.service->identity().fingerprint();
        const QByteArray newProfilesOwnKey = newProfile.service->identity().fingerprint();
        const int number = NodeKit::numberFor(server.palPort(), &oldProfile.service->identity());
        QCOMPARE(number, 1);
        {
            NodeKit::KeyedClient ann(server.directoryPort(), &oldProfile.service->identity());
            ann.send(login(number, "Ann", "ann@example.org"));
            QTRY_VERIFY(server.server->users().findByEmail(QStringLiteral("ann@example.org")));
        }
        QTRY_COMPARE(server.server->users().connections(), 0);

        const QString file = oldProfile.dir.filePath(QStringLiteral("moved.key"));
        QCOMPARE(oldProfile.service->exportKey(file, QStringLiteral("correct horse")), QString());
        QVERIFY(TestSupport::readBytes(file).contains("ENCRYPTED"));
        QVERIFY(!newProfile.service->importKey(file, QStringLiteral("wrong horse")).isEmpty());
        QCOMPARE(newProfile.service->identity().fingerprint(), newProfilesOwnKey);
        QCOMPARE(newProfile.service->importKey(file, QStringLiteral("correct horse")), QString());
        QCOMPARE(newProfile.service->identity().fingerprint(), oldKey);

        // The key the new profile had before owns nothing; the moved one owns both.
        Identity before;
        QCOMPARE(before.load(newProfile.dir.filePath(Identity::FileName) + Identity::SetAsideSuffix),
                 Identity::Check::Ready);
        NodeKit::KeyedClient stale(server.directoryPort(), &before);
        stale.send(login(number, "Ann", "ann@example.org"));
        QTRY_COMPARE(server.server->users().connections(), 1);
        QVERIFY(!server.server->users().findByEmail(QStringLiteral("ann@example.org")));
        NodeKit::KeyedClient moved(server.directoryPort(), &newProfile.service->identity());
        moved.send(login(number, "Ann", "ann@example.org"));
        QTRY_VERIFY(server.server->users().findByEmail(QStringLiteral("ann@example.org")));
        QCOMPARE(server.server->users().findByEmail(QStringLiteral("ann@example.org"))->entry.UserNumber, number);

        // The operator frees the address for a user who lost the key.
        SqliteStore store;
        QVERIFY(store.open(server.config.dataDir, nullptr));
        QCOMPARE(store.owners().value(QStringLiteral("e:ann@example.org")), oldKey);
        QCOMPARE(store.releaseOwner(QStringLiteral("ann@example.org"), nullptr), 2);
    }

    void oneKeyCannotHoardEmailsOrNumbersNobodyWasGiven_data() { registryRows(); }
    void oneKeyCannotHoardEmailsOrNumbersNobodyWasGiven()
    {
        REGISTRY_OF_ROW(redis);
        std::unique_ptr<DirectoryKit::Server> started = serverOn(shared ? &redis : nullptr);
        DirectoryKit::Server &server = *started;
        server.server->setSummaryPeriod(1000);
        NodeKit::Key malloryKey;
        const auto email = [](int i) { return QStringLiteral("user%1@example.org").arg(i).toLatin1(); };
        // One key logs in again and again on one connection, each time with another e-mail
        // of one domain and a number nobody has been given yet.
        NodeKit::KeyedClient mallory(server.directoryPort(), &malloryKey.identity);
        for (int i = 1; i <= 300; ++i)
            mallory.send(login(i, "Mallory", email(i)));
        mallory.send(login(1, "Last", email(1)));
        const auto entryOf = [&](const QByteArray &address) {
            return server.server->users().findByEmail(QString::fromLatin1(address));
        };
        QTRY_VERIFY(entryOf(email(1)) && entryOf(email(1))->entry.Name == QStringLiteral("Last"));
        QVERIFY(entryOf(email(1))->entry.Keyed);
        // The e-mails beyond the first five stay free: their real owners are served with them.
        for (const int i : {6, 77}) {
            NodeKit::Key realKey;
            NodeKit::KeyedClient real(server.directoryPort(), &realKey.identity);
            const QByteArray name = "User" + QByteArray::number(i);
            real.send(login(0, name, email(i)));
            QTRY_VERIFY(entryOf(email(i)));
            QCOMPARE(entryOf(email(i))->entry.Name, QString::fromLatin1(name));
            QVERIFY(entryOf(email(i))->entry.Keyed);
        }
        // One line says so, one a summary period at most (a shared registry answers slower,
        // over more periods); the summary counts the rest.
        QTRY_VERIFY(server.logged(QStringLiteral("more like \"claim of an e-mail beyond the bound of its key\"")) >= 1);
        const int lines = server.logged(QStringLiteral("its key owns 5 e-mails already"));
        QVERIFY2(lines >= 1 && lines < 20, qPrintable(QString::number(lines)));

        // The first number handed out is its receiver's, though the key claimed it before.
        NodeKit::Key newcomerKey;
        const int number = NodeKit::numberFor(server.palPort(), &newcomerKey.identity);
        QCOMPARE(number, 1);
        NodeKit::KeyedClient newcomer(server.directoryPort(), &newcomerKey.identity);
        newcomer.send(login(number, "Newcomer", "new@example.org"));
        QTRY_VERIFY(entryOf("new@example.org"));
        QCOMPARE(entryOf("new@example.org")->entry.UserNumber, number);
        QTRY_VERIFY(entryOf(email(1))->entry.UserNumber != number);

        // After a restart the key still owns no more than it did.
        mallory.socket.abort();
        server.server.reset();
        server.start();
        QTRY_VERIFY_WITH_TIMEOUT(!server.server->registry().nodes().isEmpty(), 10000);
        NodeKit::KeyedClient nine(server.directoryPort(), &malloryKey.identity);
        nine.send(login(0, "Nine", email(9)));
        NodeKit::KeyedClient five(server.directoryPort(), &malloryKey.identity);
        five.send(login(0, "Five", email(5)));
        QTRY_COMPARE(server.server->users().connections(), 2);
        QVERIFY(entryOf(email(5)));
        QVERIFY(!entryOf(email(9)));
    }

    void aNumberIsBoundOnlyToTheKeyItWasGivenTo_data() { registryRows(); }
    void aNumberIsBoundOnlyToTheKeyItWasGivenTo()
    {
        REGISTRY_OF_ROW(redis);
        std::unique_ptr<DirectoryKit::Server> started = serverOn(shared ? &redis : nullptr);
        DirectoryKit::Server &server = *started;
        const auto entryOf = [&](const char *address) {
            return server.server->users().findByEmail(QString::fromLatin1(address));
        };
        NodeKit::Key annKey;
        NodeKit::Key malloryKey;
        const int annsNumber = NodeKit::numberFor(server.palPort(), &annKey.identity);
        const int plainNumber = NodeKit::numberFor(server.palPort(), nullptr);
        QVERIFY(annsNumber > 0 && plainNumber > 0);
        // Mallory's key logs in first with Ann's number, and with the one a plain asker got,
        // each with an e-mail her key may own.
        NodeKit::KeyedClient mallory(server.directoryPort(), &malloryKey.identity);
        mallory.send(login(annsNumber, "Mallory", "mallory@example.org"));
        QTRY_VERIFY(entryOf("mallory@example.org"));
        NodeKit::KeyedClient mallory2(server.palPort(), &malloryKey.identity);
        mallory2.send(login(plainNumber, "Mallory", "mallory2@example.org", false));
        QTRY_VERIFY(entryOf("mallory2@example.org"));
        // Ann comes with the number she was given: it is hers, Mallory's entry gives it up.
        NodeKit::KeyedClient ann(server.directoryPort(), &annKey.identity);
        ann.send(login(annsNumber, "Ann", "ann@example.org"));
        QTRY_VERIFY(entryOf("ann@example.org"));
        QCOMPARE(entryOf("ann@example.org")->entry.UserNumber, annsNumber);
        QTRY_COMPARE(entryOf("mallory@example.org")->entry.UserNumber, qint32(DirectoryProtocol::NoUserNumber));
        // Nobody's key owns the plain asker's number: he is served with it.
        RawClient plain(server.directoryPort());
        plain.send(login(plainNumber, "Plain", "plain@example.org"));
        QTRY_VERIFY(entryOf("plain@example.org"));
        QCOMPARE(entryOf("plain@example.org")->entry.UserNumber, plainNumber);
        // Mallory's key owns neither number: her next login with Ann's is served without it.
        mallory.send(login(annsNumber, "Mallory again", "mallory@example.org"));
        QTRY_COMPARE(entryOf("mallory@example.org")->entry.Name, QStringLiteral("Mallory again"));
        QCOMPARE(entryOf("mallory@example.org")->entry.UserNumber, qint32(DirectoryProtocol::NoUserNumber));
    }

    void ownershipLapsesWhenItsKeyStaysAway_data() { registryRows(); }
    void ownershipLapsesWhenItsKeyStaysAway()
    {
        REGISTRY_OF_ROW(redis);
        std::unique_ptr<DirectoryKit::Server> started = serverOn(shared ? &redis : nullptr);
        DirectoryKit::Server &server = *started;
        constexpr qint64 Day = 24 * 3600 * 1000;
        qint64 today = QDateTime::currentMSecsSinceEpoch();
        server.server->registry().setClock([&today] { return today; });
        const auto entryOf = [&](const char *address) {
            return server.server->users().findByEmail(QString::fromLatin1(address));
        };
        NodeKit::Key annKey;
        NodeKit::Key newKey;
        const int number = NodeKit::numberFor(server.palPort(), &annKey.identity);
        const auto served = [&](const char *name) {
            bool found = false;
            server.server->users().forEach(
                [&](UserRegistry::Key, const UserRegistry::User &u) {
                    found = found || u.entry.Name == QLatin1String(name);
                });
            return found;
        };
        // A login with the key, once it is served (with the e-mail or without).
        const auto logIn = [&](NodeKit::Key &key, const char *name, const char *email) {
            auto client = std::make_unique<NodeKit::KeyedClient>(server.directoryPort(), &key.identity);
            client->send(login(number, name, email));
            if (!QTest::qWaitFor([&] { return served(name); }, 5000))
                qWarning("%s was not served", name);
            return client;
        };
        logIn(annKey, "Ann", "ann@example.org").reset();
        QTRY_COMPARE(server.server->users().connections(), 0);
        logIn(annKey, "Ann 2", "ann2@example.org").reset();
        QTRY_COMPARE(server.server->users().connections(), 0);

        // Another key within the lapse time: Ann's key still owns her address and number.
        today += 179 * Day;
        logIn(newKey, "Early", "ann@example.org").reset();
        QVERIFY(!entryOf("ann@example.org"));
        QTRY_COMPARE(server.server->users().connections(), 0);
        // Ann logs in: her ownership runs from now.
        logIn(annKey, "Ann", "ann@example.org").reset();
        QTRY_COMPARE(server.server->users().connections(), 0);
        today += 179 * Day;
        logIn(newKey, "Late", "ann@example.org").reset();
        QVERIFY(!entryOf("ann@example.org"));
        QTRY_COMPARE(server.server->users().connections(), 0);
        QCOMPARE(server.logged(QStringLiteral("free again")), 0);

        // Ann's key stays away longer: her address is another key's now, and all else her
        // key owned is free.
        today += 2 * Day;
        auto taker = logIn(newKey, "Taker", "ann@example.org");
        QVERIFY(entryOf("ann@example.org"));
        QVERIFY(entryOf("ann@example.org")->entry.Keyed);
        QCOMPARE(server.logged(QStringLiteral("has not logged in for 181 days: 3 e-mails and numbers")), 1);
        auto second = logIn(newKey, "Second", "ann2@example.org");
        QVERIFY(entryOf("ann2@example.org") && entryOf("ann2@example.org")->entry.Keyed);
        // Ann is back with her old key: served without what lapsed.
        NodeKit::KeyedClient ann(server.directoryPort(), &annKey.identity);
        ann.send(login(number, "Ann", "ann@example.org"));
        QTRY_COMPARE(server.server->users().connections(), 3);
        QCOMPARE(entryOf("ann@example.org")->entry.Name, QStringLiteral("Taker"));
    }

    void aProgramsDirectoryAndPalTrafficIsNotReadableOnTheWire()
    {
        DirectoryKit::Server server;
        const int relayBase = TestSupport::portBlock(TestSupport::ServerPortSpan);
        SecureKit::RecordingRelay relay({relayBase, relayBase + 1, relayBase + PortPlan::EncryptedOffset,
                                         relayBase + 1 + PortPlan::EncryptedOffset},
                                        relayBase - server.directoryPort());
        DirectoryKit::User bob(QStringLiteral("Bob"), server.directoryPort(), server.palPort(), {}, 22);
        bob.pals().connectPalServer();
        DirectoryKit::User ann(QStringLiteral("Ann"), relayBase, relayBase + 1, {}, 21);
        ann.openDirectory();
        QTRY_VERIFY(ann.directory().entries().size() == 1);
        QVERIFY(ann.pals().addPal(QStringLiteral("bob@example.org")));
        QTRY_VERIFY(server.logged(QStringLiteral("login pal")) == 2);
        QTRY_COMPARE(ann.pals().list().pal(1).Status, qint16(2));
        QTRY_COMPARE(ann.window()->findChild<QLabel *>(QStringLiteral("lblPrivacy"))->text(), QStringLiteral("Private"));
        // Ann's own entry is bound to her key, and her list says so.
        const auto *list = ann.window()->findChild<QTreeWidget *>(QStringLiteral("lstGlobal"));
        QTRY_VERIFY(list->topLevelItemCount() == 1 && list->topLevelItem(0)->text(3) == QStringLiteral("Verified"));
        QCOMPARE(list->topLevelItem(0)->data(3, Qt::AccessibleTextRole).toString(), QStringLiteral("Key verified"));

        QVERIFY(relay.connections >= 2);
        for (const char *clear : {"ann@example.org", "bob@example.org", "Ann", "Bob", "GEM", "LGN", "LS1"})
            QVERIFY2(!relay.bytes.contains(clear), clear);
    }

    // A server that takes the connection on its encrypted port speaks TLS there, however
    // long its answer takes: the program waits for it rather than speaking in the clear.
    void aSlowAnswerOnTheEncryptedPortStaysPrivate()
    {
        DirectoryKit::Server server;
        QTemporaryDir profile;
        const int relayBase = TestSupport::portBlock(TestSupport::ServerPortSpan);
        const int shift = relayBase - server.directoryPort();
        // Only the encrypted ports answer, each a second past the wait for a connection.
        SecureKit::RecordingRelay slow({relayBase + PortPlan::EncryptedOffset, relayBase + 1 + PortPlan::EncryptedOffset},
                                       shift, DirectoryDialer::ConnectMs + 1000);
        DirectoryKit::User ann(QStringLiteral("Ann"), relayBase, relayBase + 1, profile.path(), 21);
        ann.openDirectory();
        QTRY_COMPARE_WITH_TIMEOUT(server.logged(QStringLiteral("login directory")), 1, 3 * DirectoryDialer::HandshakeMs);
        QTRY_COMPARE(ann.window()->findChild<QLabel *>(QStringLiteral("lblPrivacy"))->text(), QStringLiteral("Private"));
        QVERIFY(!slow.bytes.contains("ann@example.org"));
    }

    // A server that took TLS only on its published ports (the previous release) and was
    // pinned: its missing encrypted port is no reason to speak to it in the clear.
    void aPinnedServerWithoutItsEncryptedPortIsStillAskedEncrypted()
    {
        DirectoryKit::Server server;
        QTemporaryDir profile;
        const int relayBase = TestSupport::portBlock(TestSupport::ServerPortSpan);
        const int shift = relayBase - server.directoryPort();
        const auto privacy = [](DirectoryKit::User &user) {
            return user.window()->findChild<QLabel *>(QStringLiteral("lblPrivacy"))->text();
        };
        {
            SecureKit::RecordingRelay everyPort({relayBase, relayBase + 1, relayBase + PortPlan::EncryptedOffset,
                                                 relayBase + 1 + PortPlan::EncryptedOffset},
                                                shift);
            DirectoryKit::User ann(QStringLiteral("Ann"), relayBase, relayBase + 1, profile.path(), 21);
            ann.openDirectory();
            QTRY_COMPARE(privacy(ann), QStringLiteral("Private"));
        }
        SecureKit::RecordingRelay publishedOnly({relayBase, relayBase + 1}, shift);
        DirectoryKit::User ann(QStringLiteral("Ann"), relayBase, relayBase + 1, profile.path(), 21);
        ann.openDirectory();
        QTRY_VERIFY(ann.directory().entries().size() == 1);
        QVERIFY(publishedOnly.connections >= 1);
        QTRY_COMPARE(privacy(ann), QStringLiteral("Private"));
        for (const char *clear : {"ann@example.org", "LGN", "LS1"})
            QVERIFY2(!publishedOnly.bytes.contains(clear), clear);
    }

    // Without a key of its own (its file could not be made) the program proves nothing: a
    // server never seen encrypted is spoken to plainly, a pinned one not at all.
    void withoutAKeyOfItsOwnNothingGoesEncrypted()
    {
        DirectoryKit::Server server;
        QByteArray pinned;
        DirectoryDialer dialer({[] { return TlsSetup::Credentials(); }, [&pinned](const QString &) { return pinned; },
                                [](const QString &, const QByteArray &) {}, [] { return QString(); }});
        for (const QByteArray &pin : {QByteArray(), QByteArray(32, 'k')}) {
            pinned = pin;
            std::optional<ChannelDialer::Outcome> outcome;
            const auto attempt = dialer.dial(QHostAddress::LocalHost, server.directoryPort(), PeerChannel::Control,
                                             [&outcome](ChannelDialer::Outcome o) { outcome = o; });
            QTRY_VERIFY(outcome);
            delete outcome->socket;
            QCOMPARE(outcome->kind, pin.isEmpty() ? ChannelDialer::Outcome::Kind::Plain : ChannelDialer::Outcome::Kind::Refused);
        }
    }

    void aServerWhoseKeyChangedHearsNothingUntilTheUserAccepts()
    {
        QTemporaryDir firstData;
        QTemporaryDir secondData;
        auto server = std::make_unique<DirectoryKit::Server>(ServerConfig{}, firstData.path());
        const ServerConfig config = server->config;
        DirectoryKit::User ann(QStringLiteral("Ann"), config.directoryPort, config.palPort, {}, 21);
        ann.openDirectory();
        QTRY_COMPARE(server->logged(QStringLiteral("login directory")), 1);
        const QString pinned = QStringLiteral("127.0.0.1:%1").arg(config.directoryPort);
        QCOMPARE(ann.program->security().directoryKey(pinned), server->server->keyFingerprint());

        // The same ports, another key: a server in the middle, or one set up anew.
        server.reset();
        ServerConfig again = config;
        again.dataDir = secondData.path();
        DirectoryKit::Server impostor;
        impostor.server.reset();
        impostor.config = again;
        impostor.start();
        ann.directory().reconnectDirectory();
        QTRY_VERIFY(ann.window()->findChild<QMessageBox *>(QStringLiteral("ServerKeyBox")));
        QCOMPARE(ann.window()->panelText(2), DirectoryDialer::keyChangedText(pinned));
        QTest::qWait(300);
        QCOMPARE(impostor.logged(QStringLiteral("login")), 0);

        auto *box = ann.window()->findChild<QMessageBox *>(QStringLiteral("ServerKeyBox"));
        box->button(QMessageBox::Yes)->click();
        QTRY_COMPARE(impostor.logged(QStringLiteral("login directory")), 1);
        QCOMPARE(ann.program->security().directoryKey(pinned), impostor.server->keyFingerprint());
    }
};

QTEST_MAIN(TestDirectoryKeys)
#include "tst_directorykeys.moc"
