// A call's path over ICE: the description's text, two sessions in this process meeting on
// loopback, and a real relay (the TURN server, started here) carrying them, losing its
// credentials and going away mid-call. Each channel's taken socket is driven as its owner
// would drive it: written as it takes bytes, read all at once or a slice at a time.

#include "path/IceDescription.h"
#include "path/IceClosings.h"
#include "path/IceModule.h"
#include "path/IceSession.h"
#include "server/RelayCredentials.h"
#include "support/TestSupport.h"
#include "support/TurnRelay.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QProcess>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#pragma push_macro("signals")
#undef signals
#pragma pop_macro("signals")

#include <cerrno>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int Channels = 4;

QByteArray pattern(qsizetype size, int seed)
{
    QByteArray bytes(size, Qt::Uninitialized);
    quint32 x = 2463534242u ^ quint32(seed);
    for (qsizetype i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = char(x);
    }
    return bytes;
}

// A taken socket as its owner drives it: what it is given goes out as the socket takes it;
// what comes is read at once, or (slowly) one slice per tick.
class Endpoint : public QObject
{
public:
    explicit Endpoint(int fd)
        : m_fd(fd)
        , m_read(fd, QSocketNotifier::Read)
        , m_write(fd, QSocketNotifier::Write)
    {
        m_write.setEnabled(false);
        connect(&m_read, &QSocketNotifier::activated, this, [this] { readSome(-1); });
        connect(&m_write, &QSocketNotifier::activated, this, &Endpoint::writeSome);
        connect(&m_slow, &QTimer::timeout, this, [this] { readSome(m_slice); });
    }
    ~Endpoint() override { closeSocket(); }

    void send(const QByteArray &bytes)
    {
        m_queue += bytes;
        writeSome();
    }
    // Reads at most `slice` bytes every `everyMs` from now on.
    void readSlowly(int slice, int everyMs)
    {
        m_slice = slice;
        m_read.setEnabled(false);
        m_slow.start(everyMs);
    }
    void readFast()
    {
        m_slow.stop();
        m_read.setEnabled(!eof);
    }
    void closeSocket()
    {
        m_read.setEnabled(false);
        m_write.setEnabled(false);
        m_slow.stop();
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }
    qint64 written() const { return m_written; }
    qsizetype unsent() const { return m_queue.size() - m_queuedAt; }

    QByteArray received;
    bool eof = false;
    int error = 0;

private:
    void writeSome()
    {
        while (m_fd >= 0 && m_queuedAt < m_queue.size()) {
            const ssize_t n = ::send(m_fd, m_queue.constData() + m_queuedAt, std::size_t(m_queue.size() - m_queuedAt),
                                     MSG_NOSIGNAL | MSG_DONTWAIT);
            if (n > 0) {
                m_queuedAt += n;
                m_written += n;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                m_write.setEnabled(true);
                return;
            }
            error = errno;
            break;
        }
        m_queue.clear();
        m_queuedAt = 0;
        m_write.setEnabled(false);
    }
    void readSome(qsizetype most)
    {
        char buffer[65536];
        while (m_fd >= 0 && !eof && most != 0) {
            const std::size_t want = most < 0 ? sizeof buffer : std::min<std::size_t>(sizeof buffer, std::size_t(most));
            const ssize_t n = ::recv(m_fd, buffer, want, MSG_DONTWAIT);
            if (n > 0) {
                received.append(buffer, n);
                if (most > 0)
                    most -= n;
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
                return;
            if (n < 0)
                error = errno;
            eof = true;
            m_read.setEnabled(false);
            m_slow.stop();
        }
    }

    int m_fd;
    QSocketNotifier m_read;
    QSocketNotifier m_write;
    QTimer m_slow;
    qsizetype m_slice = 0;
    QByteArray m_queue;
    qsizetype m_queuedAt = 0;
    qint64 m_written = 0;
};

// A TURN server of this test's own on loopback, with shared-secret credentials.
class Relay
{
public:
    static constexpr int Span = 40;

    Relay()
        : m_port(TestSupport::portBlock(Span))
    {
    }
    ~Relay() { kill(); }

    static bool available() { return !QStandardPaths::findExecutable(QStringLiteral("turnserver")).isEmpty(); }

    bool start()
    {
        const QStringList arguments{
            QStringLiteral("-n"),
            QStringLiteral("--listening-ip=127.0.0.1"),
            QStringLiteral("--relay-ip=127.0.0.1"),
            QStringLiteral("--listening-port=%1").arg(m_port),
            QStringLiteral("--min-port=%1").arg(m_port + 1),
            QStringLiteral("--max-port=%1").arg(m_port + Span - 1),
            QStringLiteral("--use-auth-secret"),
            QStringLiteral("--static-auth-secret=%1").arg(QString::fromLatin1(Secret)),
            QStringLiteral("--realm=zelmo"),
            QStringLiteral("--no-cli"),
            QStringLiteral("--no-tls"),
            QStringLiteral("--no-dtls"),
            QStringLiteral("--log-file=stdout"),
            QStringLiteral("--simple-log"),
            // The peers' relayed addresses are loopback ones too.
            QStringLiteral("--allow-loopback-peers"),
            QStringLiteral("--userdb=%1").arg(m_dir.filePath(QStringLiteral("turndb"))),
            QStringLiteral("--pidfile=%1").arg(m_dir.filePath(QStringLiteral("turnserver.pid"))),
        };
        m_process.setProcessChannelMode(QProcess::MergedChannels);
        m_process.start(QStringLiteral("turnserver"), arguments);
        return m_process.waitForStarted(5000);
    }
    // Up once its TCP listener takes connections (the UDP one opens with it).
    bool accepting()
    {
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, quint16(m_port));
        return m_process.state() == QProcess::Running && probe.waitForConnected(200);
    }
    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    // Credentials as the directory server hands them out: "<expiry>:<name>", and the
    // secret's HMAC-SHA1 of that, in base64.
    DirectoryProtocol::RelayAccess access(const QString &name, bool wrongPassword = false) const
    {
        DirectoryProtocol::RelayAccess access;
        access.host = QStringLiteral("127.0.0.1");
        access.port = m_port;
        access.username = QStringLiteral("%1:%2").arg(QDateTime::currentSecsSinceEpoch() + 3600).arg(name);
        const QByteArray secret = wrongPassword ? QByteArray("not the secret") : QByteArray(Secret);
        access.password = QString::fromLatin1(
            QMessageAuthenticationCode::hash(access.username.toUtf8(), secret, QCryptographicHash::Sha1).toBase64());
        return access;
    }

private:
    static constexpr char Secret[] = "zelmo-test-secret";
    int m_port;
    QTemporaryDir m_dir;
    QProcess m_process;
};

// Two sessions of one call in this process, both gathering on loopback only.
struct Call
{
    IceModule module;
    std::unique_ptr<IceSession> caller = std::make_unique<IceSession>(IceSession::Role::Caller, Channels, &module);
    std::unique_ptr<IceSession> callee = std::make_unique<IceSession>(IceSession::Role::Callee, Channels, &module);
    std::unique_ptr<QSignalSpy> callerEnded, calleeEnded;
    std::vector<std::unique_ptr<Endpoint>> callerEnds, calleeEnds;

    Call()
    {
        for (IceSession *s : {caller.get(), callee.get()})
            s->setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
    }
    void useRelay(const Relay &relay, bool relayOnly)
    {
        caller->setRelay(relay.access(QStringLiteral("ann")));
        callee->setRelay(relay.access(QStringLiteral("bo")));
        caller->setRelayOnlyForTests(relayOnly);
        callee->setRelayOnlyForTests(relayOnly);
    }
};

void gatherBoth(Call &call)
{
    QSignalSpy callerGathered(call.caller.get(), &IceSession::gathered);
    QSignalSpy calleeGathered(call.callee.get(), &IceSession::gathered);
    call.caller->gather();
    call.callee->gather();
    QTRY_VERIFY_WITH_TIMEOUT(callerGathered.count() == 1 && calleeGathered.count() == 1,
                             IceSession::GatherMs + 5000);
}

// Gathers, exchanges the descriptions through their text, waits for both to be ready and
// takes every socket.
void connectCall(Call &call)
{
    gatherBoth(call);
    if (QTest::currentTestFailed())
        return;
    const auto offer = IceDescription::parse(call.caller->localDescription().toText());
    const auto answer = IceDescription::parse(call.callee->localDescription().toText());
    QVERIFY(offer && answer);
    QSignalSpy callerReady(call.caller.get(), &IceSession::ready);
    QSignalSpy calleeReady(call.callee.get(), &IceSession::ready);
    QSignalSpy callerFailed(call.caller.get(), &IceSession::failed);
    QSignalSpy calleeFailed(call.callee.get(), &IceSession::failed);
    QVERIFY(call.callee->start(*offer));
    QVERIFY(call.caller->start(*answer));
    QTRY_VERIFY_WITH_TIMEOUT((callerReady.count() == 1 && calleeReady.count() == 1) || !callerFailed.isEmpty() ||
                                 !calleeFailed.isEmpty(),
                             IceSession::ConnectMs + 5000);
    if (!callerFailed.isEmpty() || !calleeFailed.isEmpty())
        QFAIL(qPrintable((callerFailed.isEmpty() ? calleeFailed : callerFailed).first().first().toString()));
    call.callerEnded = std::make_unique<QSignalSpy>(call.caller.get(), &IceSession::ended);
    call.calleeEnded = std::make_unique<QSignalSpy>(call.callee.get(), &IceSession::ended);
    for (int c = 1; c <= Channels; ++c) {
        const int a = call.caller->takeSocket(c);
        const int b = call.callee->takeSocket(c);
        QVERIFY(a >= 0 && b >= 0);
        QCOMPARE(call.caller->takeSocket(c), -1);
        call.callerEnds.push_back(std::make_unique<Endpoint>(a));
        call.calleeEnds.push_back(std::make_unique<Endpoint>(b));
    }
}

// Sends a distinct message each way on every channel and checks each arrives whole on the
// same channel at the other side.
void exchangeOnEveryChannel(Call &call, int round, qsizetype size = 3000)
{
    std::vector<QByteArray> there, back;
    for (int c = 0; c < Channels; ++c) {
        there.push_back(pattern(size, round * 100 + c));
        back.push_back(pattern(size, round * 100 + 50 + c));
        call.callerEnds[c]->received.clear();
        call.calleeEnds[c]->received.clear();
        call.callerEnds[c]->send(there[c]);
        call.calleeEnds[c]->send(back[c]);
    }
    for (int c = 0; c < Channels; ++c) {
        QTRY_COMPARE_WITH_TIMEOUT(call.calleeEnds[c]->received.size(), size, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(call.callerEnds[c]->received.size(), size, 10000);
        QVERIFY2(call.calleeEnds[c]->received == there[c], qPrintable(QStringLiteral("channel %1 there").arg(c + 1)));
        QVERIFY2(call.callerEnds[c]->received == back[c], qPrintable(QStringLiteral("channel %1 back").arg(c + 1)));
    }
}

QByteArray validText()
{
    return "v1|abcd|0123456789abcdefghij+/|a=candidate:1 1 UDP 2013266431 192.168.1.10 45678 typ host"
           "|a=candidate:2 1 UDP 1677724415 203.0.113.7 51000 typ srflx raddr 192.168.1.10 rport 45678";
}

} // namespace

class TestIceSession : public QObject
{
    Q_OBJECT

private slots:
    void descriptionTextIsExact()
    {
        const IceDescription description(
            "abcd", "0123456789abcdefghij+/",
            {"a=candidate:1 1 UDP 2013266431 192.168.1.10 45678 typ host",
             "a=candidate:2 1 UDP 1677724415 203.0.113.7 51000 typ srflx raddr 192.168.1.10 rport 45678"});
        QCOMPARE(description.toText(), validText());
        const auto read = IceDescription::parse(validText());
        QVERIFY(read);
        QCOMPARE(*read, description);
        // No candidates is a description too (the session asks for more before it starts).
        QCOMPARE(IceDescription("abcd", "0123456789abcdefghij+/", {}).toText(), QByteArray("v1|abcd|0123456789abcdefghij+/"));

        // The bounds themselves are allowed: 64 candidates of 256 characters, 8192 bytes.
        const QByteArray longest = "a=candidate:" + QByteArray(IceDescription::MaxCandidateLength - 12, 'x');
        QList<QByteArray> many(IceDescription::MaxCandidates, "a=candidate:1 1 UDP 1 10.0.0.1 1 typ host");
        QVERIFY(IceDescription::parse(IceDescription("abcd", QByteArray(22, 'p'), many).toText()));
        // One more, and the description has no text at all.
        many.append(many.first());
        QVERIFY(!IceDescription("abcd", QByteArray(22, 'p'), many).isValid());
        QVERIFY(IceDescription("abcd", QByteArray(22, 'p'), many).toText().isEmpty());
        QList<QByteArray> full(31, longest);
        QByteArray text = IceDescription("abcd", QByteArray(22, 'p'), full).toText();
        QVERIFY(!text.isEmpty());
        const qsizetype room = IceDescription::MaxLength - text.size() - 1;
        full.append("a=candidate:" + QByteArray(room - 12, 'y'));
        text = IceDescription("abcd", QByteArray(22, 'p'), full).toText();
        QCOMPARE(text.size(), IceDescription::MaxLength);
        QVERIFY(IceDescription::parse(text));
    }

    void descriptionRefusesWhatIsNotWhole_data()
    {
        QTest::addColumn<QByteArray>("text");
        const QByteArray good = validText();
        const QByteArray cred = "v1|abcd|0123456789abcdefghij+/|";
        QTest::newRow("empty") << QByteArray();
        QTest::newRow("other version") << QByteArray(good).replace("v1|", "v2|");
        QTest::newRow("no password") << QByteArray("v1|abcd");
        QTest::newRow("short ufrag") << QByteArray(good).replace("|abcd|", "|abc|");
        QTest::newRow("short password") << QByteArray(good).replace("0123456789abcdefghij+/", "0123456789abcdefghij+");
        QTest::newRow("ufrag of other characters") << QByteArray(good).replace("|abcd|", "|ab-d|");
        QTest::newRow("long ufrag") << QByteArray(good).replace("|abcd|", "|" + QByteArray(257, 'u') + "|");
        QTest::newRow("empty candidate") << good + "|";
        QTest::newRow("not a candidate") << cred + "candidate:1 1 UDP 1 10.0.0.1 1 typ host";
        QTest::newRow("semicolon") << cred + "a=candidate:1 1 UDP 1 10.0.0.1 1 typ host;x";
        QTest::newRow("terminator") << cred + "a=candidate:1 1 UDP 1 10.0.0.1 1 typ host<ET>";
        QTest::newRow("control character") << cred + "a=candidate:1 1 UDP 1 10.0.0.1 1 typ\thost";
        QTest::newRow("line break") << cred + "a=candidate:1 1 UDP 1 10.0.0.1 1 typ host\r\n";
        QTest::newRow("not ascii") << cred + "a=candidate:1 1 UDP 1 10.0.0.1 1 typ h\xc3\xb6st";
        QTest::newRow("nul") << cred + QByteArray("a=candidate:1 1\0 UDP", 20);
        QTest::newRow("long candidate") << cred + "a=candidate:" + QByteArray(IceDescription::MaxCandidateLength - 11, 'x');
        QByteArray tooMany = "v1|abcd|0123456789abcdefghij+/";
        for (int i = 0; i <= IceDescription::MaxCandidates; ++i)
            tooMany += "|a=candidate:1 1 UDP 1 10.0.0.1 1 typ host";
        QTest::newRow("65 candidates") << tooMany;
        QByteArray tooLong = "v1|abcd|0123456789abcdefghij+/";
        while (tooLong.size() <= IceDescription::MaxLength)
            tooLong += "|a=candidate:" + QByteArray(200, 'x');
        QTest::newRow("over 8192 bytes") << tooLong;
    }

    void descriptionRefusesWhatIsNotWhole()
    {
        QFETCH(QByteArray, text);
        QVERIFY(!IceDescription::parse(text));
    }

    void loopbackCallIsDirectOnEveryChannel()
    {
        Call call;
        connectCall(call);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(call.caller->route(), IceSession::Route::Direct);
        QCOMPARE(call.callee->route(), IceSession::Route::Direct);
        exchangeOnEveryChannel(call, 1);
        exchangeOnEveryChannel(call, 2, 200000);
        QCOMPARE(call.caller->takeSocket(1), -1);
        QCOMPARE(call.caller->takeSocket(Channels + 1), -1);

        // The figure: one channel at full speed.
        const QByteArray bulk = pattern(4 << 20, 9);
        QElapsedTimer clock;
        clock.start();
        call.calleeEnds[1]->received.clear();
        call.callerEnds[1]->send(bulk);
        QTRY_COMPARE_WITH_TIMEOUT(call.calleeEnds[1]->received.size(), bulk.size(), 60000);
        QVERIFY(call.calleeEnds[1]->received == bulk);
        qInfo("pseudo-TCP on loopback: %.1f MB/s", bulk.size() / 1e6 / (clock.elapsed() / 1000.0));
        QVERIFY(call.callerEnded->isEmpty() && call.calleeEnded->isEmpty());
    }

    void slowReaderHoldsTheWriterBack()
    {
        Call call;
        connectCall(call);
        if (QTest::currentTestFailed())
            return;
        Endpoint &writer = *call.callerEnds[2];
        Endpoint &reader = *call.calleeEnds[2];
        reader.readSlowly(32 * 1024, 10);
        const QByteArray bulk = pattern(5 << 20, 3);
        writer.send(bulk);
        qint64 mostAhead = 0;
        qint64 mostHeld = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            mostAhead = std::max(mostAhead, writer.written() - reader.received.size());
            mostHeld = std::max({mostHeld, call.caller->bufferedBytes(), call.callee->bufferedBytes()});
        });
        watch.start(5);
        QTRY_COMPARE_WITH_TIMEOUT(reader.received.size(), bulk.size(), 120000);
        QVERIFY(reader.received == bulk);
        qInfo("slow reader: writer at most %lld bytes ahead, session held at most %lld bytes", mostAhead, mostHeld);
        // What is ahead sits in the two socket pairs, the pseudo-TCP's windows and the
        // pumps: well under a megabyte, however much the writer has.
        QVERIFY2(mostAhead < 1500 * 1024, qPrintable(QString::number(mostAhead)));
        QVERIFY(mostHeld <= 2 * IceSession::ChunkBytes * Channels);
        QVERIFY(call.callerEnded->isEmpty() && call.calleeEnded->isEmpty());
    }

    void closingOneSocketEndsOnlyItsChannel()
    {
        Call call;
        connectCall(call);
        if (QTest::currentTestFailed())
            return;
        // A channel's owner closes after sending: the far side reads it all, then its end.
        call.callerEnds[2]->send(pattern(100000, 4));
        QTRY_COMPARE_WITH_TIMEOUT(call.callerEnds[2]->unsent(), 0, 10000);
        call.callerEnds[2]->closeSocket();
        QTRY_VERIFY_WITH_TIMEOUT(call.calleeEnds[2]->eof, 10000);
        QCOMPARE(call.calleeEnds[2]->received, pattern(100000, 4));
        call.calleeEnds[2]->closeSocket();
        // The other channels go on, in both directions, and the path is not lost.
        for (int round = 0; round < 20; ++round) {
            for (int c : {0, 1, 3}) {
                const QByteArray there = pattern(2000, round * 10 + c);
                call.calleeEnds[c]->received.clear();
                call.callerEnds[c]->send(there);
                QTRY_COMPARE_WITH_TIMEOUT(call.calleeEnds[c]->received, there, 10000);
                call.callerEnds[c]->received.clear();
                call.calleeEnds[c]->send(there);
                QTRY_COMPARE_WITH_TIMEOUT(call.callerEnds[c]->received, there, 10000);
            }
        }
        QVERIFY(call.callerEnded->isEmpty() && call.calleeEnded->isEmpty());
        QVERIFY(call.caller->isReady() && call.callee->isReady());
    }

    void startRefusesUnusableDescriptions()
    {
        Call call;
        gatherBoth(call);
        if (QTest::currentTestFailed())
            return;
        const IceDescription offer = call.caller->localDescription();
        QVERIFY(offer.isValid());
        const QList<QByteArray> lines = offer.candidates();
        auto with = [&](QList<QByteArray> candidates) {
            return IceDescription(offer.ufrag(), offer.password(), candidates);
        };
        QList<QByteArray> noFourth;
        for (const QByteArray &line : lines) {
            if (line.split(' ').value(1) != "4")
                noFourth << line;
        }
        QList<QByteArray> unknownComponent = lines;
        unknownComponent << "a=candidate:9 5 UDP 2013266431 127.0.0.1 40000 typ host";
        QList<QByteArray> unreadable = lines;
        unreadable << "a=candidate:nonsense";
        // Refused: not valid, a line the agent cannot read, a component it does not have,
        // and a component left without a candidate.
        QVERIFY(!call.callee->start(IceDescription("ab", offer.password(), lines)));
        QVERIFY(!call.callee->start(with(unreadable)));
        QVERIFY(!call.callee->start(with(unknownComponent)));
        QVERIFY(!call.callee->start(with(noFourth)));
        QVERIFY(!call.callee->start(with({})));
        // Before gathering, nothing is started either.
        IceSession early(IceSession::Role::Callee, Channels, &call.module);
        QVERIFY(!early.start(offer));
        // Nothing of it stuck: the good description still makes the call.
        QSignalSpy callerReady(call.caller.get(), &IceSession::ready);
        QSignalSpy calleeReady(call.callee.get(), &IceSession::ready);
        QVERIFY(call.callee->start(offer));
        QVERIFY(!call.callee->start(offer));
        QVERIFY(call.caller->start(call.callee->localDescription()));
        QTRY_VERIFY_WITH_TIMEOUT(callerReady.count() == 1 && calleeReady.count() == 1, IceSession::ConnectMs + 5000);

        // A taken socket is one the channels' TLS sockets take as they take a connection's.
        QSslSocket callerSide;
        QVERIFY(callerSide.setSocketDescriptor(call.caller->takeSocket(1)));
        QCOMPARE(callerSide.state(), QAbstractSocket::ConnectedState);
        Endpoint calleeSide(call.callee->takeSocket(1));
        callerSide.write("hello over the path");
        QTRY_COMPARE_WITH_TIMEOUT(calleeSide.received, QByteArray("hello over the path"), 10000);
        calleeSide.send("and back");
        QTRY_COMPARE_WITH_TIMEOUT(callerSide.bytesAvailable(), qint64(8), 10000);
        QCOMPARE(callerSide.readAll(), QByteArray("and back"));
    }

    // The agent comes from a module loaded when the first session gathers: one that is missing
    // or is no module fails the session with the reason, as a path that cannot be found does.
    // Relay access without a port (a server that named none) is no relay: the candidates
    // on this machine are gathered at once, not after asking a port that cannot answer.
    void aRelayWithoutAPortIsNotWaitedFor()
    {
        IceModule module;
        IceSession session(IceSession::Role::Caller, Channels, &module);
        session.setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
        session.setRelay({QStringLiteral("127.0.0.1"), 0, QStringLiteral("u"), QStringLiteral("p")});
        QSignalSpy gathered(&session, &IceSession::gathered);
        session.gather();
        QVERIFY(gathered.wait(1000));
    }

    void aSessionWithoutItsModuleFailsSayingWhy()
    {
        QTemporaryDir folder;
        const auto failure = [](IceModule &module) {
            IceSession session(IceSession::Role::Caller, Channels, &module);
            session.setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
            QSignalSpy failed(&session, &IceSession::failed);
            QSignalSpy gathered(&session, &IceSession::gathered);
            session.gather();
            if (!failed.wait(5000) || !gathered.isEmpty())
                return QStringLiteral("(no failure)");
            return failed.first().first().toString();
        };
        IceModule missing({folder.path()});
        const QString notFound = failure(missing);
        QVERIFY2(notFound.contains(QLatin1String("zelmo-ice.so was not found")) && notFound.contains(folder.path()),
                 qPrintable(notFound));
        QVERIFY(!missing.isLoaded());

        QFile notAModule(folder.filePath(QString::fromLatin1(IceModule::FileName)));
        QVERIFY(notAModule.open(QIODevice::WriteOnly));
        notAModule.write("not a shared object");
        notAModule.close();
        IceModule broken({folder.path()});
        const QString unloadable = failure(broken);
        QVERIFY2(unloadable.contains(QLatin1String("could not be loaded")), qPrintable(unloadable));
        QVERIFY(!broken.isLoaded());
    }

    void deletingAtAnyMomentIsClean()
    {
        // Mid-gathering, twice: the first also has GLib make what it keeps for good.
        IceModule module;
        auto deleteMidGathering = [&module] {
            auto early = std::make_unique<IceSession>(IceSession::Role::Caller, Channels, &module);
            early->setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
            early->gather();
            early.reset();
        };
        deleteMidGathering();
        // Sessions of the scenarios before have let go of their agents by now (those let go of
        // their sockets on the loop's next turns).
        for (int i = 0; i < 20; ++i)
            QCoreApplication::processEvents();
        const int descriptorsBefore = TestSupport::openDescriptors();
        deleteMidGathering();
        {
            // Mid-check: the caller goes before it is ready; the callee fails within its bound.
            Call call;
            gatherBoth(call);
            if (QTest::currentTestFailed())
                return;
            QSignalSpy calleeFailed(call.callee.get(), &IceSession::failed);
            QVERIFY(call.callee->start(call.caller->localDescription()));
            QVERIFY(call.caller->start(call.callee->localDescription()));
            call.caller.reset();
            QTRY_COMPARE_WITH_TIMEOUT(calleeFailed.count(), 1, IceSession::ConnectMs + 5000);
        }
        {
            // While pumping: the sending side goes mid-transfer; the far owner sees its end of
            // stream at once and the far session ends once the peer stops answering.
            Call call;
            connectCall(call);
            if (QTest::currentTestFailed())
                return;
            call.callerEnds[0]->send(pattern(8 << 20, 5));
            QTRY_VERIFY_WITH_TIMEOUT(call.calleeEnds[0]->received.size() > 100000, 10000);
            call.caller.reset();
            for (int c = 0; c < Channels; ++c) {
                QTRY_VERIFY_WITH_TIMEOUT(call.callerEnds[c]->eof || call.callerEnds[c]->error, 5000);
                QTRY_VERIFY_WITH_TIMEOUT(call.calleeEnds[c]->eof, 10000);
            }
            QTRY_COMPARE_WITH_TIMEOUT(call.calleeEnded->count(), 1, 30000);
        }
        // Every socket of the agents and the pairs has gone (the agents let go of theirs
        // on the loop once their relays are told).
        QTRY_COMPARE_WITH_TIMEOUT(TestSupport::openDescriptors(), descriptorsBefore, 10000);
    }

    void relayCarriesTheCall()
    {
        if (!Relay::available())
            QSKIP("turnserver is not installed (Debian package coturn): the relay path is not tested");
        Relay relay;
        QVERIFY(relay.start());
        QTRY_VERIFY_WITH_TIMEOUT(relay.accepting(), 10000);
        Call call;
        call.useRelay(relay, true);
        connectCall(call);
        if (QTest::currentTestFailed())
            return;
        const IceDescription offer = call.caller->localDescription();
        for (const QByteArray &line : offer.candidates())
            QVERIFY2(line.contains(" typ relay"), line.constData());
        QCOMPARE(call.caller->route(), IceSession::Route::Relayed);
        QCOMPARE(call.callee->route(), IceSession::Route::Relayed);
        exchangeOnEveryChannel(call, 1);

        const QByteArray bulk = pattern(2 << 20, 7);
        QElapsedTimer clock;
        clock.start();
        call.callerEnds[0]->send(bulk);
        call.calleeEnds[0]->received.clear();
        QTRY_COMPARE_WITH_TIMEOUT(call.calleeEnds[0]->received.size(), bulk.size(), 60000);
        QVERIFY(call.calleeEnds[0]->received == bulk);
        qInfo("pseudo-TCP through the relay on loopback: %.1f MB/s", bulk.size() / 1e6 / (clock.elapsed() / 1000.0));

        // The relay goes mid-transfer: both sessions end, and every owner's socket sees its
        // end of stream.
        call.callerEnds[1]->send(pattern(8 << 20, 8));
        QTRY_VERIFY_WITH_TIMEOUT(call.calleeEnds[1]->received.size() > 100000, 10000);
        relay.kill();
        QTRY_VERIFY_WITH_TIMEOUT(call.callerEnded->count() == 1 && call.calleeEnded->count() == 1, 45000);
        qInfo("relay gone: %s", qPrintable(call.callerEnded->first().first().toString()));
        for (int c = 0; c < Channels; ++c) {
            call.callerEnds[c]->readFast();
            call.calleeEnds[c]->readFast();
            QTRY_VERIFY_WITH_TIMEOUT(call.callerEnds[c]->eof && call.calleeEnds[c]->eof, 5000);
        }
        QVERIFY(call.calleeEnds[1]->received.size() < (8 << 20));
    }

    void wrongRelayPasswordGivesNoRelay()
    {
        if (!Relay::available())
            QSKIP("turnserver is not installed (Debian package coturn): the relay path is not tested");
        Relay relay;
        QVERIFY(relay.start());
        QTRY_VERIFY_WITH_TIMEOUT(relay.accepting(), 10000);
        // With other candidates, the call goes on without the relay.
        IceModule module;
        IceSession open(IceSession::Role::Caller, Channels, &module);
        open.setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
        open.setRelay(relay.access(QStringLiteral("ann"), true));
        QSignalSpy gathered(&open, &IceSession::gathered);
        open.gather();
        QTRY_COMPARE_WITH_TIMEOUT(gathered.count(), 1, IceSession::GatherMs + 5000);
        const IceDescription withoutRelay = open.localDescription();
        QVERIFY(!withoutRelay.candidates().isEmpty());
        for (const QByteArray &line : withoutRelay.candidates())
            QVERIFY2(!line.contains(" typ relay"), line.constData());

        // With the relay alone, there is nothing to call from, and the session says why.
        IceSession relayOnly(IceSession::Role::Caller, Channels, &module);
        relayOnly.setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
        relayOnly.setRelay(relay.access(QStringLiteral("ann"), true));
        relayOnly.setRelayOnlyForTests(true);
        QSignalSpy failed(&relayOnly, &IceSession::failed);
        QSignalSpy onlyGathered(&relayOnly, &IceSession::gathered);
        relayOnly.gather();
        QTRY_COMPARE_WITH_TIMEOUT(failed.count(), 1, IceSession::GatherMs + 5000);
        QVERIFY2(failed.first().first().toString().contains(QLatin1String("relay")),
                 qPrintable(failed.first().first().toString()));
        QVERIFY(onlyGathered.isEmpty());
    }

    // A program that ends its sessions and quits waits, a bounded time, until the relay has
    // been told to let go of their allocations; it would otherwise keep them for minutes.
    void endedSessionsLetTheRelayGoBeforeTheProgramQuits()
    {
        if (TurnRelay::program().isEmpty())
            QSKIP("turnserver is not installed (Debian package coturn): the relay path is not tested");
        QTemporaryDir dir;
        TurnRelay relay;
        const int port = TestSupport::portBlock(Relay::Span);
        QString why;
        QVERIFY2(relay.startOn(QStringLiteral("127.0.0.1"), port, Relay::Span - 1, dir.path(), &why), qPrintable(why));
        const DirectoryProtocol::RelayAccess access = RelayCredentials(relay.secret().toLatin1())
                                                          .access(QStringLiteral("127.0.0.1"), port, 0, QStringLiteral("ann"),
                                                                  QDateTime::currentSecsSinceEpoch() + 3600);
        IceModule module;
        IceClosings closings;
        std::vector<std::unique_ptr<IceSession>> sessions;
        for (const auto role : {IceSession::Role::Caller, IceSession::Role::Callee}) {
            auto session = std::make_unique<IceSession>(role, Channels, &module);
            session->setLocalAddresses({QHostAddress(QHostAddress::LocalHost)});
            session->setRelay(access);
            session->setRelayOnlyForTests(true);
            session->setClosings(&closings);
            QSignalSpy gathered(session.get(), &IceSession::gathered);
            session->gather();
            QVERIFY(gathered.wait(IceSession::GatherMs + 5000));
            sessions.push_back(std::move(session));
        }
        // Each channel of each session holds the relay over UDP and over TCP.
        const int allocations = 2 * 2 * Channels;
        QTRY_COMPARE_WITH_TIMEOUT(relay.usage().allocations, allocations, 10000);
        QCOMPARE(relay.usage().closed, 0);

        sessions.clear();
        QCOMPARE(closings.pending(), 2);
        QElapsedTimer clock;
        clock.start();
        QVERIFY(closings.waitForAll(5000));
        qInfo("The relay was told within %lld ms", clock.elapsed());
        // The program has quit: nothing more runs on its loop, and the relay lets go all the same.
        const QDeadlineTimer deadline(5000);
        while (relay.usage().closed < allocations && !deadline.hasExpired())
            QThread::msleep(50);
        QVERIFY2(relay.usage().closed == allocations,
                 qPrintable(QStringLiteral("the relay still holds %1 of %2 allocations:\n%3")
                                .arg(allocations - relay.usage().closed)
                                .arg(allocations)
                                .arg(relay.logTail(40))));
    }

    void quitWithACallUp()
    {
        // The program quits while a call is up: the sessions go with the test object, after
        // the loop has stopped for good.
        m_leftUp = std::make_unique<Call>();
        connectCall(*m_leftUp);
        if (QTest::currentTestFailed())
            return;
        m_leftUp->callerEnds[0]->send(pattern(4 << 20, 6));
        m_leftUp->calleeEnds[0]->send(pattern(4 << 20, 7));
        QTRY_VERIFY_WITH_TIMEOUT(m_leftUp->calleeEnds[0]->received.size() > 100000, 10000);
    }

private:
    std::unique_ptr<Call> m_leftUp;
};

QTEST_MAIN(TestIceSession)
#include "tst_icesession.moc"
