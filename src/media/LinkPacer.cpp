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

void LinkPacer::update(qint64 waiting, int roundTripMs, qint64 nowMs)
{
    m_roundTripMs = std::clamp(roundTripMs, 0, MaxRoundTripMs);
    m_nowMs = nowMs;
    m_waiting = std::max<qint64>(0, waiting);
    m_sentSince = 0;
    while (!m_recent.empty() && m_recent.front().atMs < nowMs - MaxRoundTripMs - m_tickMs)
        m_recent.pop_front();
    m_busy = backlog() > 0;

    if (m_lastMs < 0) {
        startSample(m_waiting, nowMs);
        return;
    }
    const qint64 interval = nowMs - m_lastMs;
    if (interval < MinIntervalMs)
        return;
    const qint64 offered = m_sampleWaiting + m_sampleSent;
    if (offered > 0) {
        const double sample = double(std::max<qint64>(0, offered - m_waiting)) * 1000.0 / double(interval);
        if (m_busy) {
            // Bytes waited beyond their round trip: the link went as fast as it could.
            m_rate = m_rate <= 0 ? sample : m_rate + Weight * (sample - m_rate);
        } else {
            // The link kept up: it is at least this fast.
            m_rate = std::max(m_rate, sample);
        }
    }
    startSample(m_waiting, nowMs);
}

void LinkPacer::sent(qint64 bytes, qint64 atMs)
{
    if (bytes <= 0)
        return;
    m_sentSince += bytes;
    m_sampleSent += bytes;
    const qint64 at = std::max(atMs, m_nowMs);
    if (!m_recent.empty() && m_recent.back().atMs == at)
        m_recent.back().bytes += bytes;
    else
        m_recent.push_back({at, bytes});
}

qint64 LinkPacer::queueDelayMs() const
{
    // What the peer has not taken are the bytes sent last: going back from the newest,
    // the send that covers the last of them is when the oldest waiting byte went.
    qint64 rest = m_waiting;
    if (rest <= 0)
        return 0;
    for (auto it = m_recent.rbegin(); it != m_recent.rend(); ++it) {
        if (it->atMs > m_nowMs)
            continue; // sent after the tick's start: not in what was waiting then
        rest -= it->bytes;
        if (rest <= 0)
            return std::max<qint64>(0, m_nowMs - it->atMs - m_roundTripMs);
    }
    return MaxRoundTripMs;
}

qint64 LinkPacer::sentWithinRoundTrip() const
{
    // Sends happen on ticks; half a tick of slack covers the time bytes take to leave.
    const qint64 since = m_nowMs - m_roundTripMs - m_tickMs / 2;
    qint64 total = 0;
    for (auto it = m_recent.rbegin(); it != m_recent.rend() && it->atMs > since; ++it)
        total += it->bytes;
    return total;
}

qint64 LinkPacer::backlog() const
{
    return std::max<qint64>(0, waiting() - sentWithinRoundTrip());
}

void LinkPacer::startSample(qint64 waiting, qint64 nowMs)
{
    m_sampleWaiting = waiting;
    m_sampleSent = 0;
    m_lastMs = nowMs;
}

qint64 LinkPacer::budget(int ms, qint64 least) const
{
    return std::max(least, qint64(m_rate * ms / 1000.0));
}

qint64 LinkPacer::videoBudget() const
{
    return budget(m_tickMs, MinVideoBudget);
}

qint64 LinkPacer::soundBudget() const
{
    return budget(1000, MinSoundBudget);
}

void LinkPacer::reset()
{
    m_roundTripMs = 0;
    m_nowMs = 0;
    m_waiting = 0;
    m_sentSince = 0;
    m_recent.clear();
    m_sampleWaiting = 0;
    m_sampleSent = 0;
    m_lastMs = -1;
    m_rate = 0.0;
    m_busy = false;
}
