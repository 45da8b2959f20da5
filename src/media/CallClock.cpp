#include "media/CallClock.h"

void CallClock::tickCallClock(int step)
{
    if (step == 0) {
        m_minutes = 0;
        m_seconds = 0;
        return;
    }
    if (++m_seconds > 59) {
        m_seconds = 0;
        if (++m_minutes > 59)
            m_minutes = 0;
    }
}

QString CallClock::text() const
{
    return QStringLiteral("%1:%2")
        .arg(m_minutes, 2, 10, QLatin1Char('0'))
        .arg(m_seconds, 2, 10, QLatin1Char('0'));
}

CallClock::Digits CallClock::digits()
{
    Digits d;
    d.value = {m_minutes / 10, m_minutes % 10, m_seconds / 10, m_seconds % 10};
    for (int i = 0; i < 4; ++i) {
        d.changed[i] = d.value[i] != m_drawn[i];
        m_drawn[i] = d.value[i];
    }
    return d;
}
