#include "media/MediaConnection.h"

#include "core/Fields.h"
#include "core/IPPort.h"
#include "core/PeerChannel.h"

MediaConnection::MediaConnection(IPPort &ippClient, IPPort &ippControl, QObject *parent)
    : QObject(parent)
    , m_ippClient(ippClient)
    , m_ippControl(ippControl)
{
}

void MediaConnection::open(const QString &host)
{
    if (host.trimmed().isEmpty())
        return;
    m_ippClient.setConnected(false);
    // A control port of 65535 has no media port.
    const int port = Fields::validPort(PortPlan::port(m_ippControl.remotePort(), PeerChannel::Media));
    EndpointError e = m_ippClient.setRemotePort(port);
    if (!e)
        e = m_ippClient.setRemoteAddress(host);
    if (e) {
        emit invalidAddress(tr("You have entered an invalid Host Address: ") + QString::number(e.code)
                            + QLatin1Char(' ') + e.description);
        return;
    }
    emit opening(host, port);
    m_ippClient.setConnected(true);
}
