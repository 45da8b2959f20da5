#include "media/sound/StreamPosition.h"

#include <cstdlib>

StreamPosition::StreamPosition(qint64 slack, qint64 patience)
    : m_slack(slack)
    , m_patience(patience)
{
}

qint64 StreamPosition::take(qint64 estimate, qint64 count)
{
    if (m_next < 0) {
        m_next = estimate;
    } else {
        const qint64 off = estimate - m_next;
        if (std::abs(off) <= m_slack) {
            m_offFor = 0;
        } else {
            // Early one moment and late the next is jitter, not a move: start counting again.
            if (m_offFor > 0 && (off > 0) != (m_leastOff > 0))
                m_offFor = 0;
            if (m_offFor == 0 || std::abs(off) < std::abs(m_leastOff))
                m_leastOff = off;
            m_offFor += count;
            if (m_offFor >= m_patience) {
                m_next += m_leastOff;
                m_offFor = 0;
            }
        }
    }
    const qint64 at = m_next;
    m_next += count;
    return at;
}

void StreamPosition::reset()
{
    m_next = -1;
    m_offFor = 0;
    m_leastOff = 0;
}
