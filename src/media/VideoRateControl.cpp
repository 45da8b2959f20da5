#include "media/VideoRateControl.h"

#include <algorithm>
#include <cmath>

namespace {

// Bits a second a picture of 640 x 480 needs at the least to look like one; smaller
// pictures in proportion to their area.
constexpr double FullPictureBps = 120000;
// A smaller picture grows again only above this share more than it needs.
constexpr double UpMargin = 1.4;
// How much one reading moves the smoothed delay.
constexpr double Smoothing = 0.25;
// Longer gaps between ticks (a stalled loop) do not count as time to grow in.
constexpr qint64 MaxStepMs = 250;

} // namespace

void VideoRateControl::update(qint64 queueDelayMs, double drainBytesPerSecond, qint64 nowMs)
{
    step(queueDelayMs, std::max(0.0, drainBytesPerSecond) * 8, false, false, nowMs);
}

void VideoRateControl::updateFromReports(int pathDelayMs, double lostShare, qint64 wireBytesSent,
                                         qint64 pictureBytesSent, qint64 nowMs)
{
    m_sent.push_back({nowMs, wireBytesSent, pictureBytesSent});
    while (m_sent.size() > 2 && m_sent[1].atMs <= nowMs - SentWindowMs)
        m_sent.pop_front();
    // Until the peer has reported, nothing is known of the path.
    if (pathDelayMs < 0)
        return;
    const qint64 spanMs = nowMs - m_sent.front().atMs;
    const qint64 sinceMs = m_lastReportMs < 0 ? 0 : std::clamp<qint64>(nowMs - m_lastReportMs, 0, LossWindowMs);
    m_lastReportMs = nowMs;
    m_lost += (std::clamp(lostShare, 0.0, 1.0) - m_lost) * double(sinceMs) / LossWindowMs;
    const double lost = m_lost;
    const double throughBps = spanMs >= SentWindowMs / 2
                                  ? double(wireBytesSent - m_sent.front().bytes) * 8000 / double(spanMs) * (1 - lost)
                                  : 0;
    // Heavy loss of late that goes on in the newest report: one lost packet among the few
    // of a report is not enough, nor is a loss the last decrease has already ended.
    // The reports' delay lags by the queue itself, so a drop shows there late: while it falls
    // the drop is working.
    step(pathDelayMs, throughBps, lost > HeavyLoss && lostShare > HeavyLoss, true, nowMs);
}

void VideoRateControl::step(qint64 queueDelayMs, double drainBps, bool overuse, bool lagging, qint64 nowMs)
{
    const qint64 stepMs = m_lastMs < 0 ? 0 : std::clamp<qint64>(nowMs - m_lastMs, 0, MaxStepMs);
    m_lastMs = nowMs;
    m_heavyLoss = overuse;
    m_delayMs = int(std::clamp<qint64>(queueDelayMs, 0, 60000));
    // The delay is read once a tick, so one frame more or less on its way moves it by most
    // of a tick: the trend is what counts.
    m_smoothedMs += Smoothing * (m_delayMs - m_smoothedMs);
    while (!m_recent.empty() && m_recent.front().atMs < nowMs - BaselineMs)
        m_recent.pop_front();
    // The window keeps its least: a sample that is not below the newest never will be.
    while (!m_recent.empty() && m_recent.back().delayMs >= m_smoothedMs)
        m_recent.pop_back();
    m_recent.push_back({nowMs, m_smoothedMs});
    m_growthMs = int(m_smoothedMs - m_recent.front().delayMs);
    m_trend.push_back({nowMs, m_smoothedMs});
    while (m_trend.size() > 1 && m_trend[1].atMs <= nowMs - TrendMs)
        m_trend.pop_front();
    const bool draining = lagging && nowMs - m_trend.front().atMs >= TrendMs
                          && m_smoothedMs < m_trend.front().delayMs - FallingMs;

    const bool holding = m_lastDecreaseMs >= 0 && nowMs - m_lastDecreaseMs < HoldMs;
    if (overuse || m_growthMs > OveruseMs || m_delayMs > MaxDelayMs) {
        const bool episodeBegins = m_lastDecreaseMs < 0 || nowMs - m_lastDecreaseMs > 2 * HoldMs;
        // Over datagrams the first cut of an episode is deep: another follows only while the
        // queue still grows, by more than a reading's noise, beyond what it was at that cut.
        const bool stillGrowing = !lagging || episodeBegins || m_delayMs > m_delayAtDecreaseMs + OveruseMs;
        if (!holding && (overuse || (!draining && stillGrowing))) {
            // The rate the line was overfilled at is the one before the first cut: over
            // datagrams the reports show the queue late, so a second cut can come more than
            // two holds after the first, before the rate has climbed again.
            const bool stillOverusing = m_overusing && nowMs - m_lastDecreaseMs <= EpisodeEndsMs;
            if (episodeBegins && !stillOverusing)
                m_overuseBps = m_target;
            m_delayAtDecreaseMs = m_delayMs;
            const double below = drainBps > 0 ? DecreaseFactor * drainBps : m_target;
            m_target = std::min(m_target * (lagging ? DatagramDecreaseFactor : DecreaseFactor), below);
            m_lastDecreaseMs = nowMs;
            m_lastCutLagging = lagging;
            m_overusing = true;
        }
    } else if (m_growthMs < UnderuseMs && !holding) {
        m_overusing = false;
        // Over datagrams, up to the rate of the last overuse and a little beyond, every rate
        // climbs by the same step: the two ends of a call share the line's queue and are cut
        // by the same share at each overuse, so the larger loses more and they come together;
        // growing by a share of itself, the larger would keep its lead. (On the connection,
        // TCP shares the line out.) Far beyond, the line is probed in large steps.
        const bool near = m_overuseBps > 0 && std::abs(m_target - m_overuseBps) < NearBand * m_overuseBps;
        const bool belowLastOveruse = m_overuseBps > 0 && m_target < (1 + NearBand) * m_overuseBps;
        const double seconds = double(stepMs) / 1000;
        if (lagging && belowLastOveruse)
            m_target += AdditiveIncreaseBps * seconds;
        else
            m_target *= 1 + (near ? NearIncreasePerSecond : IncreasePerSecond) * seconds;
        // What the path has not shown it carries is tried a step at a time.
        if (drainBps > 0)
            m_target = std::min(m_target, std::max<double>(1.5 * drainBps, StartBps));
    }
    m_target = std::clamp<double>(m_target, MinBps, MaxBps);
}

bool VideoRateControl::justCutFromReports() const
{
    return m_lastCutLagging && m_lastDecreaseMs >= 0 && m_lastMs - m_lastDecreaseMs < AfterCutMs;
}

int VideoRateControl::encoderBps(int pictureBps) const
{
    return justCutFromReports() ? std::max(MinBps, int(pictureBps * AfterCutShare)) : pictureBps;
}

int VideoRateControl::pictureBps(int besidesGuessBps) const
{
    double besides = besidesGuessBps;
    const qint64 spanMs = m_sent.empty() ? 0 : m_sent.back().atMs - m_sent.front().atMs;
    if (spanMs >= SentWindowMs / 2) {
        const Sent &first = m_sent.front();
        const Sent &last = m_sent.back();
        const qint64 bytes = (last.bytes - last.pictureBytes) - (first.bytes - first.pictureBytes);
        besides = std::max<double>(0, double(bytes) * 8000 / double(spanMs));
    }
    return int(std::max<double>(MinBps, m_target - besides));
}

QSize VideoRateControl::pictureFor(QSize wanted, int videoBps)
{
    const double fullArea = 640.0 * 480.0;
    const auto needs = [&](int step) {
        const double area = double(wanted.width() >> step) * double(wanted.height() >> step);
        return FullPictureBps * area / fullArea;
    };
    // Down at once when the rate is far short; a little short, only when it stays so for
    // ShrinkAfterMs, since the rate dips for a moment after each overuse and every change of
    // size costs a key frame, which fills the line again. Up one size at a time, with a margin.
    const int before = m_step;
    const auto canShrink = [&] { return m_step < 2 && (wanted.width() >> (m_step + 1)) >= 160; };
    const bool strained = m_quantizer >= StrainedQuantizer;
    const bool shortNow = canShrink() && (videoBps < needs(m_step) || strained);
    if (!shortNow)
        m_shortSinceMs = -1;
    else if (m_shortSinceMs < 0)
        m_shortSinceMs = m_lastMs;
    const bool shortLong = shortNow && (m_lastMs - m_shortSinceMs >= ShrinkAfterMs || m_heavyLoss);
    while (canShrink() && (videoBps < FarShortShare * needs(m_step) || (shortLong && videoBps < needs(m_step))))
        ++m_step;
    // The picture's own cost: one size at a time, measured again at the new size.
    if (m_step == before && shortLong && strained)
        ++m_step;
    if (m_step > before) {
        m_lastShrinkMs = m_lastMs;
        m_shortSinceMs = -1;
    }
    const bool settled = m_lastShrinkMs < 0 || m_lastMs - m_lastShrinkMs >= GrowHoldMs;
    // Without the encoder's word (JPEG), the rate alone decides.
    const bool easy = !m_quantizerKnown || (m_quantizerFrames >= QuantizerFrames && m_quantizer <= EasyQuantizer);
    if (m_step > 0 && m_step == before && settled && easy && videoBps > UpMargin * needs(m_step - 1))
        --m_step;
    m_step = std::min(m_step, 2);
    while (m_step > 0 && (wanted.width() >> m_step) < 160)
        --m_step;
    if (m_step != before) {
        m_quantizer = -1;
        m_quantizerFrames = 0;
    }
    return {(wanted.width() >> m_step) & ~1, (wanted.height() >> m_step) & ~1};
}

void VideoRateControl::pictureCoded(int quantizer)
{
    // Told less than the picture's rate just after a cut, the encoder codes coarser than
    // the rate needs: that says nothing of the size the rate can carry.
    if (quantizer < 0 || justCutFromReports())
        return;
    // About the last ten frames: a key frame or a moment of motion alone does not count.
    m_quantizer = m_quantizer < 0 ? quantizer : m_quantizer + 0.1 * (quantizer - m_quantizer);
    ++m_quantizerFrames;
    m_quantizerKnown = true;
}

void VideoRateControl::startOverDatagrams()
{
    m_target = std::min<double>(m_target, DatagramStartBps);
}

void VideoRateControl::reset()
{
    m_target = StartBps;
    m_delayMs = 0;
    m_growthMs = 0;
    m_smoothedMs = 0;
    m_recent.clear();
    m_trend.clear();
    m_overuseBps = 0;
    m_lastMs = -1;
    m_lastDecreaseMs = -1;
    m_delayAtDecreaseMs = 0;
    m_overusing = false;
    m_lastCutLagging = false;
    m_step = 0;
    m_lastShrinkMs = -1;
    m_shortSinceMs = -1;
    m_heavyLoss = false;
    m_quantizer = -1;
    m_quantizerFrames = 0;
    m_quantizerKnown = false;
    m_sent.clear();
    m_lost = 0;
    m_lastReportMs = -1;
}
