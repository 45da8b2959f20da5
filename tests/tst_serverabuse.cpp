// zelmo-directory when its user numbers run out: the last ones are handed out, then the
// pal server says there are none, and numbers nobody used come back to be handed out again.

#include "server/DirectoryServer.h"
#include "support/DirectoryKit.h"
#include "support/RawClient.h"

#include <QSqlDatabase>
#include <QSqlQuery>

namespace Proto = DirectoryProtocol;
using DirectoryKit::Server;

namespace {

// A user number asked for on a connection of its own from the address; 0 when no answer came.
qint32 askNumber(int palPort, const QString &from)
{
    RawClient c(palPort, from);
    return Proto::parseNewNumber(body(c.ask("RSN;<ET>", "NSN")));
}

} // namespace

class TestServerAbuse : public QObject
{
    Q_OBJECT

private slots:
    void usedUpNumbersAreSaidAndUnusedOnesReclaimed()
    {
        ServerConfig config;
        // Long enough that two questions in a row on a busy machine fall inside it.
        config.reclaimUnusedNumbersAfterMs = 5000;
        Server server(config);
        const auto ask = [&](const QString &from) { return askNumber(server.palPort(), from); };
        // A store that has handed out all but the last two numbers.
        server.server.reset();
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("abuse-seed"));
            db.setDatabaseName(server.config.dataDir + QStringLiteral("/users.sqlite"));
            QVERIFY(db.open());
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("DELETE FROM sqlite_sequence WHERE name = 'users'")));
            QVERIFY(QSqlQuery(db).exec(QStringLiteral("INSERT INTO sqlite_sequence (name, seq) VALUES ('users', 999998)")));
            db.close();
        }
        QSqlDatabase::removeDatabase(QStringLiteral("abuse-seed"));
        server.start();
        const qint32 used = ask(QStringLiteral("127.0.0.3"));
        QCOMPARE(used, 999999);
        RawClient user(server.palPort(), QStringLiteral("127.0.0.3"));
        user.send(login(used, "Una", "una@x.org"));
        QTRY_COMPARE(server.server->users().online(), 1);
        QCOMPARE(ask(QStringLiteral("127.0.0.4")), 1000000);
        QCOMPARE(ask(QStringLiteral("127.0.0.5")), -1);
        QCOMPARE(server.logged(QStringLiteral("no user number to give: all 1000000 user numbers are taken")), 1);
        // The last one was never used for a login: after the reclaim time it goes again,
        // the one used for a login never does. Asked from one new address after another, as
        // each address has its own ration.
        qint32 again = -1;
        QString asker;
        for (int from = 10; again == -1 && from < 250; ++from) {
            QTest::qWait(100);
            asker = QStringLiteral("127.0.0.%1").arg(from);
            again = ask(asker);
        }
        QCOMPARE(again, 1000000);
        // Used at once, so that the next question finds it used however late it comes on
        // a busy machine (unused, it would be reclaimed again a second later).
        RawClient second(server.palPort(), asker);
        second.send(login(1000000, "Sven", "sven@x.org"));
        QTRY_COMPARE(server.server->users().online(), 2);
        QCOMPARE(ask(QStringLiteral("127.0.0.7")), -1);
    }

};

QTEST_MAIN(TestServerAbuse)
#include "tst_serverabuse.moc"
