#pragma once

#include <QtGlobal>

// Keeps what a call has in flight on its media connection bounded in time. Each tick the
// send loop reports the bytes still waiting (in the endpoint and in the system, not yet
// taken by the peer) and every packet it hands over; from how fast the waiting bytes go,
// the pacer learns the rate the link actually drains. A video frame may go only while at
// most about one tick of data at that rate is waiting, so a slow link or a slow reader
// skips frames instead of queueing them. Sound is small and keeps its place: it goes as
// long as no more than about a second of data waits.
class LinkPacer
{
public:
    // The least a tick's share may be, so an unknown or tiny rate never stops the stream.
    static constexpr qint64 MinVideoBudget = 1500;
    static constexpr qint64 MinSoundBudget = 8192;

    explicit LinkPacer(int tickMs);

    // Start of a tick: the bytes waiting now and a monotonic time in milliseconds.
    void update(qint64 waiting, qint64 nowMs);
    // A packet of `bytes` was handed to the connection in this tick.
    void sent(qint64 bytes)
    {
        m_sentSince += qMax<qint64>(0, bytes);
        m_sampleSent += qMax<qint64>(0, bytes);
    }

    bool videoAllowed() const { return waiting() <= videoBudget(); }
    bool soundAllowed() const { return waiting() <= soundBudget(); }

    // Bytes waiting now, counting what this tick has sent so far.
    qint64 waiting() const { return m_waiting + m_sentSince; }
    // The drain rate learnt so far, bytes a second; 0 while unknown.
    double drainRate() const { return m_rate; }
    qint64 videoBudget() const;
    qint64 soundBudget() const;

    // A new connection: nothing is known about its link.
    void reset();

private:
    void startSample(qint64 waiting, qint64 nowMs);

    int m_tickMs;
    // Now: waiting at the tick's start, and sent since.
    qint64 m_waiting = 0;
    qint64 m_sentSince = 0;
    // The measurement under way: waiting at its start, sent since, and when it started.
    qint64 m_sampleWaiting = 0;
    qint64 m_sampleSent = 0;
    qint64 m_lastMs = -1;
    double m_rate = 0.0;
};
