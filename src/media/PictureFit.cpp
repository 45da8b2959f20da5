#include "media/PictureFit.h"

#include <algorithm>

namespace {

// A link full for this many ticks in a row is taken at its word: one late tick on a busy
// machine says nothing about the link.
constexpr int BusyTicksToTrust = 2;
// How fast the trusted rate grows while the link keeps up, per second: slowly for a while
// after the link was last full, so a link near its limit is not pushed over it every few
// seconds, faster once it has kept up for longer.
constexpr double SlowGrowth = 0.1;
constexpr double FastGrowth = 1.0;
constexpr qint64 SlowGrowthMs = 2000;
// Frames measured at a choice before it is judged, and how much one frame moves the mean.
constexpr int FramesToJudge = 2;
constexpr double FrameWeight = 0.3;
// A bigger picture the link carried this long counts as a success: the next one may be
// tried after the shortest hold again.
constexpr qint64 SizeUpHeldMs = 15000;
// Without a measurement, a picture twice the size is taken to cost this much more.
constexpr double BiggerPictureCost = 2.0;
// Frames this much too large go to the lowest quality at once: smaller steps would only
// keep them waiting on the link for longer.
constexpr double FarTooLarge = 1.5;

} // namespace

PictureFit::PictureFit(int tickMs)
    : m_tickMs(std::max(1, tickMs))
{
}

void PictureFit::reset()
{
    m_wanted = {};
    m_quality = 0;
    m_level = 0;
    m_allowance = 0.0;
    m_otherRate = 0.0;
    m_otherBytes = 0;
    m_otherSinceMs = -1;
    m_frameBytes = 0.0;
    m_framesMeasured = 0;
    m_floorBytes = {};
    m_busyTicks = 0;
    m_budgetLimits = false;
    m_lastUpdateMs = -1;
    m_lastBusyMs = -1;
    m_lastStepMs = -1;
    m_lastRiseMs = -1;
    m_lastSizeChangeMs = -1;
    m_lastSizeUpMs = -1;
    m_sizeHoldMs = SizeHoldMs;
}

int PictureFit::maxLevel() const
{
    int level = 0;
    int width = m_wanted.width;
    int height = m_wanted.height;
    while (level < MaxLevels - 1 && width / 2 >= SmallestWidth && height / 2 >= SmallestHeight) {
        width /= 2;
        height /= 2;
        ++level;
    }
    return level;
}

int PictureFit::qualityCeiling() const
{
    return std::max(1, m_wanted.quality);
}

int PictureFit::floorQuality() const
{
    return std::min(m_level >= maxLevel() ? LeastQuality : FloorQuality, qualityCeiling());
}

double PictureFit::frameBudget() const
{
    if (m_allowance <= 0)
        return 0;
    // Sound and text go first; video always keeps some share, as the pacer gives it one.
    const double video = std::max(m_allowance - m_otherRate, m_allowance / 4);
    return video * m_tickMs / 1000.0 * Fill;
}

void PictureFit::update(double drainRate, bool linkBusy, qint64 nowMs)
{
    const qint64 elapsed = m_lastUpdateMs < 0 ? 0 : std::clamp<qint64>(nowMs - m_lastUpdateMs, 0, 1000);
    m_lastUpdateMs = nowMs;

    if (m_otherSinceMs < 0) {
        m_otherSinceMs = nowMs;
    } else if (nowMs - m_otherSinceMs >= 1000) {
        const double sample = double(std::max<qint64>(0, m_otherBytes)) * 1000.0 / double(nowMs - m_otherSinceMs);
        m_otherRate = m_otherRate <= 0 ? sample : m_otherRate + 0.5 * (sample - m_otherRate);
        m_otherBytes = 0;
        m_otherSinceMs = nowMs;
    }

    m_busyTicks = linkBusy ? m_busyTicks + 1 : 0;
    if (m_busyTicks >= BusyTicksToTrust && drainRate > 0) {
        m_allowance = drainRate;
        m_lastBusyMs = nowMs;
    } else if (!linkBusy && m_allowance > 0) {
        m_allowance = std::max(m_allowance, drainRate);
        if (m_budgetLimits) {
            const bool lately = m_lastBusyMs >= 0 && nowMs - m_lastBusyMs < SlowGrowthMs;
            m_allowance *= 1.0 + (lately ? SlowGrowth : FastGrowth) * double(elapsed) / 1000.0;
        }
    }

    if (m_wanted.width > 0 && (m_lastStepMs < 0 || nowMs - m_lastStepMs >= QualityFallMs))
        step(nowMs);
}

void PictureFit::step(qint64 nowMs)
{
    if (m_framesMeasured < FramesToJudge)
        return;
    m_lastStepMs = nowMs;
    if (m_lastSizeUpMs >= 0 && m_lastSizeChangeMs == m_lastSizeUpMs && nowMs - m_lastSizeUpMs >= SizeUpHeldMs)
        m_sizeHoldMs = SizeHoldMs;

    const double budget = frameBudget();
    const bool known = budget > 0;
    m_budgetLimits = false;
    if (known && m_frameBytes > budget) {
        if (m_quality > floorQuality()) {
            m_quality = m_frameBytes > FarTooLarge * budget
                            ? floorQuality()
                            : std::max(floorQuality(), m_quality - std::max(2, m_quality / 4));
            startMeasuring();
        } else if (m_level < maxLevel() && (m_lastSizeChangeMs < 0 || nowMs - m_lastSizeChangeMs >= SizeHoldMs)) {
            m_floorBytes[size_t(m_level)] = m_frameBytes;
            // A bigger picture the link could not carry after all waits longer next time.
            if (m_lastSizeUpMs >= 0 && m_lastSizeChangeMs == m_lastSizeUpMs && nowMs - m_lastSizeUpMs < SizeUpHeldMs)
                m_sizeHoldMs = std::min(std::max(2 * m_sizeHoldMs, FailedSizeHoldMs), LongestSizeHoldMs);
            changeSize(m_level + 1, nowMs);
        } else {
            // Nothing left to lower: if the link keeps up all the same, it carries more
            // than it is trusted with.
            m_budgetLimits = true;
        }
        return;
    }
    if (known && m_frameBytes >= budget * RiseBelow) {
        m_budgetLimits = true;
        return;
    }
    if (m_lastRiseMs >= 0 && nowMs - m_lastRiseMs < QualityRiseMs)
        return;
    m_lastRiseMs = nowMs;
    if (m_quality < qualityCeiling()) {
        // Far below what the link carries (it has just become fast again), bigger steps.
        const bool roomy = !known || m_frameBytes < budget * RiseBelow / 2;
        m_quality = std::min(qualityCeiling(), m_quality + (roomy ? std::max(3, m_quality / 2) : std::max(2, m_quality / 4)));
        m_budgetLimits = m_quality < qualityCeiling() || m_level > 0;
        startMeasuring();
    } else if (m_level > 0 && nowMs - m_lastSizeChangeMs >= m_sizeHoldMs) {
        const double seen = m_floorBytes[size_t(m_level - 1)];
        const double estimate = seen > 0 ? seen : m_frameBytes * BiggerPictureCost;
        if (!known || estimate < budget * RiseBelow) {
            changeSize(m_level - 1, nowMs);
            m_lastSizeUpMs = nowMs;
        } else {
            m_budgetLimits = true;
        }
    }
}

void PictureFit::changeSize(int level, qint64 nowMs)
{
    m_level = level;
    // A new size starts low and climbs: a first frame too large would wait on the link.
    m_quality = floorQuality();
    m_lastSizeChangeMs = nowMs;
    startMeasuring();
}

void PictureFit::startMeasuring()
{
    m_frameBytes = 0.0;
    m_framesMeasured = 0;
}

void PictureFit::sent(qint64 bytes)
{
    m_otherBytes += std::max<qint64>(0, bytes);
}

void PictureFit::frameSent(qint64 bytes)
{
    if (bytes <= 0)
        return;
    m_otherBytes -= bytes;
    m_frameBytes = m_framesMeasured == 0 ? double(bytes) : m_frameBytes + FrameWeight * (double(bytes) - m_frameBytes);
    ++m_framesMeasured;
    if (m_quality <= floorQuality())
        m_floorBytes[size_t(m_level)] = m_frameBytes;
}

PictureFit::Picture PictureFit::picture(const Picture &wanted)
{
    m_wanted = wanted;
    m_level = std::min(m_level, maxLevel());
    m_quality = m_quality <= 0 ? qualityCeiling() : std::clamp(m_quality, floorQuality(), qualityCeiling());
    return {m_quality, wanted.width >> m_level, wanted.height >> m_level};
}
