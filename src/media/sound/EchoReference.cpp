#include "media/sound/EchoReference.h"

#include <algorithm>

namespace {
constexpr qint64 Mask = EchoReference::Capacity - 1;
} // namespace

void EchoReference::place(const qint16 *samples, int count, qint64 position)
{
    if (!samples || count <= 0)
        return;
    if (count > Capacity) {
        samples += count - Capacity;
        position += count - Capacity;
        count = Capacity;
    }
    if (m_ring.empty())
        m_ring.assign(Capacity, 0);
    // Between the end of what was placed before and this, nothing played.
    if (m_end > 0 && position > m_end) {
        const qint64 gap = std::min<qint64>(position - m_end, Capacity);
        for (qint64 p = position - gap; p < position; ++p)
            m_ring[size_t(p & Mask)] = 0;
    }
    // Too old to be kept: it would land on newer sound.
    const qint64 oldest = m_end - Capacity;
    const int skip = position < oldest ? int(std::min<qint64>(oldest - position, count)) : 0;
    for (int i = skip; i < count; ++i)
        m_ring[size_t((position + i) & Mask)] = samples[i];
    m_end = std::max(m_end, position + count);
}

void EchoReference::read(qint64 position, qint16 *out, int count) const
{
    for (int i = 0; i < count; ++i) {
        const qint64 p = position + i;
        out[i] = (p < m_end && p >= m_end - Capacity && m_end > 0) ? m_ring[size_t(p & Mask)] : qint16(0);
    }
}

void EchoReference::clear()
{
    std::fill(m_ring.begin(), m_ring.end(), qint16(0));
    m_end = 0;
}
