#include "media/MediaClock.h"

MediaClock::MediaClock()
{
    m_timer.start();
}

double MediaClock::now() const
{
    if (m_manual)
        return m_manualSeconds;
    return double(m_timer.nsecsElapsed()) / 1e9;
}

void MediaClock::setManual(double seconds)
{
    m_manual = true;
    m_manualSeconds = seconds;
}

void MediaClock::advance(double seconds)
{
    if (m_manual)
        m_manualSeconds += seconds;
}
