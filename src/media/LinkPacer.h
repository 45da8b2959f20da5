#pragma once

#include <QtGlobal>

#include <deque>

// Keeps what a call has waiting on its media connection bounded in time. Each tick the send
// loop reports the bytes not yet taken by the peer (waiting in the endpoint and in the
// system) and the connection's shortest round trip, and tells of every packet it hands
// over. What was sent within the last round trip is simply on its way; anything older that
// the peer has not taken yet is a backlog, and from how fast bytes go while there is one,
// the pacer learns the rate the link actually drains. A video frame may go only while the
// backlog is at most about one tick of data at that rate, so a slow link or a slow reader
// skips frames instead of queueing them. Sound is small and keeps its place: it goes as
// long as the backlog is below about a second of data.
class LinkPacer
{
public:
    // The least a tick's share may be, so an unknown or tiny rate never stops the stream.
    static constexpr qint64 MinVideoBudget = 1500;
    static constexpr qint64 MinSoundBudget = 8192;
    // Longer round trips are not taken as a reason to keep more in flight.
    static constexpr int MaxRoundTripMs = 1000;

    explicit LinkPacer(int tickMs);

    // Start of a tick: the bytes not yet taken by the peer, the connection's shortest round
    // trip and a monotonic time, both in milliseconds.
    void update(qint64 waiting, int roundTripMs, qint64 nowMs);
    // A packet of `bytes` was handed to the connection in this tick, or at `atMs` (the
    // clock of update) when it went between two ticks.
    void sent(qint64 bytes, qint64 atMs = -1);

    bool videoAllowed() const { return backlog() <= videoBudget(); }
    bool soundAllowed() const { return backlog() <= soundBudget(); }

    // Bytes not yet taken by the peer, counting what this tick has sent so far.
    qint64 waiting() const { return m_waiting + m_sentSince; }
    // Of those, the bytes older than a round trip.
    qint64 backlog() const;
    qint64 videoBudget() const;
    qint64 soundBudget() const;
    // The rate, in bytes a second, the link was last seen to drain while bytes waited
    // (or at least went through while none did); 0 before anything was learnt.
    double drainRate() const { return m_rate; }
    // Bytes waited beyond their round trip at the tick's start: the link, not the
    // sender, is what limits the stream now.
    bool linkBusy() const { return m_busy; }
    // How long the oldest byte not yet taken at the tick's start has waited beyond its
    // round trip, in milliseconds: the send queue's delay (0 when nothing waits that long;
    // a byte older than what is kept counts as MaxRoundTripMs).
    qint64 queueDelayMs() const;

    // A new connection: nothing is known about its link.
    void reset();

private:
    struct Sent
    {
        qint64 atMs;
        qint64 bytes;
    };

    qint64 sentWithinRoundTrip() const;
    void startSample(qint64 waiting, qint64 nowMs);
    qint64 budget(int ms, qint64 least) const;

    int m_tickMs;
    int m_roundTripMs = 0;
    qint64 m_nowMs = 0;
    // Now: waiting at the tick's start, and sent since.
    qint64 m_waiting = 0;
    qint64 m_sentSince = 0;
    // What went in the last round trips, by tick.
    std::deque<Sent> m_recent;
    // The measurement under way: waiting at its start, sent since, and when it started.
    qint64 m_sampleWaiting = 0;
    qint64 m_sampleSent = 0;
    qint64 m_lastMs = -1;
    double m_rate = 0.0;
    bool m_busy = false;
};
