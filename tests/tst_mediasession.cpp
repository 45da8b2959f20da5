#include "support/MediaKit.h"
#include "ui/frmRates.h"

#include <QVideoFrame>
#include <QVideoSink>

using namespace MediaKit;

namespace {

const QString Welcome = QStringLiteral("I can SEE you Too!");

QByteArray patternPacket(VideoEngine &engine, QSize size, quint32 number = 1)
{
    return unframed(MediaPacket::VideoKind, jpegOf(engine, TestPatternCamera::renderFrame(number, 1000, size)));
}

} // namespace

class TestMediaSession : public QObject
{
    Q_OBJECT

private slots:
    void aFullCallCarriesTextVideoAndSoundBothWaysAndNobodyElseGetsIn()
    {
        Peer ann(QStringLiteral("Ann"));
        Peer bob(QStringLiteral("Bob"), true);
        ann.program->parts().mediaClock.setManual(100);
        bob.program->parts().mediaClock.setManual(100);
        QSignalSpy annText(&ann.session(), &MediaSession::textReceived);
        QSignalSpy bobText(&bob.session(), &MediaSession::textReceived);
        // A line left over from before the call does not go ahead of the welcome.
        bob.session().queueText("typed before the call");
        // Without an accepted call, a stranger on the media or chat port is closed at once.
        QSignalSpy opened(&bob.program->parts().ipdMedia, &IPDaemon::connected);
        QVERIFY(turnedAway(bob.port + 1));
        QVERIFY(turnedAway(bob.port + 3));
        QCOMPARE(opened.count(), 0);

        ann.call(bob);
        QVERIFY(ann.waitInCall(bob));
        // The caller's chat client reaches the callee's chat listener; a second media or
        // chat connection is turned away and the call goes on.
        QTRY_VERIFY(ann.program->chat().ippText().isConnected());
        QTRY_COMPARE(bob.program->chat().ipdText().connectionIds(), QList<int>{1});
        QVERIFY(turnedAway(bob.port + 1));
        QVERIFY(turnedAway(bob.port + 3));
        QCOMPARE(bob.program->parts().ipdMedia.connectionIds(), QList<int>{1});
        QCOMPARE(opened.count(), 1);

        // The welcome text is the first line each way.
        QTRY_VERIFY(!annText.isEmpty() && !bobText.isEmpty());
        QCOMPARE(annText.first().first().toString(), Welcome);
        QCOMPARE(bobText.first().first().toString(), Welcome);
        ann.session().queueText("Hello Bob, caf\xc3\xa9?");
        bob.session().queueText("Hi Ann");
        QTRY_VERIFY(bob.conversation().contains(QStringLiteral("Hello Bob, café?\n")));
        QTRY_VERIFY(ann.conversation().contains(QStringLiteral("Hi Ann\n")));
        QVERIFY(!ann.conversation().contains(QStringLiteral("typed before the call")));

        // Video both ways at 320 x 240, stamped frames intact.
        for (Peer *p : {&ann, &bob}) {
            QTRY_VERIFY(p->program->parts().mediaStats.framesReceived() >= 5);
            QCOMPARE(p->shownFrame().size(), QSize(320, 240));
            QVERIFY(TestPatternCamera::readStamp(p->shownFrame()).valid);
        }

        // 640 x 480 to a peer that announced 2.5 goes at full size, to an older peer halved.
        QSignalSpy resized(&bob.session(), &MediaSession::displaySizeChanged);
        ann.program->videoEngine().setCaptureFormat(-1, QSize(640, 480));
        QTRY_COMPARE(bob.shownFrame().size(), QSize(640, 480));
        QCOMPARE(bob.main()->displayWidth(), 640);
        QCOMPARE(resized.count(), 1);
        ann->parts().callStatus.PeerIsV25 = false;
        QTRY_COMPARE(bob.shownFrame().size(), QSize(320, 240));
        QVERIFY(TestPatternCamera::readStamp(bob.shownFrame()).valid);
        ann->parts().callStatus.PeerIsV25 = true;
        QTRY_COMPARE(bob.main()->videoView()->size(), QSize(640, 480));

        // Sound from Ann's microphone is heard on Bob's speaker.
        QVERIFY(ann->audioControl().openMicrophone());
        QTRY_VERIFY(bob.speaker() && bob.speaker()->blocksWritten() >= 6);
        QTRY_VERIFY(bob->audioControl().isSpeakerPlaying());
        // Bob's side stalls for two seconds of Ann's talk; when it plays again the speaker
        // is not left that far behind: the oldest of the burst are dropped.
        bob->parts().setMediaLoopByHand(true);
        QTRY_VERIFY_WITH_TIMEOUT(bob.program->parts().audioPlayQueue.audioPlayCount() >= 25, 10000);
        const qint64 writtenBefore = bob.speaker()->samplesWritten();
        bob.program->parts().setMediaLoopByHand(false);
        QTRY_VERIFY(bob.speaker()->samplesWritten() > writtenBefore);
        QVERIFY(bob.speaker()->pendingSamples() <= MediaSession::MaxSpeakerBacklogSamples);
        QVERIFY(bob.speaker()->samplesWritten() - writtenBefore < 25 * AudioEngine::BlockSamples);
        ann.program->parts().mediaClock.advance(1.5);
        QTRY_COMPARE(ann.program->parts().callClock.text(), QStringLiteral("00:01"));

        // Bob hangs up while Ann's microphone is open: only a side whose sound is idle
        // plays the disconnect sound; both sides are reset, the display too.
        ann.program->audioEngine().closeAudioIn();
        QTRY_VERIFY(!bob->audioControl().isSpeakerPlaying());
        QSignalSpy annSounds(&ann.program->parts().sounds, &SoundPlayer::playRequested);
        QSignalSpy bobSounds(&bob.program->parts().sounds, &SoundPlayer::playRequested);
        bob.calls().hangUp();
        QTRY_COMPARE(ann.call().callState, CallState::Idle);
        // The control connection's close may be taken in before the media connection's,
        // which is what resets the call: wait for the reset's last step.
        QTRY_VERIFY(ann.logged(QStringLiteral("Disconnected from 127.0.0.1")));
        QCOMPARE(bob.call().callState, CallState::Idle);
        QCOMPARE(bobSounds.count(), 1);
        QCOMPARE(bobSounds.first().first().toString(), QStringLiteral("discon.wav"));
        QCOMPARE(annSounds.count(), 0); // Ann's microphone was still open
        for (Peer *p : {&ann, &bob}) {
            QCOMPARE(p->program->parts().callClock.text(), QStringLiteral("00:00"));
            QVERIFY(p->conversation().endsWith(QStringLiteral("\n<End of Connection>\n")));
            QVERIFY(p->logged(QStringLiteral("Disconnected from 127.0.0.1")));
            QVERIFY(p->shownFrame().isNull());
            QVERIFY(!p->calls().status().PeerIsV25);
        }
        QCOMPARE(bob.main()->videoView()->size(), QSize(320, 240));
        QTRY_VERIFY(!ann.program->chat().ippText().isConnected());
        // After the call nobody gets in again.
        QTRY_VERIFY(!bob.call().callAcceptedOnControl);
        QVERIFY(turnedAway(bob.port + 1));
        QCOMPARE(opened.count(), 1);

        // A second call, hung up by the caller this time; the welcome comes first again. A
        // maximised window keeps its display.
        ann->audioControl().closeMicrophone();
        annText.clear();
        bobText.clear();
        ann.call(bob);
        QTRY_VERIFY(!annText.isEmpty() && !bobText.isEmpty());
        QCOMPARE(annText.first().first().toString(), Welcome);
        QCOMPARE(bobText.first().first().toString(), Welcome);
        QTRY_COMPARE(bob.session().displayWidth(), 640);
        const QSize normal = bob.main()->size();
        bob.main()->setWindowState(Qt::WindowMaximized);
        // The window gets its new size when the platform says so, which a busy machine delays.
        QTRY_VERIFY(bob.main()->size() != normal);
        const QSize maximised = bob.main()->size();
        annSounds.clear();
        bobSounds.clear();
        ann.calls().hangUp();
        QTRY_COMPARE(bob.call().callState, CallState::Idle);
        QCOMPARE(ann.call().callState, CallState::Idle);
        QCOMPARE(annSounds.count(), 1);
        QTRY_COMPARE(bobSounds.count(), 1);
        QVERIFY(bob.conversation().endsWith(QStringLiteral("\n<End of Connection>\n")));
        QCOMPARE(bob.session().displayWidth(), 640);
        QCOMPARE(bob.main()->size(), maximised);

        // The zoom menu: Small is refused while maximised; Normal always applies.
        bob.main()->action(QStringLiteral("Menu_ViewZoomLarge"))->trigger();
        bob.main()->action(QStringLiteral("Menu_ViewZoomNorm"))->trigger();
        QCOMPARE(bob.main()->displayWidth(), 320);
        bob.main()->setWindowState(Qt::WindowNoState);
        bob.main()->action(QStringLiteral("Menu_ViewZoomNorm"))->trigger();
        QCOMPARE(bob.main()->videoView()->size(), QSize(160, 120));
    }

    void receivedPacketsAreCheckedBeforeTheyAreUsed()
    {
        Peer ann(QStringLiteral("Ann"));
        ann->parts().setMediaLoopByHand(true);
        MediaSession &session = ann.session();
        QSignalSpy text(&session, &MediaSession::textReceived);
        const MediaStats &stats = ann.program->parts().mediaStats;

        // A five-letter word, then the packets that must be dropped: zero or unreadable
        // length, a length beyond the data, a packet cut by the endpoint, an unknown kind.
        session.receiveMediaData("TXT00005hello", true);
        QCOMPARE(text.count(), 1);
        QCOMPARE(text.first().first().toString(), QStringLiteral("hello"));
        for (const QByteArray &packet : {"TXT00000", "TXT00000hello", "TXTabcdehello", "TXT00010hello",
                                         "TXT-0005hello", "XYZ00005hello", "TX", ""})
            session.receiveMediaData(packet, true);
        session.receiveMediaData("TXT00005hello", false);
        QCOMPARE(text.count(), 1);

        // A frame that does not decode counts nothing; a 320 x 240 frame leaves the layout.
        QSignalSpy resized(&session, &MediaSession::displaySizeChanged);
        VideoEngine &video = ann.program->videoEngine();
        session.receiveMediaData("KJP00005hello", true);
        QCOMPARE(stats.framesReceived(), 0);
        const QSize windowBefore = ann.main()->size();
        session.receiveMediaData(patternPacket(video, QSize(320, 240)), true);
        QCOMPARE(stats.framesReceived(), 1);
        QCOMPARE(resized.count(), 0);
        QCOMPARE(ann.shownFrame().size(), QSize(320, 240));

        // A 160 x 120 frame resizes the picture and the window in its normal state; more
        // frames of that width leave the layout alone.
        session.receiveMediaData(patternPacket(video, QSize(160, 120)), true);
        QCOMPARE(resized.count(), 1);
        QCOMPARE(ann.main()->videoView()->size(), QSize(160, 120));
        const QSize windowSmall = ann.main()->size();
        QVERIFY(windowSmall.width() < windowBefore.width() || windowSmall.height() < windowBefore.height());
        session.receiveMediaData(patternPacket(video, QSize(160, 120), 2), true);
        QCOMPARE(resized.count(), 1);
        QCOMPARE(ann.main()->size(), windowSmall);
        QCOMPARE(stats.framesReceived(), 3);

        // 61 sound blocks before the queue is played: the newest one replaces block 60.
        for (int i = 0; i < 60; ++i)
            session.receiveMediaData(unframed("AUD", gsmBlock(ann.program->audioEngine(), 200 + 10 * i)), true);
        const AudioPlayQueue &play = ann.program->parts().audioPlayQueue;
        const QByteArray first = play.block(1).bytes(), last = play.block(59).bytes(), sixtieth = play.block(60).bytes();
        session.receiveMediaData(unframed("AUD", gsmBlock(ann.program->audioEngine(), 900)), true);
        QCOMPARE(play.audioPlayCount(), 60);
        QVERIFY(play.block(1).bytes() == first && play.block(59).bytes() == last);
        QVERIFY(play.block(60).bytes() != sixtieth);

        // The conversation box: past 12000 characters it is cut to its last 8000 before a
        // line goes in; a 30000-character line arrives whole.
        ann.program->chat().clearText();
        for (int i = 0; i < 13; ++i)
            session.receiveMediaData(unframed("TXT", QByteArray(999, char('a' + i))), true);
        QCOMPARE(ann.conversation().size(), 13000); // 12000 before the last line: no cut
        const QByteArray longLine = QByteArray(30000, 'x') + "END";
        session.receiveMediaData(unframed("TXT", longLine), true);
        QString box = ann.conversation();
        QCOMPARE(box.size(), 8000 + longLine.size() + 1);
        QVERIFY(box.startsWith(QString(999, QLatin1Char('f')) + QLatin1Char('\n')));
        QVERIFY(box.endsWith(QStringLiteral("xEND\n")));
        session.receiveMediaData("TXT00004last", true);
        box = ann.conversation();
        QCOMPARE(box.size(), 8000 + 5);
        QVERIFY(box.endsWith(QStringLiteral("xEND\nlast\n")));
    }

    void theSendLoopOffersTextThenSoundThenVideoAndReportsWhatItCannotSend()
    {
        Peer ann(QStringLiteral("Ann"));
        ann->parts().setMediaLoopByHand(true);
        ann.program->capture().pauseCapture();
        ann.program->parts().mediaClock.setManual(50);
        MediaPeer peer;
        MediaSession &session = ann.session();
        QVERIFY(ann.openMedia(peer));

        // The first tick sends the welcome text; nothing else waits yet. It also starts the
        // capture count and the ten seconds of the call's stream figures.
        VideoEngine &video = ann.program->videoEngine();
        const int primedAt = video.getFrameNum();
        session.tick();
        QTRY_COMPARE(peer.pairs().size(), 1);
        QCOMPARE(peer.pairs().first(), qMakePair(QByteArray("TXT"), Welcome.toUtf8()));

        // One block per tick, in order, from the send index on.
        AudioEngine &audio = ann.program->audioEngine();
        AudioSendQueue &sendQueue = ann.program->parts().audioSendQueue;
        const QList<QByteArray> blocks{gsmBlock(audio, 300), gsmBlock(audio, 500), gsmBlock(audio, 700)};
        for (const QByteArray &b : blocks)
            sendQueue.record(b);
        session.tick();
        QCOMPARE(sendQueue.audioSendIndex(), 2);
        for (int i = 0; i < 3; ++i)
            session.tick();
        QCOMPARE(sendQueue.audioSendIndex(), 4);
        QTRY_COMPARE(peer.pairs().size(), 4);
        for (int i = 0; i < 3; ++i)
            QCOMPARE(peer.pairs().at(i + 1), qMakePair(QByteArray("AUD"), blocks.at(i)));

        // A text line that holds the terminator still arrives as one line.
        session.queueText("a<E>b");
        session.tick();
        QTRY_COMPARE(peer.pairs().size(), 5);
        const QByteArray body = peer.pairs().at(4).second;
        QVERIFY(!body.contains("<E>"));
        QCOMPARE(QString::fromUtf8(body).remove(QChar(0x200B)), QStringLiteral("a<E>b"));

        // While the connection takes nothing, a waiting line holds back the sound and the
        // video of the tick; they follow once it has gone. The camera is held still, so
        // the frame that goes out is the one the blocked tick left untouched.
        ann->capture().resumeCapture();
        const int resumedAt = video.getFrameNum();
        QTRY_VERIFY(video.getFrameNum() != resumedAt);
        video.setCapStatus(false);
        session.queueText("held");
        sendQueue.record(blocks.at(0));
        const int sendIndex = sendQueue.audioSendIndex();
        const QByteArray filler = MediaPacket::build("TXT", QByteArray(MediaSession::MediaOutputBufferSize + 100, 'f'));
        QVERIFY(session.sendMediaPacket(filler) > 0);
        QCOMPARE(session.sendMediaPacket(filler), 0);
        session.tick();
        QCOMPARE(ann.program->parts().textQueue.front(), QByteArray("held"));
        QCOMPARE(sendQueue.audioSendIndex(), sendIndex);
        QCOMPARE(ann.program->parts().mediaStats.framesSent(), 0);
        QTRY_COMPARE(peer.pairs().size(), 6);
        session.tick();
        QCOMPARE(sendQueue.audioSendIndex(), sendIndex + 1);
        QVERIFY(ann.program->parts().textQueue.isEmpty());
        QCOMPARE(ann.program->parts().mediaStats.framesSent(), 1);
        QTRY_COMPARE(peer.pairs().size(), 9);
        QByteArrayList kinds;
        for (const auto &packet : peer.pairs().mid(5))
            kinds.append(packet.first);
        QCOMPARE(kinds, (QByteArrayList{"TXT", "TXT", "AUD", "KJP"}));
        QCOMPARE(peer.pairs().at(6).second, QByteArray("held"));
        // A frame goes only when the camera has made a new one.
        const int framesCaptured = video.getFrameNum();
        session.tick();
        const qint32 sent = ann.program->parts().mediaStats.framesSent();
        session.tick();
        QCOMPARE(ann.program->parts().mediaStats.framesSent(), sent);
        QTRY_VERIFY(video.getFrameNum() != framesCaptured);
        session.tick();
        QCOMPARE(ann.program->parts().mediaStats.framesSent(), sent + 1);

        // A frame that fills the receive buffer whole is taken: 40000 bytes and its header.
        QImage noise(640, 480, QImage::Format_RGB888);
        quint32 seed = 12345;
        for (qsizetype i = 0; i < noise.sizeInBytes(); ++i)
            noise.bits()[i] = uchar((seed = seed * 1664525u + 1013904223u) >> 24);
        const QByteArray big = unframed(MediaPacket::VideoKind, jpegOf(video, noise, 100)) + MediaPacket::Terminator;
        QVERIFY2(big.size() > 32768 + 11, qPrintable(QString::number(big.size())));
        const qint32 framesBefore = ann.program->parts().mediaStats.framesReceived();
        peer.socket->write(big);
        QTRY_COMPARE(ann.program->parts().mediaStats.framesReceived(), framesBefore + 1);
        QCOMPARE(ann.session().displayWidth(), 640);

        // Ten seconds into the call the figures reach the rates window.
        video.setCapStatus(false);
        const int capturedAt = video.getFrameNum();
        ann.program->parts().mediaClock.advance(10.5);
        session.tick();
        const auto rate = [&](frmRates::Figure f) { return ann.windowOf<frmRates>()->figure(f); };
        QCOMPARE(rate(frmRates::FpsCap), QString::number((capturedAt - primedAt) / 5.0, 'f', 1));
        QCOMPARE(rate(frmRates::FpsIn), QStringLiteral("0.1"));
        QCOMPARE(rate(frmRates::ThIn), QString::number(qint64(big.size() - 3) * 8 / 10));
        QCOMPARE(rate(frmRates::FpsOut), QString::number((sent + 1) / 10.0, 'f', 1));

        // The peer going away ends the call on this side.
        peer.socket->disconnectFromHost();
        QTRY_COMPARE(ann.call().callState, CallState::Idle);
        QVERIFY(ann.logged(QStringLiteral("Disconnected from 127.0.0.1")));
        QCOMPARE(sendQueue.audioSendIndex(), 1);
        QCOMPARE(sendQueue.audioRecordIndex(), 1);

        // A full text queue refuses the next line and says so; the waiting lines stay.
        QSignalSpy refused(&session, &MediaSession::textRefused);
        for (int i = 1; i < OutgoingTextQueue::Entries; ++i)
            QVERIFY(session.queueText(QByteArray::number(i)));
        QVERIFY(!session.queueText("one too many"));
        QCOMPARE(refused.count(), 1);
        QVERIFY(ann.windowOf<frmMessage>() && ann.windowOf<frmMessage>()->isVisible());
        QCOMPARE(ann.program->parts().textQueue.front(), QByteArray("1"));
        ann.windowOf<frmMessage>()->hide();

        // Captured pictures the converter cannot read: one is a damaged frame and skipped,
        // several in a row are a format it cannot use and pause capture with the message.
        video.setCapStatus(true);
        session.fetchFrame();
        for (int i = 0; i < MediaSession::UnusableFramesForFormatMessage; ++i) {
            QVERIFY(ann->capture().isRunning());
            video.videoSink()->setVideoFrame(
                QVideoFrame(QVideoFrameFormat(QSize(320, 240), QVideoFrameFormat::Format_Jpeg)));
            session.fetchFrame();
        }
        QVERIFY(!ann->capture().isRunning());
        QVERIFY(ann.windowOf<frmMessage>()->isVisible());
    }

    void theImageMessageIsBurntIntoSentFramesUntilItNoLongerFits()
    {
        Peer ann(QStringLiteral("Ann"));
        ann->parts().setMediaLoopByHand(true);
        MediaSession &session = ann.session();
        VideoEngine &video = ann.program->videoEngine();
        const auto nextFrame = [&]() -> std::pair<QImage, QImage> {
            const int at = video.getFrameNum();
            if (!QTest::qWaitFor([&] { return video.getFrameNum() != at; }, 5000))
                return {};
            video.setCapStatus(false); // hold the frame still while it is compared
            session.fetchFrame();
            const QImage camera = video.latestPicture();
            video.setCapStatus(true);
            return std::pair{camera, session.fetchedPicture()};
        };

        Settings &s = ann.program->settings();
        s.SendImageMsg = true;
        s.ImageMsg = QStringLiteral("I like ZELMO");
        const auto [camera, sent] = nextFrame();
        QCOMPARE(sent.size(), camera.size());
        QVERIFY(sent != camera);
        // The text sits at the top; the rest of the picture is the camera's.
        const QRect below(0, 60, 320, 180);
        QCOMPARE(sent.copy(below), camera.copy(below));

        s.ImageMsg = QString(200, QLatin1Char('W'));
        const auto [camera2, sent2] = nextFrame();
        QCOMPARE(sent2, camera2);
        QVERIFY(!s.SendImageMsg);
        QCOMPARE(s.ImageMsg, QStringLiteral("Previous message too long"));
    }
};

QTEST_MAIN(TestMediaSession)
#include "tst_mediasession.moc"
