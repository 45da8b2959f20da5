// The server's limits on one source, on a clock the test drives: user numbers come from an
// allowance that refills by the minute, and log lines a flood could repeat are counted,
// not written, past a few per period.

#include "server/RepeatedEvents.h"
#include "server/SourceQuota.h"

#include <QTest>

class TestServerLimits : public QObject
{
    Q_OBJECT

private slots:
    void aSourceTakesItsBurstThenItsRatePerMinute()
    {
        SourceQuota quota(6, 3); // three at once, then one every ten seconds
        for (int i = 0; i < 3; ++i)
            QVERIFY(quota.take(QStringLiteral("a"), 0));
        QVERIFY(!quota.take(QStringLiteral("a"), 0));
        QVERIFY(!quota.take(QStringLiteral("a"), 9000));
        // Another source has its own allowance.
        QVERIFY(quota.take(QStringLiteral("b"), 9000));
        QVERIFY(quota.take(QStringLiteral("a"), 10000));
        QVERIFY(!quota.take(QStringLiteral("a"), 10000));
        // A source idle long is forgotten once its allowance is whole; one still short is kept.
        quota.forgetFull(15000);
        QCOMPARE(quota.sources(), 2);
        quota.forgetFull(19000);
        QCOMPARE(quota.sources(), 1);
        // An idle day still gives only the burst.
        const qint64 day = 24 * 3600 * 1000LL;
        for (int i = 0; i < 3; ++i)
            QVERIFY(quota.take(QStringLiteral("a"), day));
        QVERIFY(!quota.take(QStringLiteral("a"), day));
        quota.forgetFull(2 * day);
        QCOMPARE(quota.sources(), 0);
    }

    void aFloodOfOneKindIsLoggedAFewTimesThenSummed()
    {
        RepeatedEvents events(2);
        const QString eve = QStringLiteral("192.0.2.7");
        QVERIFY(events.admit(eve, QStringLiteral("login")));
        QVERIFY(events.admit(eve, QStringLiteral("login")));
        for (int i = 0; i < 5; ++i)
            QVERIFY(!events.admit(eve, QStringLiteral("login")));
        // Another kind, or another source, has a budget of its own; a kind may set its own.
        QVERIFY(events.admit(eve, QStringLiteral("refused")));
        QVERIFY(events.admit(QStringLiteral("192.0.2.8"), QStringLiteral("login")));
        QVERIFY(events.admit(eve, QStringLiteral("busy"), 1));
        QVERIFY(!events.admit(eve, QStringLiteral("busy"), 1));
        QStringList summed = events.summarise(QStringLiteral("minute"));
        summed.sort();
        QCOMPARE(summed, QStringList({QStringLiteral("1 more like \"busy\" from 192.0.2.7 in the last minute"),
                                      QStringLiteral("5 more like \"login\" from 192.0.2.7 in the last minute")}));
        // A new period starts with whole budgets and nothing to sum up.
        QVERIFY(events.admit(eve, QStringLiteral("login")));
        QVERIFY(events.summarise(QStringLiteral("minute")).isEmpty());
    }

    void sourcesPastTheLimitAreCountedTogether()
    {
        RepeatedEvents events(1);
        for (int i = 0; i < RepeatedEvents::MaxSources; ++i)
            QVERIFY(events.admit(QString::number(i), QStringLiteral("login")));
        QVERIFY(!events.admit(QStringLiteral("one more"), QStringLiteral("login")));
        QVERIFY(!events.admit(QStringLiteral("and another"), QStringLiteral("login")));
        QCOMPARE(events.summarise(QStringLiteral("hour")),
                 QStringList({QStringLiteral("2 more events from other addresses in the last hour")}));
        QVERIFY(events.admit(QStringLiteral("one more"), QStringLiteral("login")));
    }
};

QTEST_GUILESS_MAIN(TestServerLimits)
#include "tst_serverlimits.moc"
