#pragma once

#include <QtGlobal>

// How loud the microphone is, for a meter a person reads: 0 (silence, or below -60 dBFS)
// to 100 (full scale), on a decibel scale. It rises at once and falls back slowly, as
// meters do, so syllables can be seen.
class LevelMeter
{
public:
    static constexpr double FloorDb = -60.0;
    // How fast the reading falls back, in points per second.
    static constexpr double FallPerSecond = 60.0;

    // Takes samples recorded at `rate` a second; returns the new reading.
    int take(const qint16 *samples, int count, int rate = 8000);
    int level() const { return int(m_level + 0.5); }
    void reset() { m_level = 0; }

private:
    double m_level = 0;
};
