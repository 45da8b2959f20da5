#pragma once

#include <QHash>
#include <QString>

// How many of something (user numbers) each source may have: `burst` at once, then
// `perMinute` a minute as the allowance fills up again.
class SourceQuota
{
public:
    SourceQuota(int perMinute, int burst) : m_perMinute(perMinute), m_burst(burst) {}

    // Takes one from the source's allowance; false when it has none left now.
    bool take(const QString &source, qint64 nowMs);
    // Forgets the sources whose allowance is whole again: they cost no memory.
    void forgetFull(qint64 nowMs);
    int sources() const { return int(m_buckets.size()); }

private:
    struct Bucket
    {
        double tokens = 0;
        qint64 at = 0;
    };
    double refilled(const Bucket &b, qint64 nowMs) const;

    int m_perMinute;
    int m_burst;
    QHash<QString, Bucket> m_buckets;
};
