#include "media/AudioControl.h"
#include "media/AudioRoute.h"
#include "media/AudioSetup.h"
#include "media/AudioEngine.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/sound/TestSpeaker.h"
#include "support/SoundRig.h"
#include "support/TestMain.h"
#include "support/TestSupport.h"

#include <QDir>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>

using TestSupport::levelDb;

namespace {

const QString FarPhrase = QStringLiteral(
    "Good morning. I am calling about the meeting on Thursday. Could you bring the plans and the "
    "figures for the second quarter? We will start at ten, in the small room upstairs.");
// Bob's own microphone is not in question: his sound goes out as recorded.
const QByteArray Unprocessed = "[Audio]\nEchoCancellation=False\nNoiseSuppression=False\nAutomaticLevel=False\n";
const QString NearPhrase = QStringLiteral("Hello, yes, I can hear you. Let me check my calendar first.");

// A steady fan-like noise: white noise with its highs taken off, about -30 dBFS.
std::vector<qint16> fanNoise(int seconds)
{
    std::vector<qint16> noise(size_t(seconds) * 8000);
    QRandomGenerator random(24);
    double smooth = 0;
    for (qint16 &s : noise) {
        smooth = 0.7 * smooth + 0.3 * (random.generateDouble() * 2 - 1);
        s = qint16(std::lround(smooth * 2600));
    }
    return noise;
}

// A room for Ann: her speaker is heard by her microphone through the sound server's own
// modules, a loopback of the speaker's monitor into a sink whose monitor is the
// microphone, `echoMs` later and `echoVolumePercent` down in the sound server's volume
// (85 %: 4 dB, a speaker at arm's length). Other sounds of the room (a second voice, a
// fan) are played into the same sink.
struct EchoRoom
{
    SoundRig rig;
    QString speaker = rig.name(QStringLiteral("z_ann_speaker"));
    QString room = rig.name(QStringLiteral("z_room"));
    QString microphone = rig.name(QStringLiteral("z_ann_mic"));

    bool build(int echoMs, int echoVolumePercent = 85)
    {
        return rig.load(QStringLiteral("module-null-sink"), {QStringLiteral("sink_name=") + speaker}) >= 0
               && rig.pactl({QStringLiteral("set-sink-volume"), speaker, QStringLiteral("%1%").arg(echoVolumePercent)})
               && rig.load(QStringLiteral("module-null-sink"), {QStringLiteral("sink_name=") + room}) >= 0
               && rig.load(QStringLiteral("module-loopback"),
                           {QStringLiteral("source=%1.monitor").arg(speaker), QStringLiteral("sink=") + room,
                            QStringLiteral("latency_msec=%1").arg(echoMs)})
                      >= 0
               && rig.load(QStringLiteral("module-remap-source"),
                           {QStringLiteral("master=%1.monitor").arg(room), QStringLiteral("source_name=") + microphone})
                      >= 0
               && SoundRig::waitForDevice(false, speaker.toUtf8()) && SoundRig::waitForDevice(true, microphone.toUtf8());
    }
    // The sound server's loopback finds its latency on the first sound through it: for a
    // second or two the room's echo comes anywhere up to a second early or late, then
    // holds. A real room holds from the start, so the canceller is timed from a settled one.
    bool settle()
    {
        rig.play(speaker, fanNoise(2));
        return QTest::qWaitFor([&] { return rig.playersDone(); }, 10000);
    }
    // Ann's "audio.ini": her devices pinned to the room's, processing as asked.
    QByteArray audioIni(bool processing) const
    {
        const QByteArray on = processing ? "True" : "False";
        return "[Audio]\nMicrophone=" + microphone.toUtf8() + "\nSpeaker=" + speaker.toUtf8()
               + "\nEchoCancellation=" + on + "\nNoiseSuppression=" + on + "\nAutomaticLevel=" + on + "\n";
    }
};

// What Bob, on test devices, decodes and plays of Ann's blocks, gathered as it comes.
struct FarSide
{
    SoundPeer &bob;
    std::vector<qint16> heard;
    qint64 taken = 0;

    TestSpeaker *speaker() { return static_cast<TestDeviceProvider &>(bob.program->parts().devices).speaker(); }
    void pull()
    {
        TestSpeaker *s = speaker();
        if (!s)
            return;
        const qint64 written = s->samplesWritten();
        if (written < taken)
            taken = 0;
        if (written == taken)
            return;
        const QList<qint16> recent = s->recentSamples();
        const qint64 n = std::min<qint64>(written - taken, recent.size());
        heard.insert(heard.end(), recent.end() - n, recent.end());
        taken = written;
    }
    size_t mark()
    {
        pull();
        return heard.size();
    }
    // Listens for a while; the test speaker keeps its last ten seconds only.
    void listen(int ms)
    {
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            QTest::qWait(50);
            pull();
        }
    }
    // Listens until `samples` more of the far side's sound have arrived. Learning time is
    // counted in sound, not on the clock: a loaded machine delivers it late and in bursts.
    bool hear(size_t samples)
    {
        const size_t until = mark() + samples;
        return QTest::qWaitFor([&] { return mark() >= until; }, 20000);
    }
    // Levels over time, one figure every half second, for the log.
    QString levelsSince(size_t mark)
    {
        pull();
        QStringList figures;
        for (size_t at = mark; at + 4000 <= heard.size(); at += 4000)
            figures.append(QString::number(levelDb(heard.data() + at, 4000), 'f', 0));
        return figures.join(QLatin1Char(' '));
    }
    // The level of the last 100 ms.
    double recentLevel()
    {
        pull();
        return heard.size() >= 800 ? levelDb(heard.data() + heard.size() - 800, 800) : -100.0;
    }
    // The median of the half-second levels since the mark: a moment the sound server lost
    // its pace (a busy machine) does not decide it.
    double medianLevelSince(size_t mark)
    {
        pull();
        std::vector<double> levels;
        for (size_t at = mark; at + 4000 <= heard.size(); at += 4000)
            levels.push_back(levelDb(heard.data() + at, 4000));
        if (levels.empty())
            return -100.0;
        std::nth_element(levels.begin(), levels.begin() + levels.size() / 2, levels.end());
        return levels[levels.size() / 2];
    }
    double levelSince(size_t mark)
    {
        pull();
        return mark < heard.size() ? levelDb(heard.data() + mark, heard.size() - mark) : -100.0;
    }
};

double powerOf(double db)
{
    return std::pow(10.0, db / 10.0);
}

void setProcessing(Program &p, bool on)
{
    p.audioSetup().setEchoCancellation(on);
    p.audioSetup().setNoiseSuppression(on);
    p.audioSetup().setAutomaticLevel(on);
}

} // namespace

class TestVoiceProcessing : public QObject
{
    Q_OBJECT

private:
    std::vector<qint16> m_far;
    std::vector<qint16> m_near;

private slots:
    void initTestCase()
    {
        const QString missing = SoundRig::missing();
        if (!missing.isEmpty())
            QSKIP(qPrintable(missing));
        m_far = TestSupport::spokenPhrase(FarPhrase, QStringLiteral("en"));
        m_near = TestSupport::spokenPhrase(NearPhrase, QStringLiteral("en-us+f3"));
        QVERIFY2(!m_far.empty() && !m_near.empty(), "espeak-ng (installed by scripts/deps.sh) gives no speech");
    }

    // Ann has latched talk and says nothing; Bob speaks; Ann's speaker reaches her
    // microphone 100 ms later. Without processing Bob hears himself; with it, after two
    // seconds, the echo is at least 20 dB down. Then Ann speaks over Bob (double talk):
    // her voice still reaches Bob, at most 9 dB below what it is when she speaks alone.
    // The canceller's own suppression, at its mildest, takes 3-8 dB off a voice that talks
    // over a well-learnt echo; more than that would be the canceller cutting her off.
    void farEndEchoIsCancelledAndDoubleTalkGoesThrough()
    {
        EchoRoom room;
        QVERIFY2(room.build(100), qPrintable(room.rig.lastError()));
        QVERIFY2(room.settle(), "the room's echo path plays nothing");
        SoundPeer ann(QStringLiteral("Ann"), false, false, room.audioIni(true));
        SoundPeer bob(QStringLiteral("Bob"), true, true, Unprocessed);
        static_cast<TestDeviceProvider &>(bob.program->parts().devices)
            .setMicrophoneRecording(std::make_shared<const std::vector<qint16>>(m_far));
        ann.call(bob);
        QVERIFY(ann.waitInCall(bob));
        FarSide far{bob};

        ann.program->audioControl().talkPressed(Qt::RightButton);
        QCOMPARE(ann.program->audioSetup().route().currentOutput(), room.speaker.toUtf8());
        QCOMPARE(ann.program->audioSetup().route().currentInput(), room.microphone.toUtf8());
        // Bob starts to speak; from the moment Ann's speaker plays his voice, the canceller
        // has two seconds of sound to learn the way.
        bob.program->audioControl().talkPressed(Qt::RightButton);
        QVERIFY2(QTest::qWaitFor([&] { return ann.program->audioEngine().statusAudioOut() > 0; }, 10000),
                 "Bob's voice does not reach Ann's speaker");
        const size_t voiceAtSpeaker = far.mark();
        QVERIFY(far.hear(2 * 8000));
        size_t mark = far.mark();
        QVERIFY(far.hear(4 * 8000));
        const double echoOn = far.medianLevelSince(mark);
        qInfo("far end, every half second from his voice at her speaker: %s", qPrintable(far.levelsSince(voiceAtSpeaker)));

        // Double talk: Ann speaks while Bob goes on.
        const int phraseMs = int(m_near.size() / 8) + 800;
        mark = far.mark();
        room.rig.play(room.room, m_near);
        far.listen(phraseMs);
        const double doubleTalk = far.levelSince(mark);
        // Ann alone: Bob stops, his last words play out.
        bob.program->audioControl().talkPressed(Qt::RightButton);
        far.listen(2500);
        mark = far.mark();
        room.rig.play(room.room, m_near);
        far.listen(phraseMs);
        const double alone = far.levelSince(mark);

        // The same without processing: Bob hears himself.
        setProcessing(*ann.program, false);
        bob.program->audioControl().talkPressed(Qt::RightButton);
        QVERIFY(far.hear(2 * 8000));
        mark = far.mark();
        QVERIFY(far.hear(4 * 8000));
        const double echoOff = far.medianLevelSince(mark);

        qInfo("echo of the far end at the far end: %.1f dBFS without processing, %.1f dBFS with it: %.1f dB less",
              echoOff, echoOn, echoOff - echoOn);
        qInfo("near voice at the far end: %.1f dBFS alone, %.1f dBFS over the far end's voice: %.1f dB lost", alone,
              doubleTalk, alone - doubleTalk);
        const QString wav = QDir::current().absoluteFilePath(QStringLiteral("voice-far-side.wav"));
        QVERIFY(TestSupport::writeWav(wav, far.heard));
        qInfo("what the far end heard: %s", qPrintable(wav));
        QVERIFY2(echoOff > -40, qPrintable(QStringLiteral("no echo to cancel: %1 dBFS").arg(echoOff)));
        QVERIFY2(echoOff - echoOn >= 20, qPrintable(QStringLiteral("echo %1 dBFS -> %2 dBFS").arg(echoOff).arg(echoOn)));
        QVERIFY2(alone > -40, qPrintable(QStringLiteral("the near voice did not arrive: %1 dBFS").arg(alone)));
        QVERIFY2(alone - doubleTalk <= 9, qPrintable(QStringLiteral("%1 -> %2 dBFS").arg(alone).arg(doubleTalk)));
    }

    // A fan runs beside Ann's microphone: processing takes the steady noise down by at
    // least 10 dB, while a voice over it arrives at much the same level.
    void steadyNoiseIsSuppressedAndTheVoiceKept()
    {
        EchoRoom room;
        QVERIFY2(room.build(100), qPrintable(room.rig.lastError()));
        SoundPeer ann(QStringLiteral("Ann"), false, false, room.audioIni(false));
        SoundPeer bob(QStringLiteral("Bob"), true, true, Unprocessed);
        ann.call(bob);
        QVERIFY(ann.waitInCall(bob));
        FarSide far{bob};
        ann.program->audioControl().talkPressed(Qt::RightButton);
        room.rig.play(room.room, fanNoise(30));
        const int phraseMs = int(m_near.size() / 8) + 800;

        auto measure = [&](double &noise, double &voiceOverNoise) {
            size_t mark = far.mark();
            far.listen(3000);
            noise = far.levelSince(mark);
            mark = far.mark();
            room.rig.play(room.room, m_near);
            far.listen(phraseMs);
            voiceOverNoise = far.levelSince(mark);
        };
        far.listen(1500);
        double noiseOff = 0, mixOff = 0, noiseOn = 0, mixOn = 0;
        measure(noiseOff, mixOff);
        setProcessing(*ann.program, true);
        far.listen(2500);
        measure(noiseOn, mixOn);
        // The voice's own power: what the mixture has beyond the noise.
        const double voiceOff = 10 * std::log10(std::max(1e-12, powerOf(mixOff) - powerOf(noiseOff)));
        const double voiceOn = 10 * std::log10(std::max(1e-12, powerOf(mixOn) - powerOf(noiseOn)));
        qInfo("noise at the far end: %.1f dBFS without processing, %.1f dBFS with it: %.1f dB less; voice over it "
              "%.1f dBFS and %.1f dBFS",
              noiseOff, noiseOn, noiseOff - noiseOn, voiceOff, voiceOn);
        QVERIFY2(noiseOff > -45, qPrintable(QStringLiteral("the fan is not heard: %1 dBFS").arg(noiseOff)));
        QVERIFY2(noiseOff - noiseOn >= 10, qPrintable(QStringLiteral("%1 -> %2 dBFS").arg(noiseOff).arg(noiseOn)));
        QVERIFY2(std::abs(voiceOn - voiceOff) <= 6, qPrintable(QStringLiteral("%1 -> %2 dBFS").arg(voiceOff).arg(voiceOn)));
    }

    // The meter beside the microphone lamp and in the Audio tab: near zero while the room
    // is silent, near full scale for a loud tone.
    void meterShowsWhatTheMicrophoneHears()
    {
        EchoRoom room;
        QVERIFY2(room.build(100), qPrintable(room.rig.lastError()));
        SoundPeer ann(QStringLiteral("Ann"), false, false, room.audioIni(true), true);
        auto *meter = ann.window<QProgressBar>("pbrMicLevel");
        QVERIFY(meter);
        QVERIFY(meter->isHidden());
        ann.program->audioControl().talkPressed(Qt::RightButton);
        QVERIFY(!meter->isHidden());
        AudioEngine &engine = ann.program->audioEngine();
        QVERIFY(QTest::qWaitFor([&] { return engine.inputLevel() <= 5 && meter->value() <= 5; }, 3000));
        QTest::qWait(500);
        QVERIFY2(engine.inputLevel() <= 5, qPrintable(QString::number(engine.inputLevel())));

        room.rig.play(room.room, TestSupport::tone(1000, 3 * 8000, 30000));
        QVERIFY(QTest::qWaitFor([&] { return engine.inputLevel() >= 85; }, 3000));
        QVERIFY2(meter->value() >= 85, qPrintable(QString::number(meter->value())));

        ann.program->audioControl().talkPressed(Qt::RightButton);
        QVERIFY(meter->isHidden());
        QCOMPARE(engine.inputLevel(), 0);
    }
};

ZELMO_TEST_MAIN(TestVoiceProcessing)
#include "tst_voiceprocessing.moc"
