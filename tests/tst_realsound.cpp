#include "media/AudioControl.h"
#include "support/SoundRig.h"
#include "support/TestSupport.h"
#include "ui/Program.h"

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

        CallPeer ann(QStringLiteral("Ann"), false);
        CallPeer bob(QStringLiteral("Bob"), true);
        QVERIFY(ann.program->state().hasAudio && bob.program->state().hasAudio);
        QVERIFY(ann.call(bob));

        SoundListener monitor("zelmo_listen");
        QVERIFY(monitor.isOpen());
        // Nobody talks yet: once what earlier sounds left in the server has played out,
        // the speaker is quiet.
        monitor.level();
        QVERIFY(QTest::qWaitFor([&] { return monitor.heardFor(0.5) && monitor.level() < 0.01; }, 15000));

        ann.program->audioControl().talkPressed(Qt::LeftButton);
        QCOMPARE(ann.program->state().micState, 2);
        QVERIFY(QTest::qWaitFor([&] { return monitor.level() > 0.05; }, 20000));
        QTRY_COMPARE(bob.program->state().speakerState, 3);
        ann.program->audioControl().talkReleased(Qt::LeftButton);
        QCOMPARE(ann.program->state().micState, 1);
    }
};

QTEST_MAIN(TestRealSound)
#include "tst_realsound.moc"
