#include "call/CallControl.h"
#include "call/ControlProtocol.h"
#include "chat/ChatProtocol.h"
#include "chat/ChatSession.h"
#include "core/ActivityLog.h"
#include "core/IPDaemon.h"
#include "directory/DirectoryService.h"
#include "core/SoundPlayer.h"
#include "media/CaptureControl.h"
#include "media/MediaSession.h"
#include "media/MediaStats.h"
#include "media/engine/TestPatternCamera.h"
#include "media/engine/VideoEngine.h"
#include "messages/MessageService.h"
#include "messages/QuickMessageProtocol.h"
#include "secure/CallSecurity.h"
#include "secure/SecureListener.h"
#include "secure/SecurityService.h"
#include "secure/TlsSetup.h"
#include "support/SecureKit.h"
#include "support/TestSupport.h"
#include "ui/Program.h"
#include "ui/frmCallIn.h"
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

// Floods and faults on the control, media, quick-message, chat and encrypted ports: many held
// connections, a peer that drips one byte at a time, peers that reset in the middle of a
// message, a caller that closes its control connection and opens the media or chat at once. The program must keep its tick, its call,
// a bounded set of connections, and give every descriptor back.
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

    // Calls the callee, which must accept by itself, and waits for the call and a few of
    // this side's test-pattern frames to reach it.
    bool callAndSeeFrames(Peer &callee)
    {
        call(callee);
        if (!QTest::qWaitFor([&] { return callee.program->state().callState == CallState::InCall; }, 10000))
            return false;
        if (program->videoEngine().driverGetName() != TestPatternCamera::deviceName())
            program->capture().chooseDriver(TestPatternCamera::deviceName());
        return QTest::qWaitFor([&] { return callee.program->mediaStats().framesReceived() >= 3; }, 10000);
    }
};

// Counts a timer's ticks and keeps the longest pause between two, for the record.
struct TickWatch
{
    int count = 0;
    qint64 longestGap = 0;
    QElapsedTimer sinceTick;
    QMetaObject::Connection connection;

    explicit TickWatch(QTimer *timer)
    {
        sinceTick.start();
        connection = QObject::connect(timer, &QTimer::timeout, [this] {
            ++count;
            longestGap = std::max(longestGap, sinceTick.restart());
        });
    }
    ~TickWatch() { QObject::disconnect(connection); }
};

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::System).size());
}

// Connections opened by a peer and held from its side until the flood goes.
struct Flood
{
    int port;
    std::vector<std::unique_ptr<QTcpSocket>> sockets;
    // How long the longest-held connection stayed open before the other side closed it.
    qint64 longestHeldMs = 0;

    explicit Flood(int port) : port(port) {}
    // Each connection sends `opening` once it is up, and then nothing more.
    void open(int count, const QByteArray &opening = {})
    {
        for (int i = 0; i < count; ++i) {
            sockets.push_back(std::make_unique<QTcpSocket>());
            QTcpSocket *socket = sockets.back().get();
            auto since = std::make_shared<QElapsedTimer>();
            QObject::connect(socket, &QTcpSocket::connected, [socket, since, opening] {
                since->start();
                if (!opening.isEmpty())
                    socket->write(opening);
            });
            QObject::connect(socket, &QTcpSocket::stateChanged, [this, since](QAbstractSocket::SocketState state) {
                if (state == QAbstractSocket::UnconnectedState && since->isValid())
                    longestHeldMs = std::max(longestHeldMs, since->elapsed());
            });
            socket->connectToHost(QHostAddress::LocalHost, quint16(port));
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

// A caller made of bare sockets: the control connection with its request, then the media
// and chat connections as a test opens them.
struct RawCaller
{
    QTcpSocket control;
    QTcpSocket media;
    QTcpSocket chat;
    QByteArray controlIn;
    QByteArray chatIn;

    RawCaller()
    {
        QObject::connect(&control, &QTcpSocket::readyRead, [this] { controlIn += control.readAll(); });
        QObject::connect(&chat, &QTcpSocket::readyRead, [this] { chatIn += chat.readAll(); });
    }
    // Up to the acceptance of a callee that accepts by itself.
    bool requestCall(int port)
    {
        control.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (!control.waitForConnected(5000))
            return false;
        control.write(ControlProtocol::request(QStringLiteral("Eve"), QStringLiteral("Evetown"), QTime(9, 5)));
        return QTest::qWaitFor([this] { return controlIn.startsWith("RRS;YES;"); }, 10000);
    }
    // The kernel takes the connection whatever the program will make of it.
    bool openChat(int port)
    {
        chat.connectToHost(QHostAddress::LocalHost, quint16(port + 3));
        return chat.waitForConnected(5000);
    }
};

void resetMidMessage(QTcpSocket &socket, const QByteArray &part)
{
    socket.write(part);
    socket.flush();
    const linger reset{1, 0};
    ::setsockopt(int(socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
    socket.abort();
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
        QVERIFY(ann.callAndSeeFrames(bob));
        QVERIFY(answers(bob.port));
        const int descriptors = openDescriptors();
        const qint64 memory = TestSupport::residentKilobytes();

        TickWatch ticks(bob.tick());
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
                peak = std::max(peak, TestSupport::residentKilobytes());
            }
            // The call goes on meanwhile: its control connection stays, frames keep coming,
            // and the tick keeps running.
            QTRY_VERIFY_WITH_TIMEOUT(bob.program->mediaStats().framesReceived() >= framesBefore + 5, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count >= 5, 10000);
            QVERIFY(bob.program->ipdControl().isConnected(1));
            QCOMPARE(bob.program->state().callState, CallState::InCall);
            // Held connections that never speak are let go.
            QTRY_COMPARE_WITH_TIMEOUT(flood.turnedAway(), 500, 10000);
            peak = std::max(peak, TestSupport::residentKilobytes());
        }
        QVERIFY(bob.mostHeld <= CallControl::MaxControlConnections);
        QVERIFY(answers(bob.port));
        QCOMPARE(bob.program->state().callState, CallState::InCall);
        // Every descriptor comes back.
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= descriptors, 10000);
        qInfo("500 connections: %d held at most, %d ticks, longest gap %lld ms, peak memory %lld kB over %lld kB",
              bob.mostHeld, ticks.count, ticks.longestGap, peak - memory, memory);
        QVERIFY2(peak - memory < 256 * 1024, "the flood made memory grow by more than 256 MB");
    }

    void fiveHundredMediaConnectionsAreTurnedAwayDuringACall()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"));
        bob.program->settings().AutoAccept = true;
        QVERIFY(ann.callAndSeeFrames(bob));
        const int descriptors = openDescriptors();
        const qint64 memory = TestSupport::residentKilobytes();
        QSignalSpy ticks(bob.tick(), &QTimer::timeout);
        const qint32 framesBefore = bob.program->mediaStats().framesReceived();
        qint64 peak = memory;
        {
            Flood flood(bob.port + 1);
            for (int wave = 0; wave < 10; ++wave) {
                flood.open(50);
                // The call's media connection is there: every other one is closed at once.
                QTRY_COMPARE_WITH_TIMEOUT(flood.turnedAway(), int(flood.sockets.size()), 20000);
                peak = std::max(peak, TestSupport::residentKilobytes());
            }
            QTRY_VERIFY_WITH_TIMEOUT(bob.program->mediaStats().framesReceived() >= framesBefore + 5, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 5, 10000);
            QCOMPARE(bob.program->ipdMedia().connectionIds(), QList<int>{1});
        }
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= descriptors, 10000);
        QCOMPARE(bob.program->state().callState, CallState::InCall);
        qInfo("500 media connections: %d ticks, peak memory %lld kB over %lld kB", int(ticks.count()), peak - memory,
              memory);
        QVERIFY2(peak - memory < 256 * 1024, "the flood made memory grow by more than 256 MB");
    }

    void fiveHundredQuickMessageConnectionsAreBoundedAndLetGo()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"));
        bob.program->settings().AutoAccept = true;
        MessageService &messages = bob.program->messages();
        messages.setIdleCloseTime(1500);
        IPDaemon &listener = messages.ipdMessage();
        int mostHeld = 0;
        connect(&listener, &IPDaemon::connected, this,
                [&] { mostHeld = std::max(mostHeld, int(listener.connectionIds().size())); });
        QVERIFY(ann.callAndSeeFrames(bob));
        const int descriptors = openDescriptors();
        const qint64 memory = TestSupport::residentKilobytes();
        QSignalSpy ticks(bob.tick(), &QTimer::timeout);
        const qint32 framesBefore = bob.program->mediaStats().framesReceived();
        qint64 peak = memory;
        {
            Flood flood(bob.port + 2);
            for (int wave = 0; wave < 10; ++wave) {
                flood.open(50);
                // Beyond the few it has room for, the listener closes them as they come.
                QTRY_VERIFY_WITH_TIMEOUT(
                    flood.turnedAway() >= int(flood.sockets.size()) - MessageService::MaxConnections, 20000);
                peak = std::max(peak, TestSupport::residentKilobytes());
            }
            QTRY_VERIFY_WITH_TIMEOUT(bob.program->mediaStats().framesReceived() >= framesBefore + 5, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 5, 10000);
            // The held ones never send a message and are let go at the idle close.
            QTRY_COMPARE_WITH_TIMEOUT(flood.turnedAway(), 500, 10000);
        }
        QVERIFY(mostHeld <= MessageService::MaxConnections);
        QVERIFY(listener.connectionIds().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= descriptors, 10000);
        QCOMPARE(bob.program->state().callState, CallState::InCall);

        // Every slot is free again: a real message gets through.
        namespace QM = QuickMessageProtocol;
        QTcpSocket sender;
        QByteArray replies;
        connect(&sender, &QTcpSocket::readyRead, this, [&] { replies += sender.readAll(); });
        sender.connectToHost(QHostAddress::LocalHost, quint16(bob.port + 2));
        QVERIFY(sender.waitForConnected(5000));
        sender.write(QM::request(1234));
        QTRY_COMPARE(replies, QM::accepted());
        sender.write(QM::head({1234, QStringLiteral("Carol"), QString(), QString(), QString(), QStringLiteral("Hi")})
                     + QM::end());
        QTRY_COMPARE(messages.waitingCount(), 1);
        qInfo("500 quick-message connections: %d held at most, %d ticks, peak memory %lld kB over %lld kB", mostHeld,
              int(ticks.count()), peak - memory, memory);
        QVERIFY2(peak - memory < 256 * 1024, "the flood made memory grow by more than 256 MB");
    }

    void aStrangersIdleMessageConnectionsCannotKeepARealMessageOut()
    {
        namespace QM = QuickMessageProtocol;
        Peer bob(QStringLiteral("Bob"));
        MessageService &messages = bob.program->messages();
        IPDaemon &listener = messages.ipdMessage();
        // A real message from a sender on 127.0.0.1, timed from its connect to its arrival.
        const auto deliver = [&](const QString &text) {
            QElapsedTimer took;
            took.start();
            const int before = messages.waitingCount();
            QTcpSocket sender;
            QByteArray replies;
            connect(&sender, &QTcpSocket::readyRead, this, [&] { replies += sender.readAll(); });
            sender.connectToHost(QHostAddress::LocalHost, quint16(bob.port + 2));
            sender.write(QM::request(1234));
            if (!QTest::qWaitFor([&] { return replies == QM::accepted(); }, 5000))
                return qint64(-1);
            sender.write(QM::head({1234, QStringLiteral("Carol"), QString(), QString(), QString(), text}) + QM::end());
            if (!QTest::qWaitFor([&] { return messages.waitingCount() == before + 1; }, 5000))
                return qint64(-1);
            return took.elapsed();
        };
        const auto idleFrom = [&](std::vector<std::unique_ptr<QTcpSocket>> &held, const QString &address) {
            held.push_back(std::make_unique<QTcpSocket>());
            held.back()->bind(QHostAddress(address), 0);
            held.back()->connectToHost(QHostAddress::LocalHost, quint16(bob.port + 2));
        };
        const auto settled = [](const std::vector<std::unique_ptr<QTcpSocket>> &held) {
            return std::none_of(held.begin(), held.end(), [](const auto &s) {
                return s->state() == QAbstractSocket::ConnectingState || s->state() == QAbstractSocket::HostLookupState;
            });
        };

        // Ten idle connections from one stranger: it holds a few, the sender gets through.
        std::vector<std::unique_ptr<QTcpSocket>> stranger;
        for (int i = 0; i < 10; ++i)
            idleFrom(stranger, QStringLiteral("127.0.0.2"));
        QTRY_VERIFY(settled(stranger));
        QTRY_COMPARE(int(listener.connectionIds().size()), MessageService::MaxPerAddress);
        const qint64 first = deliver(QStringLiteral("Through the crowd"));
        QVERIFY(first >= 0);

        // Ten more from ten addresses take every other slot; once they have sat a few
        // seconds without a message head, the next sender takes the place of one.
        std::vector<std::unique_ptr<QTcpSocket>> crowd;
        for (int i = 0; i < 10; ++i)
            idleFrom(crowd, QStringLiteral("127.0.1.%1").arg(i + 1));
        QTRY_VERIFY(settled(crowd));
        QTest::qWait(MessageService::HeadWaitMs + 200);
        const qint64 second = deliver(QStringLiteral("Past the idle ones"));
        QVERIFY(second >= 0);
        qInfo("a message delivered in %lld ms beside ten idle connections from one address, in %lld ms beside the "
              "idle connections of eleven addresses",
              first, second);
        QVERIFY2(first < 1000 && second < 1000, "a real message waited a second or more");
        QCOMPARE(messages.waitingCount(), 2);
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
            // A reset, not an orderly close.
            resetMidMessage(eve, QByteArray("RQC;Eve;Nowh").left(1 + i % 12));
        }
        QTRY_VERIFY(bob.program->ipdControl().connectionIds().isEmpty());
        QTRY_VERIFY(openDescriptors() <= descriptors);
        QVERIFY(!bob.offered());
        // A real caller is offered the call afterwards.
        Peer ann(QStringLiteral("Ann"));
        ann.call(bob);
        QTRY_VERIFY(bob.offered());
    }

    void theChatListenerTakesACallerOnlyWhileItsControlConnectionIsUp()
    {
        Peer bob(QStringLiteral("Bob"));
        bob.program->settings().AutoAccept = true;
        IPDaemon &chat = bob.program->chat().ipdText();
        // The caller closes its control connection and opens the chat connection at once:
        // both reach the program together, and the chat connection is turned away however
        // the two are ordered when they are handed over.
        for (int round = 0; round < 20; ++round) {
            RawCaller eve;
            QVERIFY(eve.requestCall(bob.port));
            eve.control.abort();
            QVERIFY(eve.openChat(bob.port));
            QTRY_COMPARE(eve.chat.state(), QAbstractSocket::UnconnectedState);
            QVERIFY(eve.chatIn.isEmpty());
            QVERIFY(chat.connectionIds().isEmpty());
            QTRY_VERIFY(!bob.program->ipdControl().isConnected(1));
            QVERIFY(!bob.program->state().callAcceptedOnControl);
        }
        // One opened while the control connection is up is taken, and closed as soon as the
        // caller goes without the call having started.
        RawCaller eve;
        QVERIFY(eve.requestCall(bob.port));
        QVERIFY(eve.openChat(bob.port));
        QTRY_VERIFY(chat.isConnected(1));
        eve.control.abort();
        QTRY_COMPARE(eve.chat.state(), QAbstractSocket::UnconnectedState);
        QVERIFY(chat.connectionIds().isEmpty());
        QCOMPARE(bob.program->state().callState, CallState::Idle);
    }

    void theMediaListenerStartsNoCallOnceTheCallerHasClosedItsControlConnection()
    {
        Peer bob(QStringLiteral("Bob"));
        bob.program->settings().AutoAccept = true;
        IPDaemon &media = bob.program->ipdMedia();
        QSignalSpy calls(&bob.program->mediaSession(), &MediaSession::inCallChanged);
        // Accepted, then the control connection closed and the media opened at once: the
        // close may still be waiting when the media connection is offered, and no call may
        // start with nobody on the control channel.
        for (int round = 0; round < 20; ++round) {
            RawCaller eve;
            QVERIFY(eve.requestCall(bob.port));
            eve.control.abort();
            eve.media.connectToHost(QHostAddress::LocalHost, quint16(bob.port + 1));
            QVERIFY(eve.media.waitForConnected(5000));
            QTRY_COMPARE(eve.media.state(), QAbstractSocket::UnconnectedState);
            QTRY_VERIFY(!bob.program->ipdControl().isConnected(1));
            QVERIFY(media.connectionIds().isEmpty());
            QCOMPARE(bob.program->state().callState, CallState::Idle);
            QCOMPARE(calls.count(), 0);
        }
        // With the control connection up the same caller gets its call.
        RawCaller eve;
        QVERIFY(eve.requestCall(bob.port));
        eve.media.connectToHost(QHostAddress::LocalHost, quint16(bob.port + 1));
        QTRY_COMPARE(bob.program->state().callState, CallState::InCall);
        QCOMPARE(calls.count(), 1);
    }

    void fiveHundredChatConnectionsLeaveTheCallAndItsChatGoing()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"));
        bob.program->settings().AutoAccept = true;
        ann.call(bob);
        QTRY_VERIFY_WITH_TIMEOUT(ann.program->chat().isRealTime() && bob.program->chat().isRealTime(), 10000);
        if (ann.program->videoEngine().driverGetName() != TestPatternCamera::deviceName())
            ann.program->capture().chooseDriver(TestPatternCamera::deviceName());
        QTRY_VERIFY_WITH_TIMEOUT(bob.program->mediaStats().framesReceived() >= 3, 10000);
        const int descriptors = openDescriptors();
        const qint64 memory = TestSupport::residentKilobytes();
        QSignalSpy ticks(bob.tick(), &QTimer::timeout);
        const qint32 framesBefore = bob.program->mediaStats().framesReceived();
        qint64 peak = memory;
        {
            Flood flood(bob.port + 3);
            for (int wave = 0; wave < 10; ++wave) {
                flood.open(50);
                // The call's chat connection is there: every other one is closed at once.
                QTRY_COMPARE_WITH_TIMEOUT(flood.turnedAway(), int(flood.sockets.size()), 20000);
                peak = std::max(peak, TestSupport::residentKilobytes());
            }
            QTRY_VERIFY_WITH_TIMEOUT(bob.program->mediaStats().framesReceived() >= framesBefore + 5, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 5, 10000);
            QCOMPARE(bob.program->chat().ipdText().connectionIds(), QList<int>{1});
            // The chat itself goes on.
            ann.program->chat().type(QStringLiteral("still here"));
            QTRY_VERIFY(bob.program->chat().conversation().text().endsWith(QStringLiteral("still here")));
        }
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= descriptors, 10000);
        QCOMPARE(bob.program->state().callState, CallState::InCall);
        qInfo("500 chat connections: %d ticks, peak memory %lld kB over %lld kB", int(ticks.count()), peak - memory,
              memory);
        QVERIFY2(peak - memory < 256 * 1024, "the flood made memory grow by more than 256 MB");
    }

    void fiveHundredConnectionsOnTheEncryptedPortLeaveTheEncryptedCallGoing()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"));
        bob.program->settings().AutoAccept = true;
        QVERIFY(ann.callAndSeeFrames(bob));
        // The call and its frames come through the encrypted port.
        QVERIFY(bob.program->security().call().status().encrypted());
        QCOMPARE(bob.program->ipdMedia().connectionIds(), QList<int>{1});
        QVERIFY(bob.program->ipdMedia().security(1).encrypted());
        SecureListener &listener = bob.program->security().listener();
        const int descriptors = openDescriptors();
        const qint64 memory = TestSupport::residentKilobytes();

        TickWatch ticks(bob.tick());
        int mostUnderway = 0;
        connect(&listener, &SecureListener::turnedAway, this,
                [&] { mostUnderway = std::max(mostUnderway, listener.handshakesUnderway() + 1); });
        const qint32 framesBefore = bob.program->mediaStats().framesReceived();
        qint64 peak = memory;
        {
            // Four kinds, all held open from this side: silence; half a client hello (a
            // record of 512 bytes of which 31 come); garbage inside a record that claims 16 kB;
            // and garbage that is no record at all.
            const QByteArray openings[] = {
                QByteArray(),
                QByteArray::fromHex("1603010200010001fc0303") + QByteArray(20, '\x11'),
                QByteArray("\x16\x03\x01\x40\x00", 5) + QByteArray(200, '\xa5'),
                QByteArray(300, '\x5a'),
            };
            Flood flood(bob.port + TlsSetup::PortOffset);
            for (int wave = 0; wave < 10; ++wave) {
                for (int i = 0; i < 50; ++i)
                    flood.open(1, openings[i % 4]);
                // Beyond the few handshakes one address may have under way, the oldest go.
                QTRY_VERIFY_WITH_TIMEOUT(flood.turnedAway() >= int(flood.sockets.size())
                                             - SecureListener::MaxHandshakesPerAddress,
                                         20000);
                mostUnderway = std::max(mostUnderway, listener.handshakesUnderway());
                peak = std::max(peak, TestSupport::residentKilobytes());
            }
            QTRY_VERIFY_WITH_TIMEOUT(bob.program->mediaStats().framesReceived() >= framesBefore + 5, 10000);
            QTRY_VERIFY_WITH_TIMEOUT(ticks.count >= 5, 10000);
            QVERIFY(bob.program->ipdControl().isConnected(1));
            QCOMPARE(bob.program->ipdMedia().connectionIds(), QList<int>{1});
            QCOMPARE(bob.program->state().callState, CallState::InCall);
            // The last ones, never finishing their handshakes, go at its time limit.
            QTRY_COMPARE_WITH_TIMEOUT(flood.turnedAway(), 500, SecureListener::HandshakeMs + 5000);
            QCOMPARE(listener.handshakesUnderway(), 0);
            QVERIFY2(flood.longestHeldMs < SecureListener::HandshakeMs + 2000,
                     qPrintable(QStringLiteral("a connection was held %1 ms").arg(flood.longestHeldMs)));
            peak = std::max(peak, TestSupport::residentKilobytes());
            qInfo("500 encrypted-port connections: longest held %lld ms", flood.longestHeldMs);
        }
        QVERIFY(mostUnderway <= SecureListener::MaxHandshakesPerAddress);
        QVERIFY(bob.program->security().call().status().encrypted());
        {
            // A real encrypted connection is served afterwards.
            SecureKit::End carol(QStringLiteral("carol@example.org"));
            SecureKit::Client control(carol, PeerChannel::Control);
            control.connectTo(bob.port, PeerChannel::Control);
            QVERIFY(control.waitConnected());
            QVERIFY(control.port.security().encrypted());
            control.port.setConnected(false);
        }
        QTRY_COMPARE(bob.program->ipdControl().connectionIds(), QList<int>{1});
        QCOMPARE(bob.program->state().callState, CallState::InCall);
        QTRY_VERIFY_WITH_TIMEOUT(openDescriptors() <= descriptors, 10000);
        listener.disconnect(this);
        qInfo("500 encrypted-port connections: %d handshakes under way at most, %d ticks, longest gap %lld ms, peak "
              "memory %lld kB over %lld kB",
              mostUnderway, ticks.count, ticks.longestGap, peak - memory, memory);
        QVERIFY2(peak - memory < 256 * 1024, "the flood made memory grow by more than 256 MB");
    }

    void aChatPeerDrippingOrResettingDoesNoHarm()
    {
        Peer bob(QStringLiteral("Bob"));
        bob.program->settings().AutoAccept = true;
        IPDaemon &chat = bob.program->chat().ipdText();
        RawCaller eve;
        QVERIFY(eve.requestCall(bob.port));
        eve.control.write(ControlProtocol::userInfo(true));
        QTRY_VERIFY(bob.program->state().PeerIsV25);
        eve.media.connectToHost(QHostAddress::LocalHost, quint16(bob.port + 1));
        QTRY_COMPARE(bob.program->state().callState, CallState::InCall);
        QVERIFY(eve.openChat(bob.port));
        QTRY_VERIFY(chat.isConnected(1));
        const auto conversation = [&] { return bob.program->chat().conversation().text(); };

        // One byte at a time: the characters come whole, the tick goes on meanwhile.
        const QByteArray typed =
            ChatProtocol::typed(U'h') + ChatProtocol::typed(U'\u00e9') + ChatProtocol::typed(U'!');
        QSignalSpy ticks(bob.tick(), &QTimer::timeout);
        int sent = 0;
        QTimer drip;
        connect(&drip, &QTimer::timeout, [&] {
            if (sent < typed.size()) {
                eve.chat.write(typed.mid(sent++, 1));
                eve.chat.flush();
            }
        });
        drip.start(25);
        QTRY_VERIFY_WITH_TIMEOUT(conversation().endsWith(QStringLiteral("h\u00e9!")), 10000);
        QCOMPARE(sent, int(typed.size()));
        QTRY_VERIFY_WITH_TIMEOUT(ticks.count() >= 3, 10000);

        // A reset in the middle of a message: the half message is dropped, the call goes on,
        // and the caller may open its chat connection again.
        resetMidMessage(eve.chat, "Tq");
        QTRY_VERIFY(chat.connectionIds().isEmpty());
        QVERIFY(conversation().endsWith(QStringLiteral("h\u00e9!")));
        QCOMPARE(bob.program->state().callState, CallState::InCall);
        QVERIFY(bob.program->ipdControl().isConnected(1));
        QTcpSocket again;
        again.connectToHost(QHostAddress::LocalHost, quint16(bob.port + 3));
        QVERIFY(again.waitForConnected(5000));
        QTRY_VERIFY(chat.isConnected(1));
        again.write(ChatProtocol::typed(U'z'));
        QTRY_VERIFY(conversation().endsWith(QStringLiteral("h\u00e9!z")));
    }
};

QTEST_MAIN(TestFlood)
#include "tst_flood.moc"
