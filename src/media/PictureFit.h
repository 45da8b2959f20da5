#pragma once

#include <QtGlobal>

#include <array>

// Chooses the JPEG quality and the frame size a call sends at, so that a frame fits the
// rate the link drains rather than being skipped at full quality. The send loop reports
// each tick what the pacer has learnt and each packet that went; each frame it asks for
// the picture to send, given the quality and size the options ask for, which are never
// exceeded.
//
// Too large a frame first costs quality, a step every quarter second; only at the lowest
// quality worth sending does the picture halve (320 x 240 -> 160 x 120, 640 x 480 ->
// 320 x 240), at most once every few seconds. While the link keeps up and the rate it is
// trusted with is what keeps the picture down, that rate grows, slowly just after the
// link was last full and faster the longer it keeps up, so quality and size come back
// when the link is fast again. A bigger picture is tried only once the rate is believed
// to carry it, and one the link could not carry waits longer before it is tried again.
class PictureFit
{
public:
    struct Picture
    {
        int quality = 0;
        int width = 0;
        int height = 0;
        friend bool operator==(const Picture &, const Picture &) = default;
    };

    // Below this quality a smaller picture shows more than a coarser one.
    static constexpr int FloorQuality = 10;
    // The smallest picture goes this far down before the pacer has to skip frames.
    static constexpr int LeastQuality = 5;
    // The smallest picture sent.
    static constexpr int SmallestWidth = 160;
    static constexpr int SmallestHeight = 120;
    // How often the quality may rise and fall, and the least time between two size changes.
    static constexpr int QualityRiseMs = 500;
    static constexpr int QualityFallMs = 250;
    static constexpr int SizeHoldMs = 3000;
    // A bigger picture the link could not carry is tried again after this long at first,
    // twice as long after each further failure, up to the longest.
    static constexpr int FailedSizeHoldMs = 10000;
    static constexpr int LongestSizeHoldMs = 60000;
    // The share of a tick's worth of the rate a frame is meant to fill: the rest keeps
    // frames from waiting behind one another when the picture changes from frame to frame.
    static constexpr double Fill = 0.7;
    // Quality rises only while frames fill less than this share of what they may.
    static constexpr double RiseBelow = 0.7;

    explicit PictureFit(int tickMs);

    // A new call: nothing is known about its link; the options' picture goes at first.
    void reset();

    // Each tick of a call, after the pacer's update: the rate it learnt (bytes a second, 0
    // when unknown), whether bytes waited beyond their round trip (the link is full), and
    // a monotonic time in milliseconds.
    void update(double drainRate, bool linkBusy, qint64 nowMs);
    // Every packet the connection took, video or not.
    void sent(qint64 bytes);
    // Of those, a video frame sent at the picture picture() gave last.
    void frameSent(qint64 bytes);

    // The picture to send the next frame at, given the quality and size the options ask
    // for (a size of 160 x 120, 320 x 240 or 640 x 480). Never above either.
    Picture picture(const Picture &wanted);

    // The rate the fit is working to, bytes a second (0: not known, nothing is held back).
    double allowance() const { return m_allowance; }

private:
    static constexpr int MaxLevels = 3;

    int maxLevel() const;
    int floorQuality() const;
    int qualityCeiling() const;
    double frameBudget() const;
    void step(qint64 nowMs);
    void changeSize(int level, qint64 nowMs);
    void startMeasuring();

    int m_tickMs;
    // The options' picture as last asked for.
    Picture m_wanted;
    // The choice: a quality, and how many times the options' size is halved.
    int m_quality = 0;
    int m_level = 0;

    double m_allowance = 0.0;
    // Bytes a second of everything but video (sound, text), smoothed.
    double m_otherRate = 0.0;
    qint64 m_otherBytes = 0;
    qint64 m_otherSinceMs = -1;
    // Frames at the current choice: their smoothed size and how many were measured.
    double m_frameBytes = 0.0;
    int m_framesMeasured = 0;
    // What a frame of each size was seen to take at the lowest quality (0: not yet seen).
    std::array<double, MaxLevels> m_floorBytes{};

    // Ticks in a row the link was full.
    int m_busyTicks = 0;
    // The trusted rate, not the options or a hold, is what keeps the picture down: only
    // then is it worth trusting the link with more.
    bool m_budgetLimits = false;
    qint64 m_lastUpdateMs = -1;
    qint64 m_lastBusyMs = -1;
    qint64 m_lastStepMs = -1;
    qint64 m_lastRiseMs = -1;
    qint64 m_lastSizeChangeMs = -1;
    qint64 m_lastSizeUpMs = -1;
    int m_sizeHoldMs = SizeHoldMs;
};
