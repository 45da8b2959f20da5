#pragma once

#include "reach/PortGateway.h"

// A router that speaks NAT-PMP, asked at the default gateway. Each request is sent again
// a few times while the router is silent, within answerMs in all.
class NatPmpGateway : public PortGateway
{
public:
    explicit NatPmpGateway(int answerMs = 2000);

    QString protocol() const override { return QStringLiteral("NAT-PMP"); }
    bool find(QString *why, bool *noAnswer) override;
    QString outsideAddress() const override { return m_outside; }
    QString insideAddress() const override { return m_inside; }
    Grant map(int insidePort, int outsidePort, int leaseSeconds) override;
    void unmap(int insidePort, int outsidePort) override;

private:
    int m_answerMs;
    QString m_outside;
    QString m_inside;
};
