#include "media/MediaConnection.h"

#include "core/Fields.h"
#include "core/IPPort.h"

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
    // The media port is the control port + 1; a control port of 65535 has none.
    const int port = Fields::validPort(qint64(m_ippControl.remotePort()) + 1);
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
