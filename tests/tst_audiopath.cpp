#include "support/Windows.h"
#include "media/AudioSendQueue.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/sound/TestSpeaker.h"

#include <QSet>

namespace {

// A program on test devices, with its windows, started and shown.
struct Running : RunningProgram
{
    Running()
        : RunningProgram(QStringLiteral("Ann"), Options{.windows = true, .start = false})
    {
    }
    // The scenarios take the microphone's blocks themselves: the media tick, which would
    // take them too, stays off.
    void start()
    {
        RunningProgram::start();
        program->parts().setMediaLoopByHand(true);
        main()->show();
    }
    TestDeviceProvider &devices() { return static_cast<TestDeviceProvider &>(program->parts().devices); }
    AudioControl &audio() { return program->audioControl(); }
    AudioSendQueue &queue() { return program->parts().audioSendQueue; }
    QWidget *talkButton() { return window<QWidget>("cmdtoolbar4"); }
    bool micLampLit() { return window<QLabel>("imgLedMic")->property("lit").toBool(); }
    TestSpeaker *speaker() { return qobject_cast<TestSpeaker *>(program->audioEngine().outputDevice()); }
    QString errorText()
    {
        frmErrorMsg *w = windowOf<frmErrorMsg>();
        return w && w->isVisible() ? w->text() : QString();
    }
};

// The sound the microphone state, the lamp and the talk button show agree.
#define VERIFY_TALKING(r, on)                                                                                  \
    do {                                                                                                       \
        QCOMPARE((r)->audioControl().isMicOpen(), bool(on));                                                   \
        QCOMPARE((r).micLampLit(), bool(on));                                                                  \
        QCOMPARE((r)->audioEngine().isAudioInOpen(), bool(on));                                                \
    } while (0)

// Runs the loop's microphone step until it takes a block (the microphone gives one every
// 80 ms).
#define TAKE_BLOCK(r)                                                                                          \
    do {                                                                                                       \
        bool took = false;                                                                                     \
        QTRY_VERIFY_WITH_TIMEOUT(took || (took = (r).audio().captureStep()), 2000);                            \
    } while (0)

} // namespace

class TestAudioPath : public QObject
{
    Q_OBJECT

private slots:
    void pushToTalkLatchAndTheMicrophoneInAndOutOfACall()
    {
        Running r;
        r.start();
        QVERIFY(r->audioControl().hasAudio());
        QWidget *talk = r.talkButton();
        QVERIFY(talk && talk->isEnabled());
        frmMain *main = r.main();

        // Press (P) and release (R) steps on the talk button, and whether it talks after
        // each: the left button talks while held; the right one latches on a press, its
        // release changes nothing, the next press unlatches; a left release ends a latch.
        const struct { char step; Qt::MouseButton button; bool talking; } steps[] = {
            {'P', Qt::LeftButton, true},   {'R', Qt::LeftButton, false}, {'P', Qt::RightButton, true},
            {'R', Qt::RightButton, true},  {'P', Qt::RightButton, false}, {'R', Qt::RightButton, false},
            {'P', Qt::RightButton, true},  {'P', Qt::LeftButton, true},   {'R', Qt::LeftButton, false},
        };
        for (const auto &step : steps) {
            step.step == 'P' ? QTest::mousePress(talk, step.button) : QTest::mouseRelease(talk, step.button);
            VERIFY_TALKING(r, step.talking);
            QCOMPARE(main->buttonPressed(4), step.talking);
        }
        QVERIFY(!r.audio().isLatched());

        // Outside a call what the microphone records is not kept for sending; in a call it
        // is, coded at the chosen quality.
        QTest::mousePress(talk, Qt::LeftButton);
        TAKE_BLOCK(r);
        QVERIFY(!r.queue().hasWaiting());
        QCOMPARE(r.queue().audioRecordIndex(), 1);
        r->parts().callStatus.callState = CallState::InCall;
        TAKE_BLOCK(r);
        QCOMPARE(r.queue().audioRecordIndex(), 2);
        QCOMPARE(r.queue().block(1).count, 132);
        r.audio().setQuality(1);
        TAKE_BLOCK(r);
        QCOMPARE(r.queue().block(2).count, 66);
        QTest::mouseRelease(talk, Qt::LeftButton);
        QVERIFY(!r.audio().captureStep());

        // The sound test is refused during a call, record emptying the send queue first.
        r.queue().pop();
        r.audio().testRecord();
        QCOMPARE(r.errorText(), QStringLiteral("You cannot test the audio while being connected to another user."));
        QCOMPARE(r.queue().audioRecordIndex(), 1);
        QCOMPARE(r.queue().audioSendIndex(), 1);
        QVERIFY(!r.queue().hold());
        VERIFY_TALKING(r, false);
        r.windowOf<frmErrorMsg>()->hide();
        r.audio().testStop();
        QCOMPARE(r.errorText(), AudioControl::inCallText());
        r.windowOf<frmErrorMsg>()->hide();
        r.queue().record(QByteArray(132, 'c'));
        r.audio().testPlay();
        QCOMPARE(r.errorText(), AudioControl::inCallText());
        QVERIFY(r.speaker() == nullptr);
        QCOMPARE(r.queue().audioRecordIndex(), 2);
    }

    void withoutSoundDevicesNothingOpens()
    {
        Running r;
        r.devices().setAudioPresent(false);
        r.start();
        QVERIFY(!r->audioControl().hasAudio());
        QVERIFY(!r.talkButton()->isEnabled());
        r.audio().talkPressed(Qt::RightButton);
        VERIFY_TALKING(r, false);
        r.audio().testRecord();
        VERIFY_TALKING(r, false);
        r.audio().testPlay();
        QVERIFY(r.windowOf<frmErrorMsg>() == nullptr);
    }

    void soundTestRecordsSixtyBlocksAndPlaysThemBack()
    {
        Running r;
        r.start();
        QSignalSpy progress(&r.audio(), &AudioControl::recordProgress);

        // Nothing recorded: play does nothing at all.
        r.audio().testPlay();
        QVERIFY(r.speaker() == nullptr);
        QVERIFY(!r->audioControl().isSpeakerPlaying());

        r.audio().testRecord();
        QVERIFY(r.queue().hold());
        VERIFY_TALKING(r, true);

        // Blocks arrive every 80 ms; beyond sixty each newer one replaces entry 60.
        int taken = 0;
        QList<QByteArray> lastEntries;
        QTRY_VERIFY_WITH_TIMEOUT(([&] {
                                     if (taken < 63 && r.audio().captureStep()) {
                                         ++taken;
                                         if (taken >= 60)
                                             lastEntries.append(r.queue().block(60).bytes());
                                     }
                                     return taken >= 63;
                                 }()),
                                 15000);
        QCOMPARE(r.queue().audioRecordIndex(), 60);
        QCOMPARE(r.queue().audioSendIndex(), 1);
        QCOMPARE(progress.count(), 63);
        QCOMPARE(progress.at(0).at(0).toInt(), 2);
        QCOMPARE(progress.last().at(0).toInt(), 60);
        QCOMPARE(QSet<QByteArray>(lastEntries.begin(), lastEntries.end()).size(), 4);
        const QByteArray first = r.queue().block(1).bytes();

        r.audio().testStop();
        VERIFY_TALKING(r, false);
        // The loop's microphone step after the stop leaves the recording alone.
        QVERIFY(!r.audio().captureStep());
        QCOMPARE(r.queue().audioRecordIndex(), 60);

        // Playing back gives blocks 1 to 59 to the speaker, in order.
        r.audio().testPlay();
        QVERIFY(r->audioControl().isSpeakerPlaying());
        QVERIFY(r.speaker() && r.speaker()->blocksWritten() == 59);
        QCOMPARE(r.speaker()->samplesWritten(), 59 * AudioEngine::BlockSamples);
        qint16 expected[AudioEngine::BlockSamples];
        // The decoder carries state from block to block: a fresh one decodes the first block.
        AudioEngine fresh(nullptr);
        QCOMPARE(fresh.unCompressAudioGSM(reinterpret_cast<const uchar *>(first.constData()), int(first.size()),
                                          expected, AudioEngine::BlockSamples),
                 AudioEngine::BlockSamples);
        QCOMPARE(r.speaker()->recentSamples().mid(0, AudioEngine::BlockSamples),
                 QList<qint16>(expected, expected + AudioEngine::BlockSamples));
        QCOMPARE(r.queue().audioSendIndex(), 1);

        // While it plays, play again does nothing; once the speaker is given up, the same
        // recording plays again in full.
        r.audio().testPlay();
        QCOMPARE(r.speaker()->blocksWritten(), 59);
        r.audio().stopClip();
        r.audio().testPlay();
        QCOMPARE(r.speaker()->blocksWritten(), 59);

        // Closing the options lets go of the recording and stops a running test, but
        // talking is not the test's to stop.
        r.audio().testRecord();
        VERIFY_TALKING(r, true);
        r.audio().testClosed();
        VERIFY_TALKING(r, false);
        QVERIFY(!r.queue().hold());
        r.audio().talkPressed(Qt::RightButton);
        r.audio().testClosed();
        VERIFY_TALKING(r, true);
    }

    void volumeAndAHalfDuplexMicrophone()
    {
        Running r;
        r.start();
        r.audio().setVolumeFromSlider(5);
        QCOMPARE(r->audioEngine().getVolumeOut(), 50);
        r->audioEngine().setVolumeOut(47);
        QCOMPARE(r.audio().sliderValue(), 4);

        // A card that cannot record while it plays: the speaker is closed and the
        // microphone tried again.
        r.devices().setHalfDuplex(true);
        QVERIFY(r.audio().startSpeaker());
        QVERIFY(r.audio().openMicrophone());
        QVERIFY(!r->audioEngine().isAudioOutOpen());
        QVERIFY(!r->audioControl().isSpeakerPlaying());
        VERIFY_TALKING(r, true);
        r.audio().closeMicrophone();

        // A microphone that cannot be had stays closed, without a word.
        r.devices().setAudioPresent(false);
        QSignalSpy lamp(&r.audio(), &AudioControl::micChanged);
        QSignalSpy errors(&r.audio(), &AudioControl::errorMessage);
        QVERIFY(!r.audio().openMicrophone());
        VERIFY_TALKING(r, false);
        QCOMPARE(lamp.count(), 0);
        QCOMPARE(errors.count(), 0);
    }
};

QTEST_MAIN(TestAudioPath)
#include "tst_audiopath.moc"
