// A zelmo-directory node told to share a Redis registry that nobody runs, and the
// registry's address as the command line gives it.

#include "server/DirectoryServer.h"
#include "support/TestSupport.h"

#include <QTcpSocket>
#include <QTest>

class TestDirectoryNodes : public QObject
{
    Q_OBJECT

private slots:
    void aRegistryThatCannotBeReachedStopsTheStart()
    {
        ServerConfig config;
        const int base = TestSupport::portBlock(3);
        config.directoryPort = base;
        config.palPort = base + 1;
        config.listenAddress = QStringLiteral("127.0.0.1");
        config.redis = RedisAddress::parse(QStringLiteral("redis://127.0.0.1:%1").arg(base + 2));
        DirectoryServer server(config);
        QString why;
        QVERIFY(!server.start(&why));
        QVERIFY2(why.startsWith(QStringLiteral("cannot reach the registry at redis://127.0.0.1:%1: ").arg(base + 2)),
                 qPrintable(why));
        // Nothing listens.
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(base));
        QVERIFY(!probe.waitForConnected(1000));

        QCOMPARE(RedisAddress::parse(QStringLiteral("redis://db.example:7000/3"))->text(),
                 QStringLiteral("redis://db.example:7000/3"));
        QCOMPARE(RedisAddress::parse(QStringLiteral("redis://db.example"))->port, 6379);
        QVERIFY(!RedisAddress::parse(QStringLiteral("redis://db.example:0")));
        QVERIFY(RedisAddress::parse(QStringLiteral("redis://db.example:65535")));
        QVERIFY(!RedisAddress::parse(QStringLiteral("redis://db.example/x")));
        QVERIFY(!RedisAddress::parse(QStringLiteral("db.example:6379")));
    }
};

QTEST_GUILESS_MAIN(TestDirectoryNodes)
#include "tst_directorynodes.moc"
