#include "support/RunningProgram.h"

#include <QAudioDevice>
#include <QAudioSource>
#include <QMediaDevices>
#include <cmath>
#include <utility>

namespace {

// Listens to what the speaker device plays, through the sound server's monitor of it.
class SpeakerMonitor
{
public:
    explicit SpeakerMonitor(const QAudioDevice &device)
        : m_format(device.preferredFormat())
        , m_source(device, m_format)
    {
        m_io = m_source.start();
    }
    bool isOpen() const { return m_io != nullptr; }
    // Heard at least this many seconds since the last level().
    bool heardFor(double seconds)
    {
        if (m_io)
            m_heard += m_io->readAll();
        return m_heard.size() >= m_format.bytesForDuration(qint64(seconds * 1e6));
    }
    // Root mean square of what arrived since the last call, on a 0..1 scale.
    double level()
    {
        heardFor(0);
        const QByteArray bytes = std::exchange(m_heard, {});
        const int frame = m_format.bytesPerFrame();
        if (frame <= 0 || bytes.size() < frame)
            return 0;
        double sum = 0;
        const int frames = int(bytes.size() / frame);
        for (int i = 0; i < frames; ++i) {
            const float v = m_format.normalizedSampleValue(bytes.constData() + i * frame);
            sum += double(v) * v;
        }
        return std::sqrt(sum / frames);
    }

private:
    QAudioFormat m_format;
    QAudioSource m_source;
    QIODevice *m_io = nullptr;
    QByteArray m_heard;
};

} // namespace

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
        QAudioDevice monitorDevice;
        for (const QAudioDevice &d : QMediaDevices::audioInputs()) {
            if (d.id() == "zelmo_listen")
                monitorDevice = d;
        }
        QVERIFY2(!monitorDevice.isNull(), "the test sound server has no source that hears its speaker");

        // Both on the machine's own sound devices (no test devices).
        RunningProgram ann(QStringLiteral("Ann"), {.testDevices = false});
        RunningProgram bob(QStringLiteral("Bob"), {.testDevices = false, .autoAccept = true});
        QVERIFY(ann->audioControl().hasAudio() && bob->audioControl().hasAudio());
        ann.call(bob);
        QTRY_COMPARE_WITH_TIMEOUT(bob.call().callState, CallState::InCall, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(ann.call().callState, CallState::InCall, 10000);

        SpeakerMonitor monitor(monitorDevice);
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

QTEST_MAIN(TestRealSound)
#include "tst_realsound.moc"
