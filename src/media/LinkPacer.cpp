#include "media/LinkPacer.h"

#include <algorithm>

namespace {

// How much one measurement moves the learnt rate: a few ticks follow a link that changed.
constexpr double Weight = 0.25;
// Shorter intervals (ticks run by hand, a busy event loop catching up) say little.
constexpr qint64 MinIntervalMs = 20;

} // namespace

LinkPacer::LinkPacer(int tickMs)
    : m_tickMs(std::max(1, tickMs))
{
}

void LinkPacer::update(qint64 waiting, qint64 nowMs)
{
    waiting = std::max<qint64>(0, waiting);
    m_waiting = waiting;
    m_sentSince = 0;
    if (m_lastMs < 0) {
        startSample(waiting, nowMs);
        return;
    }
    const qint64 interval = nowMs - m_lastMs;
    if (interval < MinIntervalMs)
        return;
    const qint64 offered = m_sampleWaiting + m_sampleSent;
    if (offered > 0) {
        const double sample = double(std::max<qint64>(0, offered - waiting)) * 1000.0 / double(interval);
        if (waiting > 0) {
            // Data waited the whole interval: the link went as fast as it could.
            m_rate = m_rate <= 0 ? sample : m_rate + Weight * (sample - m_rate);
        } else {
            // Everything went: the link is at least this fast.
            m_rate = std::max(m_rate, sample);
        }
    }
    startSample(waiting, nowMs);
}

void LinkPacer::startSample(qint64 waiting, qint64 nowMs)
{
    m_sampleWaiting = waiting;
    m_sampleSent = 0;
    m_lastMs = nowMs;
}

qint64 LinkPacer::videoBudget() const
{
    return std::max(MinVideoBudget, qint64(m_rate * m_tickMs / 1000.0));
}

qint64 LinkPacer::soundBudget() const
{
    return std::max(MinSoundBudget, qint64(m_rate));
}

void LinkPacer::reset()
{
    m_waiting = 0;
    m_sentSince = 0;
    m_sampleWaiting = 0;
    m_sampleSent = 0;
    m_lastMs = -1;
    m_rate = 0.0;
}
