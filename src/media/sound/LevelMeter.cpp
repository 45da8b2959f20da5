#include "media/sound/LevelMeter.h"

#include <algorithm>
#include <cmath>

int LevelMeter::take(const qint16 *samples, int count, int rate)
{
    if (!samples || count <= 0)
        return level();
    double sum = 0;
    for (int i = 0; i < count; ++i)
        sum += double(samples[i]) * samples[i];
    // A full-scale sine reads -3 dBFS: full scale means a square wave at the limits.
    const double rms = std::sqrt(sum / count) / 32768.0;
    const double db = rms > 0 ? 20.0 * std::log10(rms) : FloorDb;
    const double now = std::clamp((db - FloorDb) / -FloorDb * 100.0, 0.0, 100.0);
    const double fallen = m_level - FallPerSecond * count / std::max(1, rate);
    m_level = std::max(now, std::max(0.0, fallen));
    return level();
}
