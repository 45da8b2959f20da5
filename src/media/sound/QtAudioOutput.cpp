#include "media/sound/QtAudioOutput.h"

#include <algorithm>
#include <limits>
#include <vector>

namespace {
// Enough to ride over a busy event loop, short enough that playing starts at once.
constexpr qint64 BufferMicroseconds = 200000;
// Between the blocks of a call the device is kept playing silence rather than let run dry:
// a device that ran dry starts late again, and the echo canceller needs to know when
// what it plays is heard. After this long without sound it may run dry.
constexpr qint64 KeepPlayingMs = 1500;
// The silence kept in the device meanwhile.
constexpr qint64 SilenceFloorMicroseconds = 40000;
} // namespace

QtAudioOutput::QtAudioOutput(const QAudioDevice &device, int rate, QObject *parent)
    : AudioOutputDevice(parent)
    , m_device(device)
    , m_rate(rate)
{
    m_feedTimer.setInterval(20);
    connect(&m_feedTimer, &QTimer::timeout, this, &QtAudioOutput::feed);
    m_clock.start();
}

QtAudioOutput::~QtAudioOutput()
{
    stop();
}

QAudioFormat QtAudioOutput::deviceFormat() const
{
    return m_sink.deviceFormat();
}

bool QtAudioOutput::start()
{
    if (m_sink.stream())
        return true;
    if (!m_sink.open(m_device, m_rate, BufferMicroseconds, [this](QAudioSink &sink) { sink.setVolume(m_volume); }))
        return false;
    connect(m_sink.stream(), &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (m_sink.stoppedByError(state))
            emit failed(tr("The speaker stopped."));
    });
    m_playEndMs = 0;
    m_realEndMs = 0;
    m_lastSoundMs = -1;
    return true;
}

void QtAudioOutput::stop()
{
    m_feedTimer.stop();
    m_queue.clear();
    m_playEndMs = 0;
    m_realEndMs = 0;
    m_lastSoundMs = -1;
    m_sink.close();
}

void QtAudioOutput::write(const qint16 *samples, int count)
{
    if (!m_sink.stream() || !samples || count <= 0)
        return;
    m_sink.converter()->toDevice(samples, count, m_queue);
    feed();
}

void QtAudioOutput::feed()
{
    if (!m_sink.stream() || !m_sink.io()) {
        m_feedTimer.stop();
        return;
    }
    const QAudioFormat &format = m_sink.converter()->deviceFormat();
    if (!m_queue.isEmpty() && writeToDevice(m_queue) > 0) {
        m_realEndMs = m_playEndMs;
        m_lastSoundMs = m_clock.elapsed();
    }
    const bool keepPlaying = m_lastSoundMs >= 0 && m_clock.elapsed() - m_lastSoundMs < KeepPlayingMs;
    if (m_queue.isEmpty() && keepPlaying) {
        const qint64 held = m_sink.stream()->bufferSize() - m_sink.stream()->bytesFree();
        const qint64 missing = format.bytesForDuration(SilenceFloorMicroseconds) - held;
        const double perSample = m_sink.converter()->deviceBytesPerSpeechSample();
        if (missing > 0 && perSample > 0) {
            const std::vector<qint16> silence(size_t(missing / perSample) + 1, 0);
            QByteArray bytes;
            m_sink.converter()->toDevice(silence.data(), int(silence.size()), bytes);
            writeToDevice(bytes);
        }
    }
    if (m_queue.isEmpty() && !keepPlaying)
        m_feedTimer.stop();
    else if (!m_feedTimer.isActive())
        m_feedTimer.start();
}

qint64 QtAudioOutput::writeToDevice(QByteArray &bytes)
{
    const qint64 room = m_sink.stream()->bytesFree();
    const int frameBytes = std::max(1, m_sink.converter()->deviceFormat().bytesPerFrame());
    qint64 chunk = std::min<qint64>(room, bytes.size());
    chunk -= chunk % frameBytes;
    if (chunk <= 0)
        return 0;
    const qint64 written = m_sink.io()->write(bytes.constData(), chunk);
    if (written <= 0)
        return 0;
    bytes.remove(0, written);
    const qint64 us = m_sink.converter()->deviceFormat().durationForBytes(qint32(written));
    m_playEndMs = std::max(m_playEndMs, m_clock.elapsed()) + us / 1000;
    return written;
}

int QtAudioOutput::pendingSamples() const
{
    if (!m_sink.stream())
        return 0;
    const double perSample = m_sink.converter()->deviceBytesPerSpeechSample();
    const qint64 queued = perSample > 0 ? qint64(m_queue.size() / perSample) : 0;
    const qint64 playing = std::max<qint64>(0, m_realEndMs - m_clock.elapsed()) * m_rate / 1000;
    return int(std::min<qint64>(queued + playing, std::numeric_limits<int>::max()));
}

int QtAudioOutput::delaySamples() const
{
    if (!m_sink.stream())
        return 0;
    const double perSample = m_sink.converter()->deviceBytesPerSpeechSample();
    if (perSample <= 0)
        return pendingSamples();
    // What waits here, and what fills the device's buffer. The sound server's own latency
    // beyond that is steady, and the echo canceller's filter spans it; its running
    // estimate of what it has played settles only after a while and would move the
    // sound's place meanwhile.
    const qint64 held = std::max<qint64>(0, m_sink.stream()->bufferSize() - m_sink.stream()->bytesFree());
    return int((m_queue.size() + held) / perSample);
}

void QtAudioOutput::setVolume(qreal volume)
{
    m_volume = std::clamp<qreal>(volume, 0.0, 1.0);
    if (m_sink.stream())
        m_sink.stream()->setVolume(m_volume);
}
