#pragma once

#include <QByteArray>
#include <QObject>

#include <functional>
#include <random>

// One direction of a datagram line that loses a fixed share of what it carries, chosen by
// a seeded generator so that a run loses the same packets every time.
class LossyLink : public QObject
{
    Q_OBJECT

public:
    LossyLink(double lossFraction, quint32 seed, QObject *parent = nullptr);

    // Takes a datagram: it is delivered (at once, or after the line's delay) or lost.
    void carry(const QByteArray &datagram);
    // Every datagram delivered takes this long, in order: a line with a long round trip.
    void setDelayMs(int ms) { m_delayMs = ms; }
    // Datagrams `spared` picks are always delivered (a line that loses only some streams).
    void spare(std::function<bool(const QByteArray &)> spared) { m_spared = std::move(spared); }

    int carried() const { return m_carried; }
    int lost() const { return m_lost; }

signals:
    void delivered(const QByteArray &datagram);

private:
    std::mt19937 m_random;
    std::bernoulli_distribution m_loses;
    std::function<bool(const QByteArray &)> m_spared;
    int m_delayMs = 0;
    int m_carried = 0;
    int m_lost = 0;
};
