#include "media/AudioControl.h"
#include "media/AudioEngine.h"
#include "media/sound/TestMicrophone.h"
#include "support/MediaKit.h"
#include "ui/frmRates.h"

#include <QElapsedTimer>

#include <deque>

using namespace MediaKit;

namespace {

const PictureFit::Picture OptionsPicture{30, 320, 240};

} // namespace

class TestLiveVideo : public QObject
{
    Q_OBJECT

private slots:
    void everyCapturedFrameIsOfferedOnceWhetherOrNotTheSelfViewDrewIt()
    {
        Peer ann(QStringLiteral("Ann"));
        ann->parts().setMediaLoopByHand(true);
        TestPatternCamera *camera = ann.camera();
        QVERIFY(camera);
        camera->setOnDemand(true);
        MediaPeer peer;
        QVERIFY(ann.openMedia(peer));
        QSignalSpy previewed(&ann.video(), &VideoEngine::previewFrame);
        MediaSession &session = ann.session();
        auto framesOnWire = [&] {
            QList<quint32> numbers;
            for (const MediaPeer::Packet &p : peer.packets) {
                if (p.kind != "KJP")
                    continue;
                const QImage image = ann.video().decodeStill(p.body, QSize(320, 240));
                const TestPatternCamera::Stamp stamp = TestPatternCamera::readStamp(image);
                numbers.append(!image.isNull() && stamp.valid ? stamp.frameNumber : quint32(-1));
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
        ann.windowOf<frmSelf>()->hide();
        delivered.append(camera->framesMade());
        camera->deliverFrame();
        session.tick();
        QTRY_COMPARE(framesOnWire().size(), 6);
        QCOMPARE(framesOnWire(), delivered);
        QCOMPARE(ann.totals().framesSent, 6);
        QCOMPARE(previewed.count(), 6);
    }

    void aPictureNobodyCanSeeIsNotDrawnAndTheNewestShowsWhenItComesBack()
    {
        Peer ann(QStringLiteral("Ann"));
        ann->parts().setMediaLoopByHand(true);
        TestPatternCamera *camera = ann.camera();
        QVERIFY(camera);
        camera->setOnDemand(true);
        auto shownNumber = [](VideoView *view) { return TestPatternCamera::readStamp(view->frame()).frameNumber; };

        // The self view hidden while the camera goes on, then shown: the newest frame at once.
        frmSelf *selfView = ann.windowOf<frmSelf>();
        VideoView *self = control<VideoView>(selfView, "pnlCapture");
        camera->deliverFrame();
        QCOMPARE(shownNumber(self), camera->framesMade() - 1);
        selfView->hide();
        camera->deliverFrame();
        camera->deliverFrame();
        selfView->show();
        QCOMPARE(shownNumber(self), camera->framesMade() - 1);

        // The main window minimised: received frames are kept, not painted; restored, it
        // paints the newest.
        frmMain *main = ann.main();
        VideoView *picture = main->videoView();
        int paints = 0;
        TestSupport::EventCounter counter(picture, QEvent::Paint, &paints);
        main->showMinimized();
        QCoreApplication::processEvents();
        paints = 0;
        for (const quint32 number : {7u, 8u, 9u}) {
            const QByteArray frame = jpegOf(ann.video(), TestPatternCamera::renderFrame(number, 0, QSize(320, 240)));
            QVERIFY(!ann.video().drawFrame(frame).isNull());
            QCoreApplication::processEvents();
        }
        QCOMPARE(paints, 0);
        main->showNormal();
        QTRY_VERIFY(paints > 0);
        QCOMPARE(shownNumber(picture), 9u);
    }

    void outOfACallTheCameraRunsOnlyWhileTheSelfViewIsOpen()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"), true);
        TestPatternCamera *camera = bob.camera();
        QVERIFY(camera && camera->isActive());

        // Closed, with no call: the camera stops and the media loop rests.
        frmSelf *selfView = bob.windowOf<frmSelf>();
        selfView->hide();
        QVERIFY(!camera->isActive());
        QTRY_VERIFY(!bob->parts().mediaTimer.isActive());
        // Opened: both come back at once.
        selfView->show();
        QVERIFY(camera->isActive());
        QVERIFY(bob->parts().mediaTimer.isActive());

        // A call comes in while the self view is closed: the caller sees this camera.
        selfView->hide();
        QTRY_VERIFY(!bob->parts().mediaTimer.isActive());
        DrawnFrames atAnn(ann);
        ann.call(bob);
        QTRY_COMPARE_WITH_TIMEOUT(bob.call().callState, CallState::InCall, 10000);
        QVERIFY(camera->isActive());
        QTRY_VERIFY_WITH_TIMEOUT(atAnn.count >= 5, 10000);
        ann.calls().hangUp();
        QTRY_COMPARE(bob.call().callState, CallState::Idle);
        QVERIFY(!camera->isActive());
    }

    void bothSelfViewsOpenPauseAndResumeAndAYuvCameraKeepTheCallGoing()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"), true);
        QVERIFY(ann.windowOf<frmSelf>()->isVisible() && bob.windowOf<frmSelf>()->isVisible());
        QSignalSpy ratesShown(&bob.session(), &MediaSession::streamRatesChanged);
        DrawnFrames atAnn(ann);
        DrawnFrames atBob(bob);
        ann.call(bob);
        QVERIFY(ann.waitInCall(bob));

        // Frames flow both ways while both self views draw every frame.
        QTRY_VERIFY_WITH_TIMEOUT(atAnn.count >= 10 && atBob.count >= 10, 10000);
        // The rates window reads a frame rate within the call's first seconds.
        QTRY_VERIFY_WITH_TIMEOUT(bob.windowOf<frmRates>()->figure(frmRates::FpsIn).toDouble() > 0, 5000);
        QVERIFY(!ratesShown.isEmpty());

        // Pausing stops that side's video and only that; resuming brings it back, as often
        // as the user likes, on the calling and on the answering side.
        for (Peer *side : {&ann, &bob}) {
            DrawnFrames &other = side == &ann ? atBob : atAnn;
            DrawnFrames &own = side == &ann ? atAnn : atBob;
            for (int round = 0; round < 2; ++round) {
                side->clickCamSet();
                QVERIFY(!(*side)->capture().isRunning());
                QCOMPARE(side->windowOf<frmSelf>()->cmdCamSet()->property("tag").toString(), QStringLiteral("Play"));
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

        // A camera turning from RGB to YUV sends the same picture: each frame as it arrived,
        // against the pattern it was made from (the mean error of a colour channel, in levels).
        TestPatternCamera *camera = ann.camera();
        QVERIFY(camera);
        auto errorOfNewFrame = [&]() -> double {
            const quint32 first = camera->framesMade() + 1;
            TestPatternCamera::Stamp stamp;
            if (!QTest::qWaitFor([&] {
                    stamp = TestPatternCamera::readStamp(atBob.last);
                    return stamp.valid && stamp.frameNumber >= first;
                }, 10000))
                return 255;
            return TestSupport::meanError(atBob.last, TestPatternCamera::renderFrame(stamp.frameNumber, stamp.msecs, atBob.last.size()));
        };
        const double fromRgb = errorOfNewFrame();
        camera->setPixelFormat(QVideoFrameFormat::Format_YUV420P);
        QTRY_VERIFY(ann.video().latestIsPlanar());
        const double fromYuv = errorOfNewFrame();
        QVERIFY2(fromRgb < 6 && fromYuv < fromRgb + 2,
                 qPrintable(QStringLiteral("mean error from RGB %1, from YUV %2").arg(fromRgb).arg(fromYuv)));
        ann.calls().hangUp();
        QTRY_COMPARE(bob.call().callState, CallState::Idle);
    }

    void aCallOnASlowLinkLearnsNothingFromTheFastCallBefore()
    {
        Peer ann(QStringLiteral("Ann"));
        const auto waitTicks = [&](int ticks, const std::function<void()> &each = {}) {
            QSignalSpy spy(&ann->parts().mediaTimer, &QTimer::timeout);
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
            QVERIFY(ann.openMedia(fast));
            ann->parts().callStatus.PeerIsV25 = true;
            QVERIFY(waitTicks(30));
            QVERIFY(fast.packets.size() >= 10);
        }
        QTRY_VERIFY(!ann.inCall());

        // Then small frames on a link that takes next to nothing: from the first tick of the
        // call, little more than a frame waits to go.
        ann.video().setCaptureFormat(-1, QSize(160, 120));
        MediaPeer slow(2048);
        QVERIFY(ann.openMedia(slow));
        slow.setPace(20);
        qint64 mostWaiting = 0;
        QVERIFY(waitTicks(20, [&] { mostWaiting = std::max(mostWaiting, ann->parts().ippClient.pendingOutput()); }));
        qInfo("at most %lld bytes waited on the slow link", mostWaiting);
        QVERIFY2(mostWaiting < 4000, qPrintable(QString::number(mostWaiting)));
    }

    void aSlowReaderGetsFreshFramesAndSoundAndTheRateComesBack()
    {
        Peer ann(QStringLiteral("Ann"));
        // About 20 KB a second, a third of what a full-rate call at 320 x 240 sends.
        MediaPeer peer(2048);
        QVERIFY(ann.openMedia(peer));
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
        qint64 unreadable = 0;
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
                    // Whatever size the link lets the picture go at.
                    const TestPatternCamera::Stamp stamp =
                        TestPatternCamera::readStamp(QImage::fromData(p.body, "JPG"));
                    if (!stamp.valid)
                        ++unreadable;
                    ++framesRead;
                    worstFrameAge = std::max<qint64>(worstFrameAge, qint32(quint32(p.readAtMs) - stamp.msecs));
                }
            }
            mostWaiting = std::max(mostWaiting, ann.program->parts().ippClient.pendingOutput());
        };
        while (slow.elapsed() < 8000) {
            QTest::qWait(20);
            follow();
        }
        qInfo("slow reader: %lld frames, %lld sound blocks in 8 s; oldest frame %lld ms, sound lag %lld ms, "
              "at most %lld bytes waiting",
              framesRead, soundRead, worstFrameAge, worstSoundLag, mostWaiting);
        QVERIFY(framesRead >= 8);
        QCOMPARE(unreadable, 0);
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

    void onAShapedLinkTheReceiverDrawsTheSmallerPictureWithoutAGap()
    {
        ShapedLink link(4000);
        if (!link.entered)
            QSKIP(qPrintable(QStringLiteral("no shaped link to call over: ") + link.error));
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"), true);
        // When Bob drew each frame, and its width. A gap is counted in Ann's media ticks: a
        // machine busy with other work delays a tick as much as a frame, a queue on the line
        // only the frame.
        std::vector<std::pair<qint64, int>> drawn;
        std::vector<int> drawnAtTick;
        TestSupport::TickWatch ticks(&ann.program->parts().mediaTimer);
        QElapsedTimer clock;
        clock.start();
        connect(&bob.video(), &VideoEngine::frameDrawn, this, [&](const QImage &frame) {
            drawn.emplace_back(clock.elapsed(), frame.width());
            drawnAtTick.push_back(ticks.count);
        });
        std::vector<QSize> selfView;
        connect(&ann.video(), &VideoEngine::previewFrame, this,
                [&](const QImage &frame) { selfView.push_back(frame.size()); });

        ann.call(bob);
        QTRY_COMPARE_WITH_TIMEOUT(ann.call().callState, CallState::InCall, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(ann.session().sentPicture() == OptionsPicture, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!drawn.empty() && drawn.back().second == 320, 10000);

        QVERIFY(link.setRate(160));
        const qint64 slowedAt = clock.elapsed();
        const int slowedAtTick = ticks.count;
        const size_t selfViewBefore = selfView.size();
        QTRY_VERIFY_WITH_TIMEOUT(!drawn.empty() && drawn.back().second == 160, 20000);
        QCOMPARE(bob.session().displayWidth(), 160);
        const qint64 smallAt = drawn.back().first;
        QVERIFY(QTest::qWaitFor([&] { return clock.elapsed() > smallAt + 2000; }, 5000));
        // From the slowing down until two seconds into the smaller picture, frames kept coming:
        // never a second's ticks without one.
        int widestGap = 0;
        for (size_t i = 1; i < drawnAtTick.size(); ++i) {
            if (drawnAtTick[i] > slowedAtTick)
                widestGap = std::max(widestGap, drawnAtTick[i] - std::max(drawnAtTick[i - 1], slowedAtTick));
        }
        QVERIFY2(widestGap < 1000 / MediaSession::TickMs, qPrintable(QString::number(widestGap)));
        // Ann's own picture kept its size and its rate all along.
        const double seconds = (clock.elapsed() - slowedAt) / 1000.0;
        QVERIFY2(double(selfView.size() - selfViewBefore) / seconds > 10,
                 qPrintable(QString::number(double(selfView.size() - selfViewBefore) / seconds)));
        QVERIFY(std::all_of(selfView.begin(), selfView.end(), [](QSize s) { return s == QSize(320, 240); }));

        // The rates window tells what goes.
        QTRY_COMPARE_WITH_TIMEOUT(ann.windowOf<frmRates>()->figure(frmRates::SizeOut), QStringLiteral("160x120"), 5000);

        QVERIFY(link.setRate(4000));
        QTRY_VERIFY_WITH_TIMEOUT(ann.session().sentPicture() == OptionsPicture, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(drawn.back().second == 320, 5000);
        QTRY_COMPARE_WITH_TIMEOUT(ann.windowOf<frmRates>()->figure(frmRates::QualityOut), QStringLiteral("30"), 5000);
        ann.program->calls().hangUp();
        QTRY_COMPARE_WITH_TIMEOUT(bob.call().callState, CallState::Idle, 10000);
        QCOMPARE(ann.windowOf<frmRates>()->figure(frmRates::SizeOut), QStringLiteral("-"));
    }

    void aPeerSpeakingOnlyTheProtocolDecodesEveryFrameAtTheSizeItIsSent()
    {
        Peer ann(QStringLiteral("Ann"));
        MediaPeer peer(2048);
        QVERIFY(ann.openMedia(peer));
        // Every frame is a picture any JPEG reader shows, at one of the sizes frames go at.
        qsizetype checked = 0;
        QList<QSize> sizes;
        auto check = [&] {
            for (; checked < peer.packets.size(); ++checked) {
                const MediaPeer::Packet &p = peer.packets.at(checked);
                if (p.kind != "KJP")
                    continue;
                const QImage picture = QImage::fromData(p.body, "JPG");
                if (picture.isNull() || (picture.size() != QSize(320, 240) && picture.size() != QSize(160, 120)))
                    return false;
                if (sizes.isEmpty() || sizes.last() != picture.size())
                    sizes.append(picture.size());
            }
            return true;
        };
        QVERIFY(QTest::qWaitFor([&] { return !check() || !sizes.isEmpty(); }, 5000));
        QVERIFY(check());
        QCOMPARE(sizes, QList<QSize>{QSize(320, 240)});

        // A slow reader gets the smaller picture, and the full one again once it reads fast.
        peer.setPace(8000);
        QVERIFY(QTest::qWaitFor([&] { return !check() || sizes.last() == QSize(160, 120); }, 20000));
        QVERIFY(check());
        peer.setPace(0);
        QVERIFY(QTest::qWaitFor([&] { return !check() || sizes.last() == QSize(320, 240); }, 20000));
        QVERIFY(check());
        QCOMPARE(sizes, (QList<QSize>{QSize(320, 240), QSize(160, 120), QSize(320, 240)}));
    }
};

QTEST_MAIN(TestLiveVideo)
#include "tst_livevideo.moc"
