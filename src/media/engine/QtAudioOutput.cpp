#include "media/engine/QtAudioOutput.h"

#include <QAudioSink>

#include <algorithm>
#include <limits>

namespace {
// Enough to ride over a busy event loop, short enough that playing starts at once.
constexpr qint64 BufferMicroseconds = 200000;
} // namespace

QtAudioOutput::QtAudioOutput(const QAudioDevice &device, QObject *parent)
    : AudioOutputDevice(parent)
    , m_device(device)
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
    return m_converter ? m_converter->deviceFormat() : QAudioFormat();
}

bool QtAudioOutput::start()
{
    if (m_sink)
        return true;
    const QAudioFormat format = SampleConverter::formatFor(m_device);
    if (!format.isValid())
        return false;
    m_converter = std::make_unique<SampleConverter>(format);
    m_sink = new QAudioSink(m_device, format, this);
    m_sink->setVolume(m_volume);
    m_sink->setBufferSize(format.bytesForDuration(BufferMicroseconds));
    m_io = m_sink->start();
    if (!m_io || m_sink->error() == QAudio::OpenError || m_sink->error() == QAudio::FatalError) {
        stop();
        return false;
    }
    connect(m_sink, &QAudioSink::stateChanged, this, [this](QAudio::State state) {
        if (state == QAudio::StoppedState && m_sink && m_sink->error() != QAudio::NoError
            && m_sink->error() != QAudio::UnderrunError) {
            emit failed(tr("The speaker stopped."));
        }
    });
    m_playEndMs = 0;
    return true;
}

void QtAudioOutput::stop()
{
    m_feedTimer.stop();
    m_queue.clear();
    m_playEndMs = 0;
    if (!m_sink)
        return;
    m_sink->disconnect(this);
    m_sink->stop();
    delete m_sink;
    m_sink = nullptr;
    m_io = nullptr;
}

void QtAudioOutput::write(const qint16 *samples, int count)
{
    if (!m_sink || !samples || count <= 0)
        return;
    m_converter->toDevice(samples, count, m_queue);
    feed();
}

void QtAudioOutput::feed()
{
    if (!m_sink || !m_io) {
        m_feedTimer.stop();
        return;
    }
    if (!m_queue.isEmpty()) {
        const qint64 room = m_sink->bytesFree();
        const int frameBytes = std::max(1, m_converter->deviceFormat().bytesPerFrame());
        qint64 chunk = std::min<qint64>(room, m_queue.size());
        chunk -= chunk % frameBytes;
        if (chunk > 0) {
            const qint64 written = m_io->write(m_queue.constData(), chunk);
            if (written > 0) {
                m_queue.remove(0, written);
                const qint64 now = m_clock.elapsed();
                const qint64 ms = m_converter->deviceFormat().durationForBytes(qint32(written)) / 1000;
                m_playEndMs = std::max(m_playEndMs, now) + ms;
            }
        }
    }
    if (m_queue.isEmpty())
        m_feedTimer.stop();
    else if (!m_feedTimer.isActive())
        m_feedTimer.start();
}

int QtAudioOutput::pendingSamples() const
{
    if (!m_sink)
        return 0;
    const double perSample = m_converter->deviceBytesPerSpeechSample();
    const qint64 queued = perSample > 0 ? qint64(m_queue.size() / perSample) : 0;
    const qint64 playing = std::max<qint64>(0, m_playEndMs - m_clock.elapsed()) * SampleConverter::SpeechRate / 1000;
    return int(std::min<qint64>(queued + playing, std::numeric_limits<int>::max()));
}

void QtAudioOutput::setVolume(qreal volume)
{
    m_volume = std::clamp<qreal>(volume, 0.0, 1.0);
    if (m_sink)
        m_sink->setVolume(m_volume);
}
