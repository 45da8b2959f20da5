// A call's ICE session on its own, without a peer: what it gathers before it asks anyone.

#include "path/IceModule.h"
#include "path/IceSession.h"

#include <QHostAddress>
#include <QSignalSpy>
#include <QTest>

class TestIceSession : public QObject
{
    Q_OBJECT

private slots:
    // Relay access without a port (a server that named none) is no relay: the candidates
    // on this machine are gathered at once, not after asking a port that cannot answer.
    void aRelayWithoutAPortIsNotWaitedFor()
    {
        IceModule module;
        IceSession session(IceSession::Role::Caller, 4, &module);
        session.setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
        session.setRelay({QStringLiteral("127.0.0.1"), 0, QStringLiteral("u"), QStringLiteral("p")});
        QSignalSpy gathered(&session, &IceSession::gathered);
        session.gather();
        QVERIFY(gathered.wait(1000));
    }
};

QTEST_MAIN(TestIceSession)
#include "tst_icesession.moc"
