#pragma once

// The pieces of the live-video scenarios: a program with the test devices and its self view
// open, a count of the frames it draws, a bare media peer that reads the packets off the
// wire, and a network namespace of the test's own whose loopback is a slow link.

#include "call/CallControl.h"
#include "core/IPPort.h"
#include "core/SoundPlayer.h"
#include "media/CaptureControl.h"
#include "media/MediaSession.h"
#include "media/MediaStats.h"
#include "media/engine/TestDeviceProvider.h"
#include "media/engine/TestPatternCamera.h"
#include "media/engine/VideoEngine.h"
#include "support/TestSupport.h"
#include "ui/Program.h"
#include "ui/frmMain.h"
#include "ui/frmSelf.h"

#include <QDateTime>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>

#include <QProcess>

#include <fcntl.h>
#include <sched.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>

namespace MediaKit {

// One program with the test devices, its own profile folder and ports, the test pattern
// camera running and the self view open, as a user has it.
struct Peer
{
    QTemporaryDir dir;
    std::unique_ptr<Program> program;
    int port = 0;

    explicit Peer(const QString &name, bool autoAccept = false)
    {
        port = TestSupport::portBlock();
        program = std::make_unique<Program>(ProgramOptions{port, dir.path(), {}, true});
        program->start();
        program->sounds().setMuted(true);
        Settings &s = program->settings();
        s.Name = name;
        s.Location = name + QStringLiteral("ville");
        s.EMail = name.toLower() + QStringLiteral("@example.org");
        s.AutoAccept = autoAccept;
        if (program->videoEngine().driverGetName() != TestPatternCamera::deviceName())
            program->capture().chooseDriver(TestPatternCamera::deviceName());
        program->selfView()->show();
    }

    ProgramState &state() { return program->state(); }
    MediaSession &session() { return program->mediaSession(); }
    VideoEngine &video() { return program->videoEngine(); }
    const MediaStats::Totals &totals() { return program->mediaStats().totals(); }
    TestPatternCamera *camera()
    {
        return static_cast<TestDeviceProvider &>(program->devices()).patternCamera();
    }
    void call(Peer &callee) { program->calls().placeCall(QStringLiteral("127.0.0.1:%1").arg(callee.port), 2000, 0); }
    // Calls a bare socket on its media port, as the calling side of a call does.
    void openMedia(quint16 peerPort)
    {
        IPPort &client = program->ippClient();
        client.setRemotePort(peerPort);
        client.setRemoteAddress(QStringLiteral("127.0.0.1"));
        client.setConnected(true);
    }
    // The self view's pause/play button, clicked as a user does.
    void clickCamSet() { program->selfView()->cmdCamSet()->click(); }
    // Lets this program's main timer run `ticks` more times.
    bool waitTicks(int ticks)
    {
        QSignalSpy spy(program->mainWindow()->tmrMain(), &QTimer::timeout);
        return QTest::qWaitFor([&] { return spy.count() >= ticks; }, 10000);
    }
};

// The newest stamp a program drew from its peer, and how many frames it drew.
struct DrawnFrames
{
    qint64 count = 0;
    qint64 newest = -1;

    explicit DrawnFrames(Peer &peer)
    {
        QObject::connect(&peer.video(), &VideoEngine::frameDrawn, peer.program.get(), [this](const QImage &frame) {
            ++count;
            const TestPatternCamera::Stamp stamp = TestPatternCamera::readStamp(frame);
            if (stamp.valid)
                newest = std::max<qint64>(newest, stamp.frameNumber);
        });
    }
};

// A media peer made of a listening socket that takes a program's media client and reads
// the packets off the wire, either as fast as they come or at a fixed pace. What it does
// not read waits with the sender, as on a slow link: its receive buffer is kept small.
struct WirePeer
{
    struct Packet
    {
        QByteArray kind;
        QByteArray body;
        qint64 readAtMs = 0;
    };

    QTcpServer server;
    QPointer<QTcpSocket> socket;
    QByteArray pending;
    QList<Packet> packets;
    QTimer pace;
    int bytesPerRead = 0; // 0: everything as it arrives

    explicit WirePeer(int receiveBuffer = 0)
    {
        server.listen(QHostAddress::LocalHost, quint16(TestSupport::portBlock(1)));
        if (receiveBuffer > 0) {
            // Accepted connections take the listening socket's buffer size from the start.
            const int size = receiveBuffer;
            ::setsockopt(int(server.socketDescriptor()), SOL_SOCKET, SO_RCVBUF, &size, sizeof size);
        }
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            socket = server.nextPendingConnection();
            QObject::connect(socket, &QTcpSocket::readyRead, [this] {
                if (bytesPerRead == 0)
                    take(socket->readAll());
            });
        });
        pace.setInterval(50);
        QObject::connect(&pace, &QTimer::timeout, [this] {
            if (socket && bytesPerRead > 0)
                take(socket->read(bytesPerRead));
        });
    }
    quint16 port() const { return server.serverPort(); }

    // Reads `bytesPerSecond` in twenty portions a second; 0 reads everything at once.
    void setPace(int bytesPerSecond)
    {
        bytesPerRead = bytesPerSecond / 20;
        if (socket)
            socket->setReadBufferSize(bytesPerRead);
        if (bytesPerRead > 0) {
            pace.start();
        } else {
            pace.stop();
            if (socket)
                take(socket->readAll());
        }
    }

    void take(const QByteArray &bytes)
    {
        pending += bytes;
        const qint64 now = QDateTime::currentMSecsSinceEpoch();
        for (;;) {
            if (pending.size() < 8)
                return;
            const int length = pending.mid(3, 5).toInt();
            if (pending.size() < 8 + length + 3)
                return;
            packets.append({pending.left(3), pending.mid(8, length), now});
            pending.remove(0, 8 + length + 3);
        }
    }
};

// A network namespace of the test's own whose loopback is a slow link (a token bucket with
// the buffer of a modest line, shared by both directions), entered by the calling thread,
// where the programs' sockets live: two programs made afterwards call each other over it.
// Left and removed again when this goes. `error` says why it could not be made.
struct ShapedLink
{
    QString name;
    QString error;
    int home = -1;
    bool made = false;
    bool entered = false;

    explicit ShapedLink(int kbit)
    {
        name = QStringLiteral("zelmolink%1").arg(::getpid());
        if (::geteuid() != 0) {
            error = QStringLiteral("a network namespace of its own needs root");
            return;
        }
        made = run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("add"), name});
        if (!made || !run(QStringLiteral("ip"), {QStringLiteral("-n"), name, QStringLiteral("link"), QStringLiteral("set"),
                                                QStringLiteral("lo"), QStringLiteral("up"), QStringLiteral("mtu"),
                                                QStringLiteral("1500")})
            || !setRate(kbit, QStringLiteral("add"))) {
            error = QStringLiteral("could not make network namespace %1 with a shaped loopback (ip, tc)").arg(name);
            return;
        }
        home = ::open("/proc/self/ns/net", O_RDONLY | O_CLOEXEC);
        const int target = ::open(QStringLiteral("/run/netns/%1").arg(name).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
        entered = home >= 0 && target >= 0 && ::setns(target, CLONE_NEWNET) == 0;
        if (target >= 0)
            ::close(target);
        if (!entered)
            error = QStringLiteral("could not enter network namespace %1").arg(name);
    }
    ~ShapedLink()
    {
        if (entered)
            ::setns(home, CLONE_NEWNET);
        if (home >= 0)
            ::close(home);
        if (made)
            run(QStringLiteral("ip"), {QStringLiteral("netns"), QStringLiteral("del"), name});
    }
    ShapedLink(const ShapedLink &) = delete;
    ShapedLink &operator=(const ShapedLink &) = delete;

    // The link's rate from now on.
    bool setRate(int kbit, const QString &verb = QStringLiteral("change"))
    {
        return run(QStringLiteral("tc"), {QStringLiteral("-n"), name, QStringLiteral("qdisc"), verb, QStringLiteral("dev"),
                                          QStringLiteral("lo"), QStringLiteral("root"), QStringLiteral("tbf"),
                                          QStringLiteral("rate"), QStringLiteral("%1kbit").arg(kbit),
                                          QStringLiteral("burst"), QStringLiteral("3000"), QStringLiteral("latency"),
                                          QStringLiteral("200ms")});
    }
    static bool run(const QString &program, const QStringList &arguments)
    {
        QProcess p;
        p.start(program, arguments);
        return p.waitForFinished(10000) && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
    }
};

} // namespace MediaKit
