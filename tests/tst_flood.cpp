#include "call/CallControl.h"
#include "ui/frmCallIn.h"
#include "core/ActivityLog.h"
#include "core/IPDaemon.h"
#include "directory/DirectoryService.h"
#include "core/SoundPlayer.h"
#include "media/CaptureControl.h"
#include "media/MediaStats.h"
#include "media/engine/TestPatternCamera.h"
#include "media/engine/VideoEngine.h"
#include "support/TestSupport.h"
#include "ui/Program.h"
#include "ui/frmMain.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <memory>
#include <vector>

#include <sys/socket.h>

// Floods and faults on the control port: many held connections, a peer that drips one byte
// at a time, peers that reset in the middle of a message. The program must keep its tick,
// its call, a bounded set of connections, and give every descriptor back.
namespace {

struct Peer
{
    QTemporaryDir dir;
    std::unique_ptr<Program> program;
    int port = 0;
    // The most control connections the program held at once.
    int mostHeld = 0;

    explicit Peer(const QString &name)
    {
        port = TestSupport::portBlock();
        program = std::make_unique<Program>(ProgramOptions{port, dir.path(), {}, true});
        program->start();
        program->sounds().setMuted(true);
        Settings &s = program->settings();
        s.Name = name;
        s.Location = name + QStringLiteral("ville");
        s.EMail = name.toLower() + QStringLiteral("@example.org");
        program->directory().setPalServer(QStringLiteral("127.0.0.1"), TestSupport::portBlock(1));
        QObject::connect(&program->ipdControl(), &IPDaemon::connected, [this] {
            mostHeld = std::max(mostHeld, int(program->ipdControl().connectionIds().size()));
        });
    }

    QTimer *tick() { return program->mainWindow()->tmrMain(); }
    bool offered() { return program->callPrompt() && program->callPrompt()->isVisible(); }
    void call(Peer &callee) { program->calls().placeCall(QStringLiteral("127.0.0.1:%1").arg(callee.port), 2000, 0); }
};

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

qint64 residentKilobytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').first().toLongLong();
    }
    return 0;
}

// Connections opened by a peer and held from its side until the flood goes.
struct Flood
{
    int port;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;

    explicit Flood(int port) : port(port) {}
    void open(int count)
    {
        for (int i = 0; i < count; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            sockets.back()->connectToHost(QHostAddress::LocalHost, quint16(port));
        }
    }
    // Sockets that connected and were then closed by the other side.
    int turnedAway() const
    {
        return int(std::count_if(sockets.begin(), sockets.end(), [](const auto &s) {
            return s->state() == QAbstractSocket::UnconnectedState;
        }));
    }
};

// The answer to a user-information message: the proof that the control port listens.
// The program runs on this thread, so the wait keeps the event loop going.
bool answers(int port)
{
    QTcpSocket probe;
    QByteArray reply;
    QObject::connect(&probe, &QTcpSocket::connected, [&probe] { probe.write("UIF;2.4;False;"); });
    QObject::connect(&probe, &QTcpSocket::readyRead, [&] { reply += probe.readAll(); });
    probe.connectToHost(QHostAddress::LocalHost, quint16(port));
    // "UIF;2.5;True;" during a call with real-time chat, "UIF;2.5;False;" otherwise.
    return QTest::qWaitFor([&] { return reply.size() >= 13 && reply.endsWith(';'); }, 10000)
           && reply.startsWith("UIF;2.5;");
}

} // namespace

class TestFlood : public QObject
{
    Q_OBJECT

private slots:
    void fiveHundredHeldConnectionsLeaveTheCallAndTheTickGoing()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"));
        bob.program->settings().AutoAccept = true;
        bob.program->calls().setDeadlines(1500, 1500, 30000);
        ann.call(bob);
        QTRY_COMPARE_WITH_TIMEOUT(bob.program->state().callState, CallState::InCall, 10000);
        if (ann.program->videoEngine().driverGetName() != TestPatternCamera::deviceName())
            ann.program->capture().chooseDriver(TestPatternCamera::deviceName());
        QTRY_VERIFY_WITH_TIMEOUT(bob.program->mediaStats().framesReceived() >= 3, 10000);
        QVERIFY(answers(bob.port));
        const int descriptors = openDescriptors();
        const qint64 memory = residentKilobytes();

        // The longest pause between two ticks, for the record.
        int ticks = 0;
        qint64 longestGap = 0;
        QElapsedTimer sinceTick;
        sinceTick.start();
        connect(bob.tick(), &QTimer::timeout, this, [&] {
            ++ticks;
            longestGap = std::max(longestGap, sinceTick.restart());
        });
        const qint32 framesBefore = bob.program->mediaStats().framesReceived();
        qint64 peak = memory;
        {
            // In waves the size of the listening queue, so that the kernel takes every
            // connection at once rather than retrying some of them for many seconds.
            Flood flood(bob.port);
            for (int wave = 0; wave < 10; ++wave) {
                flood.open(50);
                // Beyond the few it serves, the program closes them as they come.
                QTRY_VERIFY_WITH_TIMEOUT(
                    flood.turnedAway() >= int(flood.sockets.size()) - CallControl::MaxControlConnections, 20000);
                peak = std::max(peak, residentKilobytes());
            }
            // The call goes on meanwhile: its control connection stays, frames keep coming,
            // and the tick keeps running.
            QTRY_VERIFY_WITH_TIMEOUT(bob.program->mediaStats().framesReceived() >= framesBefore + 5, 10000);
            QVERIFY(ticks >= 5);
            QVERIFY(bob.program->ipdControl().isConnected(1));
            QCOMPARE(bob.program->state().callState, CallState::InCall);
            // Held connections that never speak are let go.
            QTRY_COMPARE_WITH_TIMEOUT(flood.turnedAway(), 500, 10000);
            peak = std::max(peak, residentKilobytes());
        }
        QVERIFY(bob.mostHeld <= CallControl::MaxControlConnections);
        QVERIFY(answers(bob.port));
        QCOMPARE(bob.program->state().callState, CallState::InCall);
        // Every descriptor comes back.
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= descriptors, 10000);
        bob.tick()->disconnect(this);
        qInfo("500 connections: %d held at most, %d ticks, longest gap %lld ms, peak memory %lld kB over %lld kB",
              bob.mostHeld, ticks, longestGap, peak - memory, memory);
        QVERIFY2(peak - memory < 256 * 1024, "the flood made memory grow by more than 256 MB");
    }

    void aPeerThatSendsOneByteAtATimeIsLetGo()
    {
        Peer bob(QStringLiteral("Bob"));
        bob.program->calls().setDeadlines(1000, 1000, 1000);
        QTcpSocket drip;
        drip.connectToHost(QHostAddress::LocalHost, quint16(bob.port));
        QVERIFY(drip.waitForConnected(5000));
        const QByteArray request = "RQC;Ann;Oslo;9:05;";
        int sent = 0;
        QTimer byte;
        connect(&byte, &QTimer::timeout, [&] {
            if (drip.state() == QAbstractSocket::ConnectedState)
                drip.write(request.mid(sent++ % request.size(), 1));
        });
        byte.start(100);
        // Each byte is a message of its own and none is a request: the connection stays
        // silent as far as the program is concerned, and is closed.
        QTRY_COMPARE_WITH_TIMEOUT(drip.state(), QAbstractSocket::UnconnectedState, 10000);
        QVERIFY(sent >= 2);
        QVERIFY(!bob.offered());
        QVERIFY(bob.program->ipdControl().connectionIds().isEmpty());
        QVERIFY(answers(bob.port));
    }

    void peersThatResetMidMessageLeaveNothingBehind()
    {
        Peer bob(QStringLiteral("Bob"));
        QVERIFY(answers(bob.port));
        const int descriptors = openDescriptors();
        for (int i = 0; i < 50; ++i) {
            QTcpSocket eve;
            eve.connectToHost(QHostAddress::LocalHost, quint16(bob.port));
            QVERIFY(eve.waitForConnected(5000));
            eve.write(QByteArray("RQC;Eve;Nowh").left(1 + i % 12));
            eve.flush();
            // A reset, not an orderly close.
            const linger reset{1, 0};
            QCOMPARE(::setsockopt(int(eve.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset), 0);
            eve.abort();
        }
        QTRY_VERIFY(bob.program->ipdControl().connectionIds().isEmpty());
        QTRY_VERIFY(openDescriptors() <= descriptors);
        QVERIFY(!bob.offered());
        // A real caller is offered the call afterwards.
        Peer ann(QStringLiteral("Ann"));
        ann.call(bob);
        QTRY_VERIFY(bob.offered());
    }
};

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
