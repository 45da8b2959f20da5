#pragma once

#include "protocol/DirectoryProtocol.h"

#include <QObject>
#include <QTimer>

#include <functional>
#include <optional>

// The relay credentials the directory server gave last, and how long they are good. They
// run out (the server says after how long), so fresh ones are asked for once half of that
// has passed, again now and then while none come, and credentials that have run out are
// not offered to the relay at all. Time is the wall clock's, looked at on a short beat
// rather than waited for on one long timer: a computer that slept through the renewal
// asks for it soon after it wakes, and knows meanwhile that its credentials are stale.
class RelayLease : public QObject
{
    Q_OBJECT

public:
    // Milliseconds since the epoch.
    using Clock = std::function<qint64()>;

    // A renewal asked for and not answered is asked for again after this long.
    static constexpr qint64 RetryMs = 20000;
    // The clock is looked at this often at most (more often for short lifetimes).
    static constexpr int BeatMs = 30000;
    // Credentials this close to their end count as ended: an allocation made with them
    // would be refused, or cut, moments later.
    static constexpr qint64 EndMarginMs = 5000;

    // Without a clock, the system's.
    explicit RelayLease(Clock clock = {}, QObject *parent = nullptr);

    // What the server said last (nothing: it has no relay, or the connection went).
    void take(const std::optional<DirectoryProtocol::RelayAccess> &access);
    // The credentials, while they are good; nothing without any or once they ran out.
    std::optional<DirectoryProtocol::RelayAccess> usable() const;
    // There are credentials, but they ran out.
    bool expired() const;
    // Half their life has passed (or all of it): fresh ones are wanted.
    bool renewalDue() const;
    // Looks at the clock: renewalWanted() when a renewal is due and was not asked for in
    // the last RetryMs. The beat calls it; so does whoever is about to use the relay.
    void check();

signals:
    void renewalWanted();

private:
    qint64 now() const;

    Clock m_clock;
    std::optional<DirectoryProtocol::RelayAccess> m_access;
    // When they were taken and when they end, by m_clock; m_endMs is 0 when the server
    // did not say, and they are then used as they are.
    qint64 m_takenMs = 0;
    qint64 m_endMs = 0;
    qint64 m_askedMs = 0;
    bool m_asked = false;
    QTimer m_beat;
};
