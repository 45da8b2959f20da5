#include "reach/RouterMapping.h"

#include "reach/AddressScope.h"
#include "reach/NatPmpGateway.h"
#include "reach/UpnpGateway.h"

RouterMapping::Outcome RouterMapping::map(const Request &request)
{
    Outcome last;
    last.result = Outcome::NoRouter;
    for (const QString &protocol : {QStringLiteral("UPnP"), QStringLiteral("NAT-PMP")}) {
        // A user who named the router's description address has a UPnP router.
        if (protocol != QLatin1String("UPnP") && !request.routerAddress.isEmpty())
            break;
        auto gateway = gatewayFor(protocol, request);
        Outcome outcome = mapWith(*gateway, request);
        outcome.steps = last.steps + outcome.steps;
        if (outcome.result == Outcome::Mapped) {
            outcome.gateway = gateway;
            return outcome;
        }
        // An answer that says why is worth more than silence from the next protocol.
        if (outcome.result != Outcome::NoRouter || last.result == Outcome::NoRouter)
            last = outcome;
        else
            last.steps = outcome.steps;
    }
    return last;
}

RouterMapping::Outcome RouterMapping::mapWith(PortGateway &gateway, const Request &request)
{
    Outcome outcome;
    outcome.protocol = gateway.protocol();
    QString why;
    bool noAnswer = false;
    const bool found = gateway.find(&why, &noAnswer);
    if (!gateway.notice().isEmpty())
        outcome.steps << outcome.protocol + QStringLiteral(": ") + gateway.notice();
    if (!found) {
        outcome.result = noAnswer ? Outcome::NoRouter : Outcome::Garbage;
        outcome.detail = why;
        outcome.steps << outcome.protocol + QStringLiteral(": ") + why;
        return outcome;
    }
    outcome.outsideAddress = gateway.outsideAddress();
    outcome.insideAddress = gateway.insideAddress();
    outcome.steps << QStringLiteral("%1: router found, outside address %2").arg(outcome.protocol, outcome.outsideAddress);
    if (!AddressScope::isPublic(outcome.outsideAddress)) {
        outcome.result = Outcome::PrivateOutside;
        outcome.detail = QStringLiteral("the router's outside address %1 is itself private").arg(outcome.outsideAddress);
        return outcome;
    }

    int outsideBase = request.preferredOutsideBase > 0 ? request.preferredOutsideBase : request.insideBase;
    for (int attempt = 0; attempt < BlockAttempts; ++attempt) {
        QList<std::pair<int, int>> made;
        bool taken = false;
        bool failed = false;
        int lease = request.leaseSeconds;
        for (int offset : request.offsets) {
            const int inside = request.insideBase + offset;
            const int wanted = outsideBase + offset;
            const PortGateway::Grant grant = gateway.map(inside, wanted, request.leaseSeconds);
            if (grant.ok)
                made.append({inside, grant.outsidePort});
            if (grant.ok && !grant.taken) {
                lease = grant.leaseSeconds;
                if (lease == 0 && request.leaseSeconds > 0 && outcome.protocol == QLatin1String("NAT-PMP")) {
                    outcome.result = Outcome::NoLease;
                    outcome.detail = QStringLiteral("the router gave port %1 for no time").arg(wanted);
                    failed = true;
                    break;
                }
                continue;
            }
            if (grant.taken) {
                outcome.steps << QStringLiteral("%1: outside port %2 is taken").arg(outcome.protocol).arg(wanted);
                // A router that picks another port tells where the free ones are.
                if (grant.ok && grant.outsidePort > wanted)
                    outsideBase = grant.outsidePort - offset - BlockStep;
                taken = true;
            } else {
                outcome.result = Outcome::Refused;
                outcome.detail = QStringLiteral("the router refused to forward port %1: %2").arg(wanted).arg(grant.text);
                failed = true;
            }
            break;
        }
        if (!taken && !failed) {
            outcome.result = Outcome::Mapped;
            outcome.outsideBase = outsideBase;
            outcome.leaseSeconds = lease;
            outcome.steps << QStringLiteral("%1: ports %2 forwarded to %3 for %4 s")
                                 .arg(outcome.protocol)
                                 .arg(outsideBase)
                                 .arg(outcome.insideAddress)
                                 .arg(lease);
            return outcome;
        }
        for (const auto &[inside, outside] : made)
            gateway.unmap(inside, outside);
        if (failed) {
            outcome.steps << outcome.protocol + QStringLiteral(": ") + outcome.detail;
            return outcome;
        }
        outsideBase += BlockStep;
        if (outsideBase + request.offsets.value(request.offsets.size() - 1) > 65535)
            break;
    }
    outcome.result = Outcome::Refused;
    outcome.detail = QStringLiteral("every block of outside ports tried was taken");
    outcome.steps << outcome.protocol + QStringLiteral(": ") + outcome.detail;
    return outcome;
}

void RouterMapping::unmap(const Request &request, const Outcome &outcome)
{
    if (outcome.result != Outcome::Mapped || !outcome.gateway)
        return;
    const std::shared_ptr<PortGateway> gateway = outcome.gateway;
    for (int offset : request.offsets)
        gateway->unmap(request.insideBase + offset, outcome.outsideBase + offset);
}

std::shared_ptr<PortGateway> RouterMapping::gatewayFor(const QString &protocol, const Request &request)
{
    if (protocol == QLatin1String("UPnP"))
        return std::make_shared<UpnpGateway>(request.routerAddress, request.searchMs);
    return std::make_shared<NatPmpGateway>(request.answerMs);
}
