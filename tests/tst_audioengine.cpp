#include "support/RunningProgram.h"
#include "media/sound/QtAudioInput.h"
#include "media/sound/QtAudioOutput.h"
#include "media/sound/Resampler.h"
#include "media/sound/SampleConverter.h"
#include "media/sound/StreamPosition.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/sound/TestMicrophone.h"
#include "media/sound/TestSpeaker.h"
#include "media/sound/EchoReference.h"
#include "media/sound/VoiceModule.h"
#include "media/sound/VoiceProcessor.h"

#include <QRegularExpression>
#include <QTemporaryDir>

#include <cmath>
#include <numbers>

using Samples = std::vector<qint16>;
using TestSupport::rms;
using TestSupport::tone;

namespace {

constexpr int Block = AudioEngine::BlockSamples;

// Frequency from upward zero crossings, skipping the first samples (filter settling).
double frequency(const QList<qint16> &s, int rate, int skip)
{
    int crossings = 0;
    int first = -1, last = -1;
    for (qsizetype i = skip + 1; i < s.size(); ++i) {
        if (s[i - 1] < 0 && s[i] >= 0) {
            if (first < 0)
                first = int(i);
            last = int(i);
            ++crossings;
        }
    }
    return crossings > 1 ? double(crossings - 1) * rate / double(last - first) : 0.0;
}

// One second of a stereo float sine at 48 kHz and quarter scale, as a device delivers it.
QByteArray studioTone(double hertz)
{
    QByteArray bytes(48000 * 2 * qsizetype(sizeof(float)), Qt::Uninitialized);
    auto *f = reinterpret_cast<float *>(bytes.data());
    for (int i = 0; i < 48000; ++i)
        f[2 * i] = f[2 * i + 1] = 0.25f * float(std::sin(2 * std::numbers::pi * hertz * i / 48000.0));
    return bytes;
}

// A microphone the test speaks through, in chunks of its choosing.
class ScriptedMicrophone : public AudioInputDevice
{
public:
    bool start() override { return true; }
    void stop() override {}
    void say(const QList<qint16> &samples) { emit samplesCaptured(samples); }
};

class ScriptedProvider : public TestDeviceProvider
{
public:
    ScriptedProvider() : TestDeviceProvider(false) {}
    std::unique_ptr<AudioInputDevice> openAudioInput(const QByteArray &, int) override
    {
        return std::make_unique<ScriptedMicrophone>();
    }
};

std::shared_ptr<TestDeviceProvider> testDevices()
{
    auto devices = std::make_shared<TestDeviceProvider>(false);
    devices->setMicrophoneSignal(TestMicrophone::Tone, 440.0);
    return devices;
}

} // namespace

class TestAudioEngine : public QObject
{
    Q_OBJECT

private slots:
    void testMicrophoneDeliversContinuousBlocksInRealTime()
    {
        AudioEngine engine(testDevices());
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(engine.initAudioIn(), 0);
        QCOMPARE(engine.initAudioIn(), 0); // already open
        QTRY_VERIFY_WITH_TIMEOUT(engine.statusAudioIn() > 0, 3000);
        qint16 buffer[Block + 1];
        QCOMPARE(engine.getAudioIn(buffer, Block - 1), 0);
        // The blocks are the microphone's signal cut without gaps or overlaps.
        const TestMicrophone reference(TestMicrophone::Tone, 440.0);
        for (int b = 0; b < 5; ++b) {
            QTRY_VERIFY_WITH_TIMEOUT(engine.statusAudioIn() > 0, 3000);
            QCOMPARE(engine.getAudioIn(buffer, Block + 1), Block);
            for (int i = 0; i < Block; ++i)
                QCOMPARE(buffer[i], reference.sampleAt(qint64(b) * Block + i));
        }
        // Five blocks are 400 ms of sound: they cannot have come faster than that.
        QVERIFY(clock.elapsed() >= 4 * 80);
        engine.closeAudioIn();
        QCOMPARE(engine.statusAudioIn(), 0);
        QCOMPARE(engine.getAudioIn(buffer, Block), 0);
    }

    // A stream's place on the sound timeline: the clock's estimates jitter back and forth
    // by more than the slack when the process runs late, and the stream stays where its
    // samples put it; a stall that moves every estimate for long enough moves it too.
    void streamPositionIgnoresJitterAndFollowsAStall()
    {
        StreamPosition stream(240, 3200);
        qint64 clock = 1000000;
        QCOMPARE(stream.take(clock, 640), clock);
        // Late and early by 35 ms in turn, block after block: nothing moves.
        for (int i = 1; i <= 20; ++i) {
            clock += 640;
            QCOMPARE(stream.take(clock + (i % 2 ? 280 : -280), 640), clock);
        }
        // Off by 35 ms for four blocks (less than the patience), then right again.
        for (int i = 0; i < 4; ++i) {
            clock += 640;
            QCOMPARE(stream.take(clock + 280, 640), clock);
        }
        clock += 640;
        QCOMPARE(stream.take(clock, 640), clock);
        // A stall: the device played 100 ms of nothing and every estimate says so. After
        // the patience, the stream moves by the least it was told.
        clock += 800;
        qint64 at = 0;
        for (int i = 0; i < 5; ++i) {
            clock += 640;
            at = stream.take(clock + (i == 2 ? 40 : 0), 640);
        }
        QCOMPARE(at, clock);
        clock += 640;
        QCOMPARE(stream.take(clock, 640), clock);
        // Started again: the next estimate is taken as it is.
        stream.reset();
        QCOMPARE(stream.take(42, 640), qint64(42));
    }

    void recordedBlocksAreCutExactlyAndBounded()
    {
        AudioEngine engine(std::make_shared<ScriptedProvider>());
        QCOMPARE(engine.initAudioIn(), 0);
        auto *mic = static_cast<ScriptedMicrophone *>(engine.inputDevice());
        // 70 blocks in odd-sized chunks; each sample carries its block number.
        QList<qint16> speech;
        for (int i = 0; i < 70 * Block; ++i)
            speech.append(qint16(i / Block));
        for (qsizetype at = 0; at < speech.size(); at += 1000)
            mic->say(speech.mid(at, 1000));
        mic->say(QList<qint16>(300, 99)); // not a whole block yet
        QCOMPARE(engine.statusAudioIn(), AudioEngine::MaxInputBlocks);

        // The oldest were dropped; the rest come in order.
        qint16 buffer[Block];
        for (int b = 70 - AudioEngine::MaxInputBlocks; b < 70; ++b) {
            QCOMPARE(engine.getAudioIn(buffer, Block), Block);
            QVERIFY(std::all_of(buffer, buffer + Block, [b](qint16 s) { return s == b; }));
        }
        QCOMPARE(engine.getAudioIn(buffer, Block), 0);
        // The 300 samples and 340 more make the next block. Reopening starts afresh.
        mic->say(QList<qint16>(340, 99));
        QCOMPARE(engine.statusAudioIn(), 1);
        engine.closeAudioIn();
        QCOMPARE(engine.initAudioIn(), 0);
        QCOMPARE(engine.statusAudioIn(), 0);
    }

    void playbackDrainsIsBoundedAndKeepsTheVolume()
    {
        AudioEngine engine(testDevices());
        const Samples block = tone(440, Block);
        QVERIFY(engine.setAudioOut(block.data(), Block) != 0); // speaker not open
        engine.setVolumeOut(150);
        QCOMPARE(engine.initAudioOut(), 0);
        auto *speaker = qobject_cast<TestSpeaker *>(engine.outputDevice());
        QVERIFY(speaker);
        QCOMPARE(speaker->volume(), 1.0);
        QCOMPARE(engine.setAudioOut(block.data(), Block), 0);
        QVERIFY(engine.statusAudioOut() > 0);
        QCOMPARE(speaker->recentSamples(), QList<qint16>(block.begin(), block.end()));
        QTRY_COMPARE_WITH_TIMEOUT(engine.statusAudioOut(), 0, 3000);

        // At most a few seconds wait to be heard; the rest is refused, not dropped silently.
        int accepted = 0;
        while (accepted < 200 && engine.setAudioOut(block.data(), Block) == 0)
            ++accepted;
        const int limit = AudioEngine::MaxPendingOutput / Block;
        QVERIFY2(accepted >= limit && accepted <= limit + 2, qPrintable(QString::number(accepted)));
        QCOMPARE(speaker->blocksWritten(), 1 + accepted);
        QVERIFY(engine.statusAudioOut() <= AudioEngine::MaxPendingOutput);
        QVERIFY(engine.setAudioOut(nullptr, Block) != 0);
        QVERIFY(engine.setAudioOut(block.data(), -1) != 0);

        engine.setVolumeOut(-3);
        QCOMPARE(speaker->volume(), 0.0);
        engine.closeAudioOut();
        QCOMPARE(engine.statusAudioOut(), 0);
        QVERIFY(engine.setAudioOut(block.data(), Block) != 0);
        // A volume set while closed reaches the next speaker.
        engine.setVolumeOut(30);
        QCOMPARE(engine.initAudioOut(), 0);
        const qreal reopened = qobject_cast<TestSpeaker *>(engine.outputDevice())->volume();
        QVERIFY(reopened > 0.0 && reopened < 0.3);
    }

    void missingDevicesFailCleanly()
    {
        auto devices = testDevices();
        devices->setAudioPresent(false);
        std::unique_ptr<AudioEngine> engines[] = {std::make_unique<AudioEngine>(devices), std::make_unique<AudioEngine>(nullptr)};
        for (const auto &absent : engines) {
            QVERIFY(!absent->hasAudio());
            QVERIFY(absent->initAudioIn() != 0 && absent->initAudioOut() != 0);
            qint16 buffer[Block] = {};
            QCOMPARE(absent->getAudioIn(buffer, Block), 0);
            QVERIFY(absent->setAudioOut(buffer, Block) != 0);
        }
    }

    // An installation without the processing module still sends the microphone's sound,
    // as it came, and says why it is not processed.
    void withoutItsModuleTheSoundGoesThroughUnprocessed()
    {
        QTemporaryDir noModules;
        VoiceModule module(QStringList{noModules.path()});
        EchoReference reference;
        VoiceProcessor processor(reference, module);
        processor.setOptions({true, true, true});
        QVERIFY2(processor.problem().contains(QStringLiteral("zelmo-voice.so was not found")), qPrintable(processor.problem()));
        std::vector<qint16> sound(Block);
        for (int i = 0; i < Block; ++i)
            sound[size_t(i)] = qint16(8000 * std::sin(i * 0.3));
        const std::vector<qint16> sent = sound;
        processor.process(sound.data(), Block, 0);
        QVERIFY(sound == sent);
        QCOMPARE(processor.echoDelayMs(), -1);
    }

    void deviceFormatsConvertToSpeechAndBack()
    {
        // 48 kHz stereo float in, fed in chunks that split frames: 8 kHz mono, same tone and level.
        QAudioFormat studio;
        studio.setSampleRate(48000);
        studio.setChannelCount(2);
        studio.setSampleFormat(QAudioFormat::Float);
        const double fullLevel = 0.25 * 32768 / std::sqrt(2.0);
        SampleConverter in(studio);
        const QByteArray music = studioTone(1000);
        QList<qint16> speech;
        for (qsizetype at = 0; at < music.size(); at += 1001)
            in.fromDevice(music.constData() + at, std::min<qsizetype>(1001, music.size() - at), speech);
        QVERIFY(std::abs(speech.size() - 8000) <= 1);
        QVERIFY(std::abs(frequency(speech, 8000, 100) - 1000.0) < 5.0);
        const double level = rms(speech.constData() + 100, int(speech.size()) - 100) / fullLevel;
        QVERIFY2(level > 0.85 && level < 1.05, qPrintable(QString::number(level)));
        // A tone above what 8 kHz can carry is attenuated, not passed on as a loud alias.
        SampleConverter high(studio);
        const QByteArray shrill = studioTone(6000);
        QList<qint16> alias;
        high.fromDevice(shrill.constData(), shrill.size(), alias);
        QVERIFY(rms(alias.constData() + 100, int(alias.size()) - 100) < 0.4 * fullLevel);

        // 8 kHz out to a 44.1 kHz stereo 16-bit device: both channels, same tone, any chunking.
        QAudioFormat cd;
        cd.setSampleRate(44100);
        cd.setChannelCount(2);
        cd.setSampleFormat(QAudioFormat::Int16);
        SampleConverter whole(cd);
        SampleConverter pieces(cd);
        const Samples t = tone(500, 8000);
        QByteArray a, b;
        whole.toDevice(t.data(), int(t.size()), a);
        for (int at = 0; at < 8000; at += 333)
            pieces.toDevice(t.data() + at, std::min(333, 8000 - at), b);
        QCOMPARE(a, b);
        QVERIFY(std::abs(a.size() / 4 - 44100) <= 6);
        QList<qint16> left;
        const auto *frames = reinterpret_cast<const qint16 *>(a.constData());
        for (qsizetype i = 0; i < a.size() / 4; ++i) {
            QCOMPARE(frames[2 * i + 1], frames[2 * i]);
            left.append(frames[2 * i]);
        }
        QVERIFY(std::abs(frequency(left, 44100, 100) - 500.0) < 3.0);

        // Twice the rate: two samples for each, the second halfway to the next.
        Resampler twice(8000, 16000);
        const float ramp[] = {0, 2, 4, 6};
        std::vector<float> doubled;
        twice.process(ramp, 4, doubled);
        QCOMPARE(doubled, std::vector<float>({0, 0, 0, 1, 2, 3, 4, 5}));
    }

    void realSoundServer()
    {
        AudioEngine engine(DeviceProvider::create(false));
        const bool serverExpected = qEnvironmentVariableIsSet("PULSE_SERVER");
        if (!engine.hasAudio()) {
            QVERIFY2(!serverExpected, "PULSE_SERVER is set but no sound device was found");
            QVERIFY(engine.initAudioIn() != 0);
            QVERIFY(engine.initAudioOut() != 0);
            QCOMPARE(engine.statusAudioIn(), 0);
            QSKIP("No sound server on this machine");
        }
        QCOMPARE(engine.initAudioIn(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(engine.statusAudioIn() >= 3, 10000);
        qint16 buffer[Block];
        double level = 0;
        while (engine.statusAudioIn() > 0) {
            QCOMPARE(engine.getAudioIn(buffer, Block), Block);
            level = std::max(level, rms(buffer, Block));
        }
        qInfo() << "microphone format" << static_cast<QtAudioInput *>(engine.inputDevice())->deviceFormat()
                << "level" << level;
        if (serverExpected)
            QVERIFY2(level > 100, "the test server's sine source should be heard");
        engine.closeAudioIn();

        QCOMPARE(engine.initAudioOut(), 0);
        const Samples block = tone(440, Block);
        for (int i = 0; i < 10; ++i)
            QCOMPARE(engine.setAudioOut(block.data(), Block), 0);
        QVERIFY(engine.statusAudioOut() > 0);
        QTRY_COMPARE_WITH_TIMEOUT(engine.statusAudioOut(), 0, 10000);
        engine.setVolumeOut(40);
        QVERIFY(static_cast<QtAudioOutput *>(engine.outputDevice())->volume() < 0.4);
        engine.closeAudioOut();
    }

    void soundsAreAnnouncedWhenPlayedAndNeverLoadedFromPaths()
    {
        for (const char *name : {"ringin.wav", "discon.wav", "inmsg.wav", "chatbell.wav"}) {
            QFile file(QStringLiteral(":/sounds/") + QLatin1String(name));
            QVERIFY2(file.open(QIODevice::ReadOnly) && file.read(12).endsWith("WAVE"), name);
        }
        SoundPlayer player;
        QSignalSpy requested(&player, &SoundPlayer::playRequested);
        // A sound that is not there is passed over silently.
        QTest::failOnWarning(QRegularExpression(QStringLiteral("nosuch")));
        for (const char *name : {"ringin.wav", "nosuch.wav", "../../etc/passwd", ""})
            player.play(QString::fromLatin1(name));
        QCOMPARE(requested.count(), 4);
        QCOMPARE(requested.at(2).at(0).toString(), QStringLiteral("../../etc/passwd"));
        // Only the real sound plays, and only where there is a speaker; it ends by itself.
        const bool speaker = AudioEngine(DeviceProvider::create(false)).hasAudio();
        QCOMPARE(player.playing(), speaker ? 1 : 0);
        QTRY_COMPARE_WITH_TIMEOUT(player.playing(), 0, 10000);
        player.play(QStringLiteral("discon.wav"));
        player.setMuted(true);
        QCOMPARE(player.playing(), 0);
        player.play(QStringLiteral("discon.wav"));
        QCOMPARE(requested.count(), 6);
        QCOMPARE(player.playing(), 0);

        // What is not a plain wave file of ours plays nothing.
        QFile ring(QStringLiteral(":/sounds/ringin.wav"));
        QVERIFY(ring.open(QIODevice::ReadOnly));
        const QByteArray wav = ring.readAll();
        const SoundPlayer::Wave good = SoundPlayer::readWave(wav);
        QVERIFY(good.format.isValid());
        QCOMPARE(good.format.sampleRate(), 22050);
        QCOMPARE(good.samples.size(), wav.size() - 44);
        for (const QByteArray &bad : {wav.left(40), wav.left(30) + QByteArray(10, '\xff'), QByteArray("RIFF"),
                                      QByteArray(wav).replace(20, 2, "\x03\x00")})
            QVERIFY(!SoundPlayer::readWave(bad).format.isValid());
    }
};

QTEST_MAIN(TestAudioEngine)
#include "tst_audioengine.moc"
