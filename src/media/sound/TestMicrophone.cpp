#include "media/sound/TestMicrophone.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace {
constexpr int BlockMs = 80;
// After a stall (a busy event loop) at most this much is delivered at once; the rest is lost,
// as it would be from a real device's overrun.
constexpr int MaxBlocksPerTick = 8;
constexpr int Harmonics = 24;
} // namespace

TestMicrophone::TestMicrophone(Signal signal, double toneHz, int rate, QObject *parent)
    : AudioInputDevice(parent)
    , m_signal(signal)
    , m_toneHz(toneHz)
    , m_rate(std::max(1, rate))
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(BlockMs);
    connect(&m_timer, &QTimer::timeout, this, &TestMicrophone::tick);
}

bool TestMicrophone::start()
{
    if (!m_timer.isActive()) {
        m_clock.start();
        m_produced = 0;
        m_timer.start();
    }
    return true;
}

void TestMicrophone::stop()
{
    m_timer.stop();
}

void TestMicrophone::setRecording(std::shared_ptr<const std::vector<qint16>> recording)
{
    m_recording = recording && !recording->empty() ? std::move(recording) : nullptr;
}

qint16 TestMicrophone::sampleAt(qint64 n) const
{
    if (m_recording)
        return (*m_recording)[size_t(n * 8000 / m_rate % qint64(m_recording->size()))];
    const double t = double(n) / m_rate;
    constexpr double twoPi = 2.0 * std::numbers::pi;
    if (m_signal == Tone)
        return m_toneHz * 2 < m_rate ? qint16(std::lround(8000.0 * std::sin(twoPi * m_toneHz * t))) : qint16(0);

    // Pitch wanders between about 110 and 170 Hz; the phase is the integral of the pitch.
    const double pitchPhase = twoPi * (140.0 * t - 30.0 / (twoPi * 0.7) * std::cos(twoPi * 0.7 * t));
    // Harmonics weighted towards two formant regions near 700 Hz and 1200 Hz. The weights
    // do not change, and sin(k x) follows from the two before it: a call of the program
    // with this microphone open costs little CPU beyond the program's own.
    static const std::array<double, Harmonics + 1> weights = [] {
        std::array<double, Harmonics + 1> w{};
        for (int k = 1; k <= Harmonics; ++k) {
            const double f = 140.0 * k;
            w[size_t(k)] = std::exp(-std::pow((f - 700.0) / 250.0, 2)) + 0.6 * std::exp(-std::pow((f - 1200.0) / 300.0, 2))
                           + 0.15 / k;
        }
        return w;
    }();
    const double twoCos = 2.0 * std::cos(pitchPhase);
    double before = 0.0;                    // sin(0 x)
    double current = std::sin(pitchPhase); // sin(1 x)
    double voice = 0.0;
    for (int k = 1; k <= Harmonics; ++k) {
        voice += weights[size_t(k)] * current;
        const double next = twoCos * current - before;
        before = current;
        current = next;
    }
    // Syllables at about 4 per second, with a longer pause every 2 seconds.
    const double syllable = std::max(0.0, std::sin(twoPi * 2.0 * t));
    const double phrase = std::fmod(t, 2.0) < 1.6 ? 1.0 : 0.0;
    return qint16(std::lround(std::clamp(4000.0 * voice * syllable * phrase, -32000.0, 32000.0)));
}

void TestMicrophone::tick()
{
    const qint64 due = m_clock.elapsed() * m_rate / 1000;
    qint64 count = due - m_produced;
    if (count <= 0)
        return;
    const qint64 most = qint64(MaxBlocksPerTick) * m_rate * BlockMs / 1000;
    if (count > most) {
        m_produced = due - most;
        count = most;
    }
    QList<qint16> samples(count);
    for (qint64 i = 0; i < count; ++i)
        samples[i] = sampleAt(m_produced + i);
    m_produced += count;
    emit samplesCaptured(samples);
}
