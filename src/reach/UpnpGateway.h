#pragma once

#include "reach/PortGateway.h"

#include <QByteArray>

#include <memory>

// A router that speaks UPnP IGD: found by a search on the local network, or at the
// description address the user gave.
class UpnpGateway : public PortGateway
{
public:
    // searchMs bounds the search; a description is read within DescriptionFetch's bounds,
    // and every later request goes only to the address it came from, bounded by the
    // library's own socket time-outs.
    explicit UpnpGateway(QString descriptionAddress, int searchMs = 2000);
    ~UpnpGateway() override;

    QString protocol() const override { return QStringLiteral("UPnP"); }
    bool find(QString *why, bool *noAnswer) override;
    QString outsideAddress() const override { return m_outside; }
    QString insideAddress() const override { return m_inside; }
    Grant map(int insidePort, int outsidePort, int leaseSeconds) override;
    void unmap(int insidePort, int outsidePort) override;

    // Descriptions read from what answered one search, at most.
    static constexpr int MaxDescriptions = 4;

private:
    struct Router;
    bool use(const QByteArray &descriptionAddress, unsigned int scope, QString *why);
    std::unique_ptr<Router> m_router;
    QString m_descriptionAddress;
    int m_searchMs;
    QString m_outside;
    QString m_inside;
};
