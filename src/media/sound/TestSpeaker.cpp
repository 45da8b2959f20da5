#include "media/sound/TestSpeaker.h"

#include <algorithm>

TestSpeaker::TestSpeaker(int rate, QObject *parent)
    : AudioOutputDevice(parent)
    , m_rate(std::max(1, rate))
{
    m_clock.start();
}

bool TestSpeaker::start()
{
    m_started = true;
    return true;
}

void TestSpeaker::stop()
{
    m_started = false;
    m_playEndMs = 0;
}

void TestSpeaker::write(const qint16 *samples, int count)
{
    if (!m_started || !samples || count <= 0)
        return;
    const qint64 now = m_clock.elapsed();
    // The first write after a start has nothing before it to have run out.
    if (m_playEndMs > 0 && now > m_playEndMs)
        m_longestGapMs = std::max(m_longestGapMs, now - m_playEndMs);
    // Durations are rounded up to whole milliseconds.
    m_playEndMs = std::max(m_playEndMs, now) + (qint64(count) * 1000 + m_rate - 1) / m_rate;
    m_samplesWritten += count;
    ++m_blocksWritten;
    m_recent.append(QList<qint16>(samples, samples + count));
    if (m_recent.size() > KeptSamples)
        m_recent.remove(0, m_recent.size() - KeptSamples);
}

int TestSpeaker::pendingSamples() const
{
    if (!m_started)
        return 0;
    return int(std::max<qint64>(0, m_playEndMs - m_clock.elapsed()) * m_rate / 1000);
}

void TestSpeaker::setVolume(qreal volume)
{
    m_volume = std::clamp<qreal>(volume, 0.0, 1.0);
}
