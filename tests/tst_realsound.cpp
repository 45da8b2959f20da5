#include "support/RunningProgram.h"
#include "support/SoundRig.h"
#include "support/TestMain.h"

#include <QTest>

class TestRealSound : public QObject
{
    Q_OBJECT

private slots:
    // The test script's sound server has a sine source as microphone and a null sink as
    // speaker: the tone must go from one program's microphone through a call to the other
    // program's speaker.
    void toneTravelsFromOneMicrophoneToTheOtherSpeaker()
    {
        if (!qEnvironmentVariableIsSet("PULSE_SERVER"))
            QSKIP("needs the private sound server that scripts/test.sh starts");
        QVERIFY2(SoundRig::waitForDevice(true, "zelmo_listen", 2000),
                 "the test sound server has no source that hears its speaker");

        // Both on the machine's own sound devices (no test devices).
        RunningProgram ann(QStringLiteral("Ann"), {.testDevices = false});
        RunningProgram bob(QStringLiteral("Bob"), {.testDevices = false, .autoAccept = true});
        QVERIFY(ann->audioControl().hasAudio() && bob->audioControl().hasAudio());
        ann.call(bob);
        QVERIFY(ann.waitInCall(bob));

        SoundListener monitor("zelmo_listen");
        QVERIFY(monitor.isOpen());
        // Nobody talks yet: once what earlier sounds left in the server has played out,
        // the speaker is quiet.
        monitor.level();
        QVERIFY(QTest::qWaitFor([&] { return monitor.heardFor(0.5) && monitor.level() < 0.01; }, 15000));

        ann.program->audioControl().talkPressed(Qt::LeftButton);
        QVERIFY(ann->audioControl().isMicOpen());
        QVERIFY(QTest::qWaitFor([&] { return monitor.level() > 0.05; }, 20000));
        QTRY_VERIFY(bob->audioControl().isSpeakerPlaying());
        ann.program->audioControl().talkReleased(Qt::LeftButton);
        QVERIFY(!ann->audioControl().isMicOpen());
    }
};

ZELMO_TEST_MAIN(TestRealSound)
#include "tst_realsound.moc"
