#include "path/RelayLease.h"

#include <QDateTime>

#include <algorithm>

RelayLease::RelayLease(Clock clock, QObject *parent)
    : QObject(parent)
    , m_clock(std::move(clock))
{
    connect(&m_beat, &QTimer::timeout, this, &RelayLease::check);
}

qint64 RelayLease::now() const
{
    return m_clock ? m_clock() : QDateTime::currentMSecsSinceEpoch();
}

void RelayLease::take(const std::optional<DirectoryProtocol::RelayAccess> &access)
{
    m_access = access;
    m_asked = false;
    m_takenMs = now();
    m_endMs = access && access->lifetimeSeconds > 0 ? m_takenMs + qint64(access->lifetimeSeconds) * 1000 : 0;
    if (m_endMs == 0) {
        m_beat.stop();
        return;
    }
    // A quarter of the lifetime at most, so that even a short one is renewed in time.
    m_beat.start(int(std::clamp<qint64>((m_endMs - m_takenMs) / 4, 1000, BeatMs)));
}

std::optional<DirectoryProtocol::RelayAccess> RelayLease::usable() const
{
    if (expired())
        return std::nullopt;
    return m_access;
}

bool RelayLease::expired() const
{
    return m_access && m_endMs != 0 && now() >= m_endMs - EndMarginMs;
}

bool RelayLease::renewalDue() const
{
    return m_access && m_endMs != 0 && now() >= m_takenMs + (m_endMs - m_takenMs) / 2;
}

void RelayLease::check()
{
    if (!renewalDue())
        return;
    const qint64 t = now();
    if (m_asked && t - m_askedMs < RetryMs && t >= m_askedMs)
        return;
    m_asked = true;
    m_askedMs = t;
    emit renewalWanted();
}
