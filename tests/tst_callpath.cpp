// The directory server as the meeting point of two programs that cannot reach each other
// directly: a call it passes is forgotten after a minute of silence and may pass only a few
// texts, and the secret it shares with the relay beside it must be the owner's alone.

#include "server/CallTable.h"
#include "server/RelayCredentials.h"
#include "support/DirectoryKit.h"

namespace Proto = DirectoryProtocol;

class TestCallPath : public QObject
{
    Q_OBJECT

private slots:
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
