#include "support/LossyLink.h"

#include <QTimer>

LossyLink::LossyLink(double lossFraction, quint32 seed, QObject *parent)
    : QObject(parent), m_random(seed), m_loses(lossFraction)
{
}

void LossyLink::carry(const QByteArray &datagram)
{
    const bool spared = m_spared && m_spared(datagram);
    if (!spared && m_loses(m_random)) {
        ++m_lost;
        return;
    }
    ++m_carried;
    if (m_delayMs <= 0) {
        emit delivered(datagram);
        return;
    }
    QTimer::singleShot(m_delayMs, Qt::PreciseTimer, this, [this, datagram] { emit delivered(datagram); });
}
