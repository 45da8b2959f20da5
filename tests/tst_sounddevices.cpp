#include "core/ActivityLog.h"
#include "media/AudioControl.h"
#include "media/AudioRoute.h"
#include "media/AudioSettings.h"
#include "media/AudioSetup.h"
#include "media/AudioEngine.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/sound/TestSpeaker.h"
#include "support/SoundRig.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"
#include "ui/AudioSetupGroup.h"

#include <QComboBox>
#include <QElapsedTimer>
#include <QTest>

namespace {

const QByteArray Unprocessed = "[Audio]\nEchoCancellation=False\nNoiseSuppression=False\nAutomaticLevel=False\n";
// What a speaker playing Bob's tone gives its monitor, well above a silent one's.
constexpr double Heard = 0.005;

// Whether a listener hears sound within `ms`, judged on fresh 100 ms stretches; the time
// it took in `tookMs`.
bool hearsWithin(SoundListener &listener, int ms, qint64 *tookMs = nullptr)
{
    QElapsedTimer clock;
    clock.start();
    listener.level();
    while (clock.elapsed() < ms) {
        QTest::qWait(20);
        if (listener.heardFor(0.1) && listener.level() > Heard) {
            if (tookMs)
                *tookMs = clock.elapsed();
            return true;
        }
    }
    return false;
}

} // namespace

class TestSoundDevices : public QObject
{
    Q_OBJECT

private slots:
    // Bob talks to Ann, who uses the system's default speaker. A headset is plugged in and
    // made the default: within a second Bob's voice plays there. Then it is pulled out
    // while in use: the call goes on, on the default speaker, with one line in the log.
    void theSpeakerFollowsTheDefaultDuringACall()
    {
        const QString missing = SoundRig::missing();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        SoundRig rig;
        const QString headset = rig.name(QStringLiteral("z_headset"));
        const QString headsetEar = rig.name(QStringLiteral("z_headset_ear"));
        const int headsetModule = rig.load(QStringLiteral("module-null-sink"), {QStringLiteral("sink_name=") + headset});
        QVERIFY2(headsetModule >= 0, qPrintable(rig.lastError()));
        const int earModule = rig.load(QStringLiteral("module-remap-source"),
                                       {QStringLiteral("master=%1.monitor").arg(headset),
                                        QStringLiteral("source_name=") + headsetEar});
        QVERIFY2(earModule >= 0, qPrintable(rig.lastError()));
        QVERIFY(SoundRig::waitForDevice(false, headset.toUtf8()));
        QVERIFY(SoundRig::waitForDevice(true, headsetEar.toUtf8()));
        // Whatever happens, the next scenario finds the server's own speaker the default.
        struct RestoreDefault
        {
            SoundRig &rig;
            ~RestoreDefault() { rig.pactl({QStringLiteral("set-default-sink"), QStringLiteral("zelmo_spk")}); }
        } restore{rig};

        SoundPeer ann(QStringLiteral("Ann"), false);
        SoundPeer bob(QStringLiteral("Bob"), true, true, Unprocessed);
        static_cast<TestDeviceProvider &>(bob.program->parts().devices).setMicrophoneSignal(TestMicrophone::Tone, 440);
        ann.call(bob);
        QVERIFY(ann.waitInCall(bob));
        bob.program->audioControl().talkPressed(Qt::RightButton);

        SoundListener speaker("zelmo_listen");
        SoundListener headsetListener(headsetEar.toUtf8());
        QVERIFY(speaker.isOpen() && headsetListener.isOpen());
        QVERIFY2(hearsWithin(speaker, 5000), "Bob's voice does not play on the default speaker");
        QCOMPARE(ann.program->audioEngine().audioOutDevice(), QByteArray("zelmo_spk"));

        QVERIFY(rig.pactl({QStringLiteral("set-default-sink"), headset}));
        // Within a second Ann's speaker plays into the headset. What the headset's ear hears
        // comes later again by the sound server's buffers and the listener's own, which a
        // busy machine stretches past that second: it is waited for, with a bound.
        QElapsedTimer clock;
        clock.start();
        QTRY_VERIFY_WITH_TIMEOUT(ann.program->audioEngine().audioOutDevice() == headset.toUtf8(), 5000);
        const qint64 movedMs = clock.elapsed();
        QVERIFY2(hearsWithin(headsetListener, 5000), "the new default speaker stays silent");
        qInfo("the speaker moved to the new default %lld ms after it became the default; heard there after %lld ms",
              movedMs, clock.elapsed());
        QVERIFY2(movedMs <= 1000, "the speaker moved to the new default more than a second after it became one");

        const QString wentAway = QStringLiteral("went away");
        QCOMPARE(ann.log().filter(wentAway).size(), 0);
        // The headset is pulled out while it plays (its ear goes with it).
        QVERIFY(rig.unload(earModule));
        QVERIFY(rig.unload(headsetModule));
        QVERIFY2(hearsWithin(speaker, 2000), "Bob's voice does not come back on the remaining speaker");
        QCOMPARE(ann.call().callState, CallState::InCall);
        QCOMPARE(bob.call().callState, CallState::InCall);
        QCOMPARE(ann.program->audioEngine().audioOutDevice(), QByteArray("zelmo_spk"));
        QTRY_COMPARE_WITH_TIMEOUT(ann.log().filter(wentAway).size(), 1, 3000);
        // Said once: the route's last look after the change adds nothing.
        QTest::qWait(AudioRoute::SettleMs[std::size(AudioRoute::SettleMs) - 1]);
        QCOMPARE(ann.log().filter(wentAway).size(), 1);
    }

    // Ann pinned a USB microphone. While she talks it is unplugged: she goes on with the
    // default one, one line says so, and her blocks keep coming. Plugged in again, it is
    // used again. Choosing "System default" unpins it, in the file too.
    void aPinnedMicrophoneComesAndGoes()
    {
        SoundPeer ann(QStringLiteral("Ann"), false, true);
        SoundPeer bob(QStringLiteral("Bob"), true, true);
        auto &devices = static_cast<TestDeviceProvider &>(ann.program->parts().devices);
        const DeviceProvider::SoundDevice usb{"usb-mic", QStringLiteral("USB Microphone")};
        devices.addAudioDevice(true, usb);
        ann.program->audioSetup().pinMicrophone(usb.id);
        ann.call(bob);
        QVERIFY(ann.waitInCall(bob));
        ann.program->audioControl().talkPressed(Qt::RightButton);
        AudioEngine &engine = ann.program->audioEngine();
        QTRY_COMPARE_WITH_TIMEOUT(engine.audioInDevice(), usb.id, 3000);
        QCOMPARE(devices.openedAudioInput(), usb.id);

        devices.removeAudioDevice(true, usb.id);
        QTRY_COMPARE_WITH_TIMEOUT(engine.audioInDevice(), QByteArray("test"), 1000);
        QCOMPARE(ann.log().filter(QStringLiteral("\"USB Microphone\" went away")).size(), 1);
        // The options still show it chosen, as missing.
        AudioSetupGroup options(ann.program->audioSetup());
        options.load();
        QCOMPARE(options.findChild<QComboBox *>(QStringLiteral("cboMicrophone"))->currentText(),
                 QStringLiteral("usb-mic (not connected)"));
        // Bob goes on hearing her.
        auto &bobDevices = static_cast<TestDeviceProvider &>(bob.program->parts().devices);
        QVERIFY(QTest::qWaitFor([&] { return bobDevices.speaker() != nullptr; }, 3000));
        const qint64 heard = bobDevices.speaker()->samplesWritten();
        QVERIFY(QTest::qWaitFor([&] { return bobDevices.speaker()->samplesWritten() >= heard + 2 * AudioEngine::BlockSamples; }, 2000));
        QCOMPARE(ann.call().callState, CallState::InCall);

        devices.addAudioDevice(true, usb);
        QTRY_COMPARE_WITH_TIMEOUT(engine.audioInDevice(), usb.id, 1000);
        QCOMPARE(ann.program->audioSetup().route().pinnedInput(), usb.id);

        ann.program->audioSetup().pinMicrophone({});
        QCOMPARE(engine.audioInDevice(), QByteArray("test"));
        AudioSettings saved;
        saved.load(ann.dir.filePath(AudioSettings::FileName));
        QVERIFY(saved.Microphone.isEmpty());
        QCOMPARE(ann.log().filter(QStringLiteral("went away")).size(), 1);

        // A headset that was the default is unplugged: the sound server first makes another
        // device the default, then drops the headset. That is still said.
        const DeviceProvider::SoundDevice headset{"headset-mic", QStringLiteral("Headset Microphone")};
        devices.addAudioDevice(true, headset);
        devices.setDefaultAudioDevice(true, headset.id);
        QTRY_COMPARE_WITH_TIMEOUT(engine.audioInDevice(), headset.id, 1000);
        devices.setDefaultAudioDevice(true, "test");
        devices.removeAudioDevice(true, headset.id);
        QTRY_COMPARE_WITH_TIMEOUT(ann.log().filter(QStringLiteral("\"Headset Microphone\" went away")).size(), 1, 1000);
        QCOMPARE(engine.audioInDevice(), QByteArray("test"));
    }
};

ZELMO_TEST_MAIN(TestSoundDevices)
#include "tst_sounddevices.moc"
