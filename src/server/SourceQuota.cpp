#include "server/SourceQuota.h"

#include <QtGlobal>

double SourceQuota::refilled(const Bucket &b, qint64 nowMs) const
{
    return qMin<double>(m_burst, b.tokens + double(nowMs - b.at) * m_perMinute / 60000.0);
}

bool SourceQuota::take(const QString &source, qint64 nowMs)
{
    auto it = m_buckets.find(source);
    if (it == m_buckets.end())
        it = m_buckets.insert(source, Bucket{double(m_burst), nowMs});
    it->tokens = refilled(*it, nowMs);
    it->at = nowMs;
    if (it->tokens < 1)
        return false;
    it->tokens -= 1;
    return true;
}

void SourceQuota::forgetFull(qint64 nowMs)
{
    for (auto it = m_buckets.begin(); it != m_buckets.end();) {
        if (refilled(*it, nowMs) >= m_burst)
            it = m_buckets.erase(it);
        else
            ++it;
    }
}
