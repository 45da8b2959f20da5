#pragma once

#include "reach/PortGateway.h"

#include <QByteArray>

// A router that speaks UPnP IGD: found by a search on the local network, or at the
// description address the user gave.
class UpnpGateway : public PortGateway
{
public:
    // searchMs bounds the search, which believes only the default gateway. A description
    // and every control answer are read within RouterHttp's bounds, and every request
    // after the description goes only to the address it came from.
    explicit UpnpGateway(QString descriptionAddress, int searchMs = 2000);
    ~UpnpGateway() override;

    QString protocol() const override { return QStringLiteral("UPnP"); }
    bool find(QString *why, bool *noAnswer) override;
    QString notice() const override { return m_notice; }
    QString outsideAddress() const override { return m_outside; }
    QString insideAddress() const override { return m_inside; }
    Grant map(int insidePort, int outsidePort, int leaseSeconds) override;
    void unmap(int insidePort, int outsidePort) override;

private:
    bool use(const QByteArray &descriptionAddress, QString *why);
    QString m_descriptionAddress;
    int m_searchMs;
    QString m_controlUrl;
    QByteArray m_serviceType;
    QString m_notice;
    QString m_outside;
    QString m_inside;
};
