#pragma once

// The pieces of the live-video scenarios: a program with the test devices and its self view
// open, a count of the frames it draws, and a network namespace of the test's own whose
// loopback is a slow link. The bare media peer that reads the packets off the wire is the
// shared one of the raw clients.

#include "media/AudioBlock.h"
#include "media/MediaFormatChoice.h"
#include "media/MediaPacket.h"
#include "media/MediaStats.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/picture/TestPatternCamera.h"
#include "media/sound/TestSpeaker.h"
#include "support/RawClient.h"
#include "support/RunningProgram.h"
#include "support/Windows.h"
#include "ui/frmSelf.h"

#include <QProcess>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

namespace MediaKit {

// A picture coded as the send loop codes a frame.
inline QByteArray jpegOf(VideoEngine &engine, const QImage &picture, int quality = 30)
{
    return engine.compressPicture(picture, quality, MediaSession::MaxFrameLength);
}

// A GSM block of a steady tone.
inline QByteArray gsmBlock(AudioEngine &engine, double hz)
{
    const std::vector<qint16> samples = TestSupport::tone(hz, AudioEngine::BlockSamples);
    QByteArray out(AudioBlock::DataBytes, '\0');
    out.truncate(engine.compressAudioGSM(samples.data(), int(samples.size()), 0, reinterpret_cast<uchar *>(out.data()),
                                         int(out.size())));
    return out;
}

// A packet as the endpoint hands it over, without its terminator.
inline QByteArray unframed(const QByteArray &kind, const QByteArray &body)
{
    return MediaPacket::build(kind, body).chopped(3);
}

// One program with its windows, the test pattern camera running and the self view open,
// as a user has it.
struct Peer : RunningProgram
{
    explicit Peer(const QString &name, bool autoAccept = false)
        : RunningProgram(name, Options{.windows = true, .autoAccept = autoAccept})
    {
        if (video().driverGetName() != TestPatternCamera::deviceName())
            program->capture().chooseDriver(TestPatternCamera::deviceName());
        windowOf<frmSelf>()->show();
        // These scenarios follow the published picture and sound path (JPEG quality, the
        // link fitting, the size for an older peer); today's formats have theirs beside the
        // encryption's.
        program->mediaFormats().setPublishedOnly(true);
    }

    MediaSession &session() { return program->mediaSession(); }
    VideoEngine &video() { return program->videoEngine(); }
    const MediaStats::Totals &totals() { return program->parts().mediaStats.totals(); }
    TestPatternCamera *camera() { return static_cast<TestDeviceProvider &>(program->parts().devices).patternCamera(); }
    QString conversation() { return windowOf<frmNewChat>()->conversation(); }
    TestSpeaker *speaker() { return qobject_cast<TestSpeaker *>(program->audioEngine().outputDevice()); }
    QImage shownFrame() { return main()->videoView()->frame(); }
    // Calls a bare media peer on its port, as the calling side of a call does, and waits
    // for the call and the peer's end of the connection.
    bool openMedia(MediaPeer &peer)
    {
        IPPort &client = program->parts().ippClient;
        client.setRemotePort(peer.port());
        client.setRemoteAddress(QStringLiteral("127.0.0.1"));
        client.setConnected(true);
        return QTest::qWaitFor([&] { return inCall() && peer.socket; }, 10000);
    }
    // The self view's pause/play button, clicked as a user does.
    void clickCamSet() { windowOf<frmSelf>()->cmdCamSet()->click(); }
    // Lets this program's media tick run `ticks` more times.
    bool waitTicks(int ticks)
    {
        QSignalSpy spy(&program->parts().mediaTimer, &QTimer::timeout);
        return QTest::qWaitFor([&] { return spy.count() >= ticks; }, 10000);
    }
};

// The newest stamp a program drew from its peer, how many frames it drew, and the last.
struct DrawnFrames
{
    qint64 count = 0;
    qint64 newest = -1;
    QImage last;

    explicit DrawnFrames(Peer &peer)
    {
        QObject::connect(&peer.video(), &VideoEngine::frameDrawn, peer.program.get(), [this](const QImage &frame) {
            ++count;
            last = frame;
            const TestPatternCamera::Stamp stamp = TestPatternCamera::readStamp(frame);
            if (stamp.valid)
                newest = std::max<qint64>(newest, stamp.frameNumber);
        });
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
