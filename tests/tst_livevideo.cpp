#include "support/RawClient.h"
#include "support/Windows.h"
#include "media/MediaStats.h"
#include "media/engine/TestDeviceProvider.h"
#include "media/engine/TestMicrophone.h"
#include "media/engine/TestPatternCamera.h"

#include <QDateTime>

#include <sys/socket.h>

#include <deque>

namespace {

// One program with its windows, the test pattern camera running and the self view open,
// as a user has it.
struct Peer : RunningProgram
{
    explicit Peer(const QString &name, bool autoAccept = false)
        : RunningProgram(name, Options{.windows = true, .autoAccept = autoAccept})
    {
        if (video().driverGetName() != TestPatternCamera::deviceName())
            program->capture().chooseDriver(TestPatternCamera::deviceName());
        shell->selfView()->show();
    }

    MediaSession &session() { return program->mediaSession(); }
    VideoEngine &video() { return program->videoEngine(); }
    const MediaStats::Totals &totals() { return program->mediaStats().totals(); }
    TestPatternCamera *camera() { return static_cast<TestDeviceProvider &>(program->devices()).patternCamera(); }
    // Calls a bare socket on its media port, as the calling side of a call does.
    void openMedia(quint16 peerPort)
    {
        IPPort &client = program->ippClient();
        client.setRemotePort(peerPort);
        client.setRemoteAddress(QStringLiteral("127.0.0.1"));
        client.setConnected(true);
    }
    // The self view's pause/play button, clicked as a user does.
    void clickCamSet() { shell->selfView()->cmdCamSet()->click(); }
    // Lets this program's media tick run `ticks` more times.
    bool waitTicks(int ticks)
    {
        QSignalSpy spy(&program->mediaTimer(), &QTimer::timeout);
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

} // namespace

class TestLiveVideo : public QObject
{
    Q_OBJECT

private slots:
    void everyCapturedFrameIsOfferedOnceWhetherOrNotTheSelfViewDrewIt()
    {
        Peer ann(QStringLiteral("Ann"));
        ann->mediaTimer().stop();
        TestPatternCamera *camera = ann.camera();
        QVERIFY(camera);
        camera->setOnDemand(true);
        MediaPeer peer;
        ann.openMedia(peer.port());
        QTRY_COMPARE_WITH_TIMEOUT(ann.call().callState, CallState::InCall, 10000);
        QTRY_VERIFY(peer.socket);
        QSignalSpy previewed(&ann.video(), &VideoEngine::previewFrame);
        MediaSession &session = ann.session();
        auto framesOnWire = [&] {
            QList<quint32> numbers;
            for (const MediaPeer::Packet &p : peer.packets) {
                if (p.kind != "KJP")
                    continue;
                int w = 0;
                int h = 0;
                QImage image(320, 240, QImage::Format_RGB888);
                const int n = ann.video().unCompressStill(reinterpret_cast<const uchar *>(p.body.constData()),
                                                          int(p.body.size()), &w, &h, image.bits(),
                                                          int(image.sizeInBytes()), 320, 240);
                const TestPatternCamera::Stamp stamp = TestPatternCamera::readStamp(image);
                numbers.append(n > 0 && stamp.valid ? stamp.frameNumber : quint32(-1));
            }
            return numbers;
        };

        // Each frame arrives between two ticks; the self view draws it first, the next tick
        // still sends it, and a tick without a new frame sends none.
        QList<quint32> delivered;
        session.tick(); // the welcome text
        for (int i = 0; i < 4; ++i) {
            delivered.append(camera->framesMade());
            camera->deliverFrame();
            QCOMPARE(previewed.count(), i + 1);
            session.tick();
            session.tick();
            QTRY_COMPARE(framesOnWire().size(), i + 1);
        }
        QCOMPARE(framesOnWire(), delivered);

        // Two frames between ticks: the newer one goes, once.
        camera->deliverFrame();
        delivered.append(camera->framesMade());
        camera->deliverFrame();
        session.tick();
        session.tick();
        QTRY_COMPARE(framesOnWire().size(), 5);
        // With the self view closed nothing draws the frame first; it goes all the same.
        ann.shell->selfView()->hide();
        delivered.append(camera->framesMade());
        camera->deliverFrame();
        session.tick();
        QTRY_COMPARE(framesOnWire().size(), 6);
        QCOMPARE(framesOnWire(), delivered);
        QCOMPARE(ann.totals().framesSent, 6);
        QCOMPARE(previewed.count(), 6);
    }

    void bothSelfViewsOpenPauseAndResumeOnEitherSideKeepsTheCallGoing()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"), true);
        QVERIFY(ann.shell->selfView()->isVisible() && bob.shell->selfView()->isVisible());
        QSignalSpy ratesShown(&bob.session(), &MediaSession::streamRatesChanged);
        DrawnFrames atAnn(ann);
        DrawnFrames atBob(bob);
        ann.call(bob);
        QTRY_COMPARE_WITH_TIMEOUT(bob.call().callState, CallState::InCall, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(ann.call().callState, CallState::InCall, 10000);

        // Frames flow both ways while both self views draw every frame.
        QTRY_VERIFY_WITH_TIMEOUT(atAnn.count >= 10 && atBob.count >= 10, 10000);
        // The rates window reads a frame rate within the call's first seconds.
        QTRY_VERIFY_WITH_TIMEOUT(bob.shell->ratesWindow()->figure(frmRates::FpsIn).toDouble() > 0, 5000);
        QVERIFY(!ratesShown.isEmpty());

        // Pausing stops that side's video and only that; resuming brings it back, as often
        // as the user likes, on the calling and on the answering side.
        for (Peer *side : {&ann, &bob}) {
            DrawnFrames &other = side == &ann ? atBob : atAnn;
            DrawnFrames &own = side == &ann ? atAnn : atBob;
            for (int round = 0; round < 2; ++round) {
                side->clickCamSet();
                QVERIFY(!(*side)->capture().isRunning());
                QCOMPARE(side->shell->selfView()->cmdCamSet()->property("tag").toString(), QStringLiteral("Play"));
                QVERIFY(side->waitTicks(2)); // a frame taken just before the pause may still go
                const qint64 sentWhilePaused = side->totals().framesSent;
                QVERIFY(side->waitTicks(8));
                QCOMPARE(side->totals().framesSent, sentWhilePaused);

                const qint64 newestBefore = other.newest;
                const qint64 ownBefore = own.count;
                side->clickCamSet();
                QVERIFY((*side)->capture().isRunning());
                QTRY_VERIFY_WITH_TIMEOUT(other.newest >= newestBefore + 5, 10000);
                // The other way never stopped.
                QTRY_VERIFY_WITH_TIMEOUT(own.count >= ownBefore + 5, 10000);
            }
        }
        ann.calls().hangUp();
        QTRY_COMPARE(bob.call().callState, CallState::Idle);
    }

    void aCallOnASlowLinkLearnsNothingFromTheFastCallBefore()
    {
        Peer ann(QStringLiteral("Ann"));
        const auto waitTicks = [&](int ticks, const std::function<void()> &each = {}) {
            QSignalSpy spy(&ann->mediaTimer(), &QTimer::timeout);
            return QTest::qWaitFor([&] {
                if (each)
                    each();
                return spy.count() >= ticks;
            }, 20000);
        };
        // A fast link first, large frames going whole: the call learns a rate of its own.
        ann.video().setCaptureFormat(-1, QSize(640, 480));
        {
            MediaPeer fast;
            ann.openMedia(fast.port());
            QTRY_VERIFY(ann.inCall() && fast.socket);
            ann->callStatus().PeerIsV25 = true;
            QVERIFY(waitTicks(30));
            QVERIFY(fast.packets.size() >= 10);
        }
        QTRY_VERIFY(!ann.inCall());

        // Then small frames on a link that takes next to nothing: from the first tick of the
        // call, little more than a frame waits to go.
        ann.video().setCaptureFormat(-1, QSize(160, 120));
        MediaPeer slow(2048);
        ann.openMedia(slow.port());
        QTRY_VERIFY(ann.inCall() && slow.socket);
        slow.setPace(20);
        qint64 mostWaiting = 0;
        QVERIFY(waitTicks(20, [&] { mostWaiting = std::max(mostWaiting, ann->ippClient().pendingOutput()); }));
        qInfo("at most %lld bytes waited on the slow link", mostWaiting);
        QVERIFY2(mostWaiting < 4000, qPrintable(QString::number(mostWaiting)));
    }

    void aSlowReaderGetsFreshFramesAndSoundAndTheRateComesBack()
    {
        Peer ann(QStringLiteral("Ann"));
        // About 20 KB a second, a third of what a full-rate call at 320 x 240 sends.
        MediaPeer peer(2048);
        ann.openMedia(peer.port());
        QTRY_COMPARE_WITH_TIMEOUT(ann.call().callState, CallState::InCall, 10000);
        QTRY_VERIFY(peer.socket);
        peer.setPace(20000);
        ann.program->audioControl().talkPressed(Qt::RightButton);
        auto *microphone = qobject_cast<TestMicrophone *>(ann.program->audioEngine().inputDevice());
        QVERIFY(microphone);

        // For eight seconds: every frame read shows a picture less than a second old, the
        // sound read is never more than a second behind the microphone, and what waits to
        // go out stays small.
        qint64 soundRead = 0;
        qint64 framesRead = 0;
        qint64 worstFrameAge = 0;
        qint64 worstSoundLag = 0;
        qint64 mostWaiting = 0;
        qsizetype seen = 0;
        QElapsedTimer slow;
        slow.start();
        auto follow = [&] {
            for (; seen < peer.packets.size(); ++seen) {
                const MediaPeer::Packet &p = peer.packets.at(seen);
                if (p.kind == "AUD") {
                    ++soundRead;
                    const qint64 made = microphone->samplesDelivered() / AudioEngine::BlockSamples;
                    worstSoundLag = std::max(worstSoundLag, (made - soundRead) * 80);
                } else if (p.kind == "KJP") {
                    QImage image(320, 240, QImage::Format_RGB888);
                    int w = 0;
                    int h = 0;
                    ann.video().unCompressStill(reinterpret_cast<const uchar *>(p.body.constData()), int(p.body.size()),
                                                &w, &h, image.bits(), int(image.sizeInBytes()), 320, 240);
                    const TestPatternCamera::Stamp stamp = TestPatternCamera::readStamp(image);
                    QVERIFY(stamp.valid);
                    ++framesRead;
                    worstFrameAge = std::max<qint64>(worstFrameAge, qint32(quint32(p.readAtMs) - stamp.msecs));
                }
            }
            mostWaiting = std::max(mostWaiting, ann.program->ippClient().pendingOutput());
        };
        while (slow.elapsed() < 8000) {
            QTest::qWait(20);
            follow();
        }
        qInfo("slow reader: %lld frames, %lld sound blocks in 8 s; oldest frame %lld ms, sound lag %lld ms, "
              "at most %lld bytes waiting",
              framesRead, soundRead, worstFrameAge, worstSoundLag, mostWaiting);
        QVERIFY(framesRead >= 8);
        QVERIFY(soundRead >= 8 * 12 * 9 / 10);
        QVERIFY2(worstFrameAge < 1000, qPrintable(QString::number(worstFrameAge)));
        QVERIFY2(worstSoundLag < 1000, qPrintable(QString::number(worstSoundLag)));
        QVERIFY2(mostWaiting < 64 * 1024, qPrintable(QString::number(mostWaiting)));
        QVERIFY(ann.totals().framesSkipped > 0);

        // Reading fast again, the frames come back at the tick rate.
        peer.setPace(0);
        std::deque<qint64> recent;
        qint64 counted = framesRead;
        QVERIFY(QTest::qWaitFor([&] {
            follow();
            const qint64 now = QDateTime::currentMSecsSinceEpoch();
            for (; counted < framesRead; ++counted)
                recent.push_back(now);
            while (!recent.empty() && recent.front() < now - 2000)
                recent.pop_front();
            return recent.size() >= 20;
        }, 15000));
    }
};

QTEST_MAIN(TestLiveVideo)
#include "tst_livevideo.moc"
