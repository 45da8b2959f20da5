#pragma once

#include <QSize>
#include <QtGlobal>

#include <deque>

// The rate a call's coded video may take, from how the path behaves rather than from a
// table: each tick it reads how long the bytes already sent wait beyond their round trip
// (the link pacer's send-queue delay). What counts is the growth of that delay over the
// least of the last BaselineMs (a frame's own time on the line is always there): growth
// past OveruseMs, or a delay past MaxDelayMs, means the path carries less than is sent,
// and the rate drops below what the link was seen to drain. While the growth stays under
// UnderuseMs the rate climbs by IncreasePerSecond, never far beyond what the path was
// seen to carry. After each drop the rate holds for HoldMs, the time the drop needs to
// show in the delay. Over datagrams, where the delay comes late in the peer's reports, the
// first drop of an overuse is deep, and no further drop follows while the delay falls or
// grows no more: the drop is working, and the queue of a line shared by both directions
// drains slowly even below its rate.
// Near the rate of the last overuse the rate climbs slowly, so the line is not filled again
// every few seconds; over datagrams, up to that rate it climbs by a fixed step, not a share
// of itself, so the two ends of a call come to share the line fairly.
class VideoRateControl
{
public:
    static constexpr int StartBps = 300000;
    static constexpr int MinBps = 40000;
    static constexpr int MaxBps = 2500000;
    static constexpr int OveruseMs = 50;
    static constexpr int UnderuseMs = 20;
    static constexpr int MaxDelayMs = 150;
    static constexpr int BaselineMs = 2000;
    static constexpr int HoldMs = 400;
    static constexpr double IncreasePerSecond = 0.2;
    static constexpr double DecreaseFactor = 0.85;
    // Over datagrams a drop goes deeper: the reports show the queue late, so the line has
    // been overfilled all that while, and what got through stands for the rate sent rather
    // than for what the line drains. A queue drained slowly holds the copies of lost packets
    // back beyond the receiver's wait, and each frame given up costs a key frame.
    static constexpr double DatagramDecreaseFactor = 0.7;
    static constexpr int GrowHoldMs = 8000;
    // An overuse whose rate neither climbs nor is cut again for this long is over.
    static constexpr int EpisodeEndsMs = 2000;
    // How far back the delay's trend is read, and how much it must fall to count as falling.
    static constexpr int TrendMs = 400;
    static constexpr int FallingMs = 10;
    // Within this share of the rate of the last overuse the rate climbs at NearIncreasePerSecond;
    // over datagrams, below it and within the share above it, by AdditiveIncreaseBps a second.
    static constexpr double NearBand = 0.1;
    static constexpr double NearIncreasePerSecond = 0.05;
    static constexpr double AdditiveIncreaseBps = 20000;

    // A tick: how long the oldest byte not yet taken has waited beyond its round trip, the
    // rate in bytes a second the link was seen to drain (0: not known yet), and a
    // monotonic time, in milliseconds.
    void update(qint64 queueDelayMs, double drainBytesPerSecond, qint64 nowMs);

    // A tick of a call over datagrams, from what the peer's reports say: the path's
    // queueing delay (-1 before a report came), the share of packets lost, and all bytes
    // this side has put on the line so far. What got through of late (the rate sent less
    // what was lost) stands for what the link drains; losing more than HeavyLoss counts as
    // overuse (while the newest report still shows it), as a growing delay does. Loss below that is the line's, not ours: Opus and
    // the resent copies make up for it. A report covers a tenth of a second, a few packets
    // on a modest line, so one lost packet can make a third of it: the share counts as it
    // stands over LossWindowMs. `pictureBytesSent` is the picture's part of the bytes sent:
    // what the rest (sound, reports) took of late is left out of the picture's rate.
    void updateFromReports(int pathDelayMs, double lostShare, qint64 wireBytesSent, qint64 pictureBytesSent,
                           qint64 nowMs);
    static constexpr double HeavyLoss = 0.1;
    // How far back the rate sent is measured.
    static constexpr int SentWindowMs = 1000;
    static constexpr int LossWindowMs = 1000;

    int targetBps() const { return int(m_target); }
    // What the picture may take of the target over datagrams: the target less what went on
    // the line besides the picture over the last SentWindowMs (`besidesGuessBps` until that
    // is measured), never below MinBps.
    int pictureBps(int besidesGuessBps) const;
    // What the encoder is told of `pictureBps`: for AfterCutMs after a cut over datagrams,
    // AfterCutShare of it. The encoder's own rate control spends, right after a cut, what it
    // saved while the picture coded below the old rate, and sends up to half as much again
    // as the new rate for about a second: on a line both directions share, that keeps the
    // queue the cut should drain growing.
    int encoderBps(int pictureBps) const;
    static constexpr int AfterCutMs = 1000;
    static constexpr double AfterCutShare = 0.7;
    int queueDelayMs() const { return m_delayMs; }
    // The delay's growth over its least of late, in milliseconds.
    int delayGrowthMs() const { return m_growthMs; }

    // The picture for the rate: the wanted size, or a half or quarter of it when the rate
    // is too low for it to look like anything (below FarShortShare of what it needs at once,
    // else after ShrinkAfterMs of it, or at once while the line loses a heavy share: its
    // queue is full, and the larger picture's key frames do not get through); a size comes
    // back only with some margin and not within GrowHoldMs of the last time it went (each
    // change of size costs a key frame), so the picture does not flip between two sizes.
    // A picture that needs more than the rate, whatever the rate says it should need (a
    // detailed, noisy camera picture), is coded at the encoder's coarsest: a quantizer that
    // stays at StrainedQuantizer or above counts as a rate short of the size; a smaller size
    // grows again only where it codes at EasyQuantizer or finer.
    QSize pictureFor(QSize wanted, int videoBps);
    static constexpr int ShrinkAfterMs = 2000;
    static constexpr double FarShortShare = 0.6;
    // Each frame the encoder coded or left out: how coarse it was, 0-63 (see Vp8Encoder).
    void pictureCoded(int quantizer);
    static constexpr int StrainedQuantizer = 54;
    static constexpr int EasyQuantizer = 40;
    // Frames a size is coded at before its quantizer lets it grow.
    static constexpr int QuantizerFrames = 25;

    // A new call: nothing is known about its path.
    void reset();
    // The call's picture moves to datagrams. There nothing tells the rate a queue drains
    // at before the peer's first reports, and both ends of a modest line share its queue:
    // starting at StartBps each they would overfill it, and the key frames and resent
    // copies the overflow costs would freeze the picture in its first seconds. So the rate
    // starts at DatagramStartBps (unless it is lower already) and climbs from there.
    void startOverDatagrams();
    static constexpr int DatagramStartBps = 200000;

private:
    void step(qint64 queueDelayMs, double drainBps, bool overuse, bool lagging, qint64 nowMs);
    // Within AfterCutMs of a cut made from the peer's reports.
    bool justCutFromReports() const;

    double m_target = StartBps;
    int m_delayMs = 0;
    int m_growthMs = 0;
    struct Sample
    {
        qint64 atMs;
        double delayMs;
    };
    double m_smoothedMs = 0;
    std::deque<Sample> m_recent;
    // The smoothed delay over the last TrendMs and a little more.
    std::deque<Sample> m_trend;
    // The rate when the last overuse began (0: none yet).
    double m_overuseBps = 0;
    qint64 m_lastMs = -1;
    qint64 m_lastDecreaseMs = -1;
    int m_delayAtDecreaseMs = 0;
    // Cut since the rate last climbed.
    bool m_overusing = false;
    // The last cut was made from the peer's reports.
    bool m_lastCutLagging = false;
    // 0 the wanted size, 1 half of it, 2 a quarter.
    int m_step = 0;
    qint64 m_lastShrinkMs = -1;
    // Since when the rate has been short of what the picture needs (-1: it is not).
    qint64 m_shortSinceMs = -1;
    // The newest report told of heavy loss.
    bool m_heavyLoss = false;
    // The frames' quantizer, smoothed over a few frames at the size now sent (-1: none yet),
    // how many frames it is made of, and whether the encoder ever told one.
    double m_quantizer = -1;
    int m_quantizerFrames = 0;
    bool m_quantizerKnown = false;
    // Bytes on the line by then, over the last SentWindowMs.
    struct Sent
    {
        qint64 atMs;
        qint64 bytes;
        qint64 pictureBytes;
    };
    std::deque<Sent> m_sent;
    double m_lost = 0;
    qint64 m_lastReportMs = -1;
};
