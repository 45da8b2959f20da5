// Asking a home router for a block of ports, against a router in the test's hands (the
// narrow PortGateway a real router answers behind): the block keeps the listeners' offsets,
// a taken port moves to the next block and gives back what the first one got, a refusal or
// a router behind another router is said so, and giving the block back frees every port.

#include "reach/PortGateway.h"
#include "reach/RouterMapping.h"

#include <QSet>
#include <QTest>

namespace {

// A router that forwards what it is asked unless the outside port is taken or refused, and
// remembers what it forwards.
class Router : public PortGateway
{
public:
    QString kind = QStringLiteral("UPnP");
    QString outside = QStringLiteral("198.51.100.7");
    QSet<int> taken;
    QSet<int> refused;
    int lease = 3600;
    QHash<int, int> forwarded; // outside port -> inside port
    int requests = 0;

    QString protocol() const override { return kind; }
    bool find(QString *, bool *) override { return true; }
    QString outsideAddress() const override { return outside; }
    QString insideAddress() const override { return QStringLiteral("192.168.1.10"); }
    Grant map(int insidePort, int outsidePort, int leaseSeconds) override
    {
        ++requests;
        Grant g;
        if (refused.contains(outsidePort)) {
            g.text = QStringLiteral("not allowed");
            return g;
        }
        if (taken.contains(outsidePort) || forwarded.contains(outsidePort)) {
            g.taken = true;
            return g;
        }
        forwarded.insert(outsidePort, insidePort);
        g.ok = true;
        g.outsidePort = outsidePort;
        g.leaseSeconds = leaseSeconds > 0 ? lease : 0;
        return g;
    }
    void unmap(int insidePort, int outsidePort) override
    {
        if (forwarded.value(outsidePort) == insidePort)
            forwarded.remove(outsidePort);
    }
};

RouterMapping::Request request()
{
    RouterMapping::Request r;
    r.insideBase = 2000;
    r.offsets = {0, 1, 2, 3, 16};
    return r;
}

QHash<int, int> block(int outsideBase)
{
    QHash<int, int> b;
    for (int offset : {0, 1, 2, 3, 16})
        b.insert(outsideBase + offset, 2000 + offset);
    return b;
}

} // namespace

class TestRouterMapping : public QObject
{
    Q_OBJECT

private slots:
    void theBlockKeepsTheOffsetsAndIsGivenBackWhole()
    {
        Router router;
        router.lease = 1800;
        const RouterMapping::Outcome outcome = RouterMapping::mapWith(router, request());
        QCOMPARE(outcome.result, RouterMapping::Outcome::Mapped);
        QCOMPARE(outcome.outsideBase, 2000);
        QCOMPARE(outcome.leaseSeconds, 1800);
        QCOMPARE(outcome.outsideAddress, router.outside);
        QCOMPARE(router.forwarded, block(2000));
        // unmap() needs the gateway map() keeps; with one given it frees the whole block.
        RouterMapping::Outcome kept = outcome;
        kept.gateway = std::shared_ptr<PortGateway>(&router, [](PortGateway *) {});
        RouterMapping::unmap(request(), kept);
        QVERIFY(router.forwarded.isEmpty());
    }

    void aTakenPortMovesTheBlockAndLeavesNothingBehind()
    {
        Router router;
        router.taken = {2003};
        RouterMapping::Request r = request();
        const RouterMapping::Outcome outcome = RouterMapping::mapWith(router, r);
        QCOMPARE(outcome.result, RouterMapping::Outcome::Mapped);
        QCOMPARE(outcome.outsideBase, 2000 + RouterMapping::BlockStep);
        // The three ports the first block got are given back.
        QCOMPARE(router.forwarded, block(2000 + RouterMapping::BlockStep));

        // Every block taken: refused after the attempts, with nothing left forwarded.
        Router full;
        for (int p = 2000; p < 2000 + RouterMapping::BlockAttempts * RouterMapping::BlockStep + 20; ++p)
            full.taken.insert(p);
        const RouterMapping::Outcome none = RouterMapping::mapWith(full, r);
        QCOMPARE(none.result, RouterMapping::Outcome::Refused);
        QCOMPARE(full.requests, RouterMapping::BlockAttempts);
        QVERIFY(full.forwarded.isEmpty());
    }

    void aRefusalOrAPrivateOutsideIsSaidAndNothingStaysForwarded()
    {
        Router router;
        router.refused = {2002};
        const RouterMapping::Outcome refused = RouterMapping::mapWith(router, request());
        QCOMPARE(refused.result, RouterMapping::Outcome::Refused);
        QVERIFY2(refused.detail.contains(QLatin1String("2002")) && refused.detail.contains(QLatin1String("not allowed")),
                 qPrintable(refused.detail));
        QVERIFY(router.forwarded.isEmpty());

        Router behind;
        behind.outside = QStringLiteral("10.0.0.2");
        QCOMPARE(RouterMapping::mapWith(behind, request()).result, RouterMapping::Outcome::PrivateOutside);
        QCOMPARE(behind.requests, 0);

        // A NAT-PMP router that gives the ports for no time has given nothing.
        Router noTime;
        noTime.kind = QStringLiteral("NAT-PMP");
        noTime.lease = 0;
        QCOMPARE(RouterMapping::mapWith(noTime, request()).result, RouterMapping::Outcome::NoLease);
        QVERIFY(noTime.forwarded.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestRouterMapping)
#include "tst_routermapping.moc"
