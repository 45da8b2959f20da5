#include "core/SoundPlayer.h"
#include "media/engine/AudioEngine.h"
#include "media/engine/AudioInputDevice.h"
#include "media/engine/AudioOutputDevice.h"
#include "media/engine/CameraDevice.h"
#include "media/engine/DeviceProvider.h"
#include "media/engine/QtAudioInput.h"
#include "media/engine/QtAudioOutput.h"
#include "media/engine/SampleConverter.h"
#include "media/engine/TestDeviceProvider.h"
#include "media/engine/TestMicrophone.h"
#include "media/engine/TestSpeaker.h"

#include <QElapsedTimer>
#include <QFile>
#include <QSignalSpy>
#include <QSoundEffect>
#include <QTest>

#include <cmath>
#include <numbers>
#include <vector>

using Samples = std::vector<qint16>;

namespace {

constexpr int Block = AudioEngine::BlockSamples;

Samples tone(double hertz, int count, double amplitude = 8000)
{
    Samples s(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        s[size_t(i)] = qint16(std::lround(amplitude * std::sin(2 * std::numbers::pi * hertz * i / 8000.0)));
    return s;
}

double rms(const qint16 *s, int count)
{
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += double(s[i]) * s[i];
    return count > 0 ? std::sqrt(sum / count) : 0.0;
}

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

// A microphone the test speaks through, in chunks of its choosing.
class ScriptedMicrophone : public AudioInputDevice
{
public:
    bool start() override { return true; }
    void stop() override {}
    void say(const QList<qint16> &samples) { emit samplesCaptured(samples); }
};

class ScriptedProvider : public DeviceProvider
{
public:
    QStringList cameraNames() const override { return {}; }
    std::unique_ptr<CameraDevice> openCamera(int) override { return nullptr; }
    bool hasAudioInput() const override { return true; }
    bool hasAudioOutput() const override { return false; }
    std::unique_ptr<AudioInputDevice> openAudioInput() override { return std::make_unique<ScriptedMicrophone>(); }
    std::unique_ptr<AudioOutputDevice> openAudioOutput() override { return nullptr; }
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
    void testMicrophoneDeliversContinuousBlocks()
    {
        AudioEngine engine(testDevices());
        QVERIFY(engine.hasAudio());
        QCOMPARE(engine.statusAudioIn(), 0);
        QElapsedTimer clock;
        clock.start();
        QCOMPARE(engine.initAudioIn(), 0);
        QCOMPARE(engine.initAudioIn(), 0); // already open
        QTRY_VERIFY_WITH_TIMEOUT(engine.statusAudioIn() > 0, 3000);

        qint16 buffer[Block + 1];
        QCOMPARE(engine.getAudioIn(buffer, Block - 1), 0);
        QVERIFY(engine.statusAudioIn() > 0);
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
        QCOMPARE(engine.statusAudioIn(), AudioEngine::MaxInputBlocks);
        mic->say(QList<qint16>(300, 99)); // not a whole block yet
        QCOMPARE(engine.statusAudioIn(), AudioEngine::MaxInputBlocks);

        qint16 buffer[Block];
        QCOMPARE(engine.getAudioIn(buffer, Block), Block);
        QVERIFY(std::all_of(buffer, buffer + Block, [](qint16 s) { return s == 10; })); // 0 to 9 dropped
        for (int b = 11; b < 70; ++b)
            QCOMPARE(engine.getAudioIn(buffer, Block), Block);
        QCOMPARE(buffer[0], qint16(69));
        QCOMPARE(buffer[Block - 1], qint16(69));
        QCOMPARE(engine.statusAudioIn(), 0);
        QCOMPARE(engine.getAudioIn(buffer, Block), 0);
        // The 300 samples and 340 more make the next block.
        mic->say(QList<qint16>(340, 99));
        QCOMPARE(engine.statusAudioIn(), 1);
        // Reopening starts afresh.
        engine.closeAudioIn();
        QCOMPARE(engine.initAudioIn(), 0);
        QCOMPARE(engine.statusAudioIn(), 0);
    }

    void gsmBlocksRoundTrip()
    {
        AudioEngine engine(testDevices());
        engine.startGSM();
        const Samples block = tone(600, Block * 6);
        Samples decoded(Block);
        uchar coded[300];
        for (const auto &[quality, bytes] : {std::pair{0, 132}, std::pair{1, 66}}) {
            double ratio = 0;
            for (int b = 0; b < 6; ++b) {
                QCOMPARE(engine.compressAudioGSM(block.data() + b * Block, Block, quality, coded, sizeof coded), bytes);
                QCOMPARE(engine.unCompressAudioGSM(coded, bytes, decoded.data(), Block), Block);
                ratio = rms(decoded.data(), Block) / rms(block.data() + b * Block, Block);
            }
            QVERIFY2(ratio > 0.5 && ratio < 1.5, qPrintable(QString::number(ratio)));
            // Wrong lengths and small buffers are refused.
            QCOMPARE(engine.unCompressAudioGSM(coded, bytes - 1, decoded.data(), Block), 0);
            QCOMPARE(engine.unCompressAudioGSM(coded, bytes, decoded.data(), Block - 1), 0);
        }
        QCOMPARE(engine.compressAudioGSM(block.data(), Block, 0, coded, 10), 0);
        QCOMPARE(engine.compressAudioGSM(nullptr, Block, 0, coded, sizeof coded), 0);
        QCOMPARE(engine.unCompressAudioGSM(nullptr, 132, decoded.data(), Block), 0);
        engine.stopGSM();
    }

    void playbackQueuesDrainsAndIsBounded()
    {
        AudioEngine engine(testDevices());
        const Samples block = tone(440, Block);
        QVERIFY(engine.setAudioOut(block.data(), Block) != 0); // speaker not open
        QCOMPARE(engine.statusAudioOut(), 0);

        QCOMPARE(engine.initAudioOut(), 0);
        auto *speaker = qobject_cast<TestSpeaker *>(engine.outputDevice());
        QVERIFY(speaker);
        QCOMPARE(engine.setAudioOut(block.data(), Block), 0);
        QVERIFY(engine.statusAudioOut() > 0);
        QCOMPARE(speaker->blocksWritten(), 1);
        QCOMPARE(speaker->samplesWritten(), qint64(Block));
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

        engine.closeAudioOut();
        QCOMPARE(engine.statusAudioOut(), 0);
        QVERIFY(engine.setAudioOut(block.data(), Block) != 0);
    }

    void volumeIsClampedAndOutlivesTheSpeaker()
    {
        AudioEngine engine(testDevices());
        QCOMPARE(engine.getVolumeOut(), 100);
        engine.setVolumeOut(50);
        QCOMPARE(engine.initAudioOut(), 0);
        auto *speaker = qobject_cast<TestSpeaker *>(engine.outputDevice());
        QVERIFY(speaker->volume() > 0.0 && speaker->volume() < 0.5);
        engine.setVolumeOut(47);
        QCOMPARE(engine.getVolumeOut(), 47);
        engine.setVolumeOut(150);
        QCOMPARE(engine.getVolumeOut(), 100);
        QCOMPARE(speaker->volume(), 1.0);
        engine.setVolumeOut(-3);
        QCOMPARE(engine.getVolumeOut(), 0);
        QCOMPARE(speaker->volume(), 0.0);
        engine.closeAudioOut();
        engine.setVolumeOut(30);
        QCOMPARE(engine.initAudioOut(), 0);
        const qreal reopened = qobject_cast<TestSpeaker *>(engine.outputDevice())->volume();
        QVERIFY(reopened > 0.0 && reopened < 0.3);
    }

    void halfDuplexCardRecordsOnceTheSpeakerIsClosed()
    {
        auto devices = testDevices();
        devices->setHalfDuplex(true);
        AudioEngine engine(devices);
        QCOMPARE(engine.initAudioOut(), 0);
        QVERIFY(engine.initAudioIn() != 0);
        QVERIFY(!engine.isAudioInOpen());
        engine.closeAudioOut();
        QCOMPARE(engine.initAudioIn(), 0);
    }

    void noSoundDevicesFailsCleanly()
    {
        auto devices = testDevices();
        devices->setAudioPresent(false);
        AudioEngine engine(devices);
        QVERIFY(!engine.hasAudio());
        QVERIFY(engine.initAudioIn() != 0);
        QVERIFY(engine.initAudioOut() != 0);
        qint16 buffer[Block];
        QCOMPARE(engine.statusAudioIn(), 0);
        QCOMPARE(engine.getAudioIn(buffer, Block), 0);
        QCOMPARE(engine.statusAudioOut(), 0);
        engine.closeAudioIn();
        engine.closeAudioOut();

        AudioEngine nothing(nullptr);
        QVERIFY(!nothing.hasAudio());
        QVERIFY(nothing.initAudioIn() != 0);
        QVERIFY(nothing.initAudioOut() != 0);
    }

    void deviceFormatsConvertToSpeechAndBack()
    {
        // 48 kHz stereo float in: 8 kHz mono out, same tone and level.
        QAudioFormat studio;
        studio.setSampleRate(48000);
        studio.setChannelCount(2);
        studio.setSampleFormat(QAudioFormat::Float);
        SampleConverter in(studio);
        std::vector<float> interleaved;
        for (int i = 0; i < 48000; ++i) {
            const float v = 0.25f * float(std::sin(2 * std::numbers::pi * 1000.0 * i / 48000.0));
            interleaved.push_back(v);
            interleaved.push_back(v);
        }
        QList<qint16> speech;
        // Fed in chunks that split frames, as a device delivers.
        const char *bytes = reinterpret_cast<const char *>(interleaved.data());
        const qint64 total = qint64(interleaved.size() * sizeof(float));
        for (qint64 at = 0; at < total; at += 1001)
            in.fromDevice(bytes + at, std::min<qint64>(1001, total - at), speech);
        QVERIFY(std::abs(speech.size() - 8000) <= 1);
        QVERIFY(std::abs(frequency(speech, 8000, 100) - 1000.0) < 5.0);
        const double level = rms(speech.constData() + 100, int(speech.size()) - 100) / (0.25 * 32768 / std::sqrt(2.0));
        QVERIFY2(level > 0.85 && level < 1.05, qPrintable(QString::number(level)));

        // A tone above what 8 kHz can carry is attenuated, not passed on as a loud alias.
        SampleConverter high(studio);
        std::vector<float> shrill;
        for (int i = 0; i < 48000; ++i) {
            const float v = 0.25f * float(std::sin(2 * std::numbers::pi * 6000.0 * i / 48000.0));
            shrill.push_back(v);
            shrill.push_back(v);
        }
        QList<qint16> alias;
        high.fromDevice(reinterpret_cast<const char *>(shrill.data()), qint64(shrill.size() * sizeof(float)), alias);
        QVERIFY(rms(alias.constData() + 100, int(alias.size()) - 100) < 0.4 * 0.25 * 32768 / std::sqrt(2.0));

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
        QList<qint16> left, right;
        const auto *frames = reinterpret_cast<const qint16 *>(a.constData());
        for (qsizetype i = 0; i < a.size() / 4; ++i) {
            left.append(frames[2 * i]);
            right.append(frames[2 * i + 1]);
        }
        QCOMPARE(left, right);
        QVERIFY(std::abs(frequency(left, 44100, 100) - 500.0) < 3.0);
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

    void soundsAreShortMonoWavesAnnouncedWhenPlayed()
    {
        for (const char *name : {"ringin.wav", "discon.wav", "inmsg.wav", "chatbell.wav"}) {
            QFile file(QStringLiteral(":/sounds/") + QLatin1String(name));
            QVERIFY2(file.open(QIODevice::ReadOnly), name);
            const QByteArray wav = file.readAll();
            QVERIFY(wav.size() > 44 && wav.size() < 70 * 1024);
            QVERIFY(wav.startsWith("RIFF") && wav.mid(8, 4) == "WAVE");
            const auto u16 = [&](int at) { return quint16(uchar(wav[at]) | uchar(wav[at + 1]) << 8); };
            QCOMPARE(u16(22), quint16(1));  // mono
            QCOMPARE(u16(24), quint16(22050));
            QCOMPARE(u16(34), quint16(16)); // bits per sample
        }

        SoundPlayer player;
        QSignalSpy requested(&player, &SoundPlayer::playRequested);
        player.play(QStringLiteral("ringin.wav"));
        player.play(QStringLiteral("nosuch.wav"));
        player.play(QStringLiteral("../../etc/passwd"));
        player.play(QString());
        QCOMPARE(requested.count(), 4);
        QCOMPARE(requested.at(0).at(0).toString(), QStringLiteral("ringin.wav"));
        QCOMPARE(requested.at(2).at(0).toString(), QStringLiteral("../../etc/passwd"));
        // Only the real sound got an effect; nothing was made for the others.
        const auto effects = player.findChildren<QSoundEffect *>();
        QVERIFY(effects.size() <= 1);
        if (AudioEngine(DeviceProvider::create(false)).hasAudio()) {
            QCOMPARE(effects.size(), 1);
            QTRY_VERIFY_WITH_TIMEOUT(effects.at(0)->isPlaying() || effects.at(0)->status() == QSoundEffect::Ready, 10000);
        }

        player.setMuted(true);
        player.play(QStringLiteral("discon.wav"));
        QCOMPARE(requested.count(), 5);
        QCOMPARE(player.findChildren<QSoundEffect *>().size(), effects.size());
    }
};

QTEST_MAIN(TestAudioEngine)
#include "tst_audioengine.moc"
