#pragma once

#include <QObject>
#include <QString>

class IPPort;

// Opens the calling side's media channel: the client goes to the callee's control port + 1.
// The outcome arrives later as the client's connected event.
class MediaConnection : public QObject
{
    Q_OBJECT

public:
    MediaConnection(IPPort &ippClient, IPPort &ippControl, QObject *parent = nullptr);

    // Does nothing for an empty host. A host or port the endpoint rejects is reported
    // through invalidAddress with the text to show.
    void open(const QString &host);

signals:
    void opening(const QString &host, int port);
    void invalidAddress(const QString &message);

private:
    IPPort &m_ippClient;
    IPPort &m_ippControl;
};
