#pragma once

#include "core/PeerChannel.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <memory>

class PortGateway;

// Asks the home router for a block of forwarded ports that keeps the offsets of this
// program's listeners (callers derive every channel's port from the first), and gives it
// back. Blocking: it runs on a worker thread, each step bounded by the gateway's time-outs.
class RouterMapping
{
public:
    struct Request
    {
        int insideBase = PortPlan::PublishedBase;
        // The outside block to try first; 0 for the inside one.
        int preferredOutsideBase = 0;
        QList<int> offsets;
        int leaseSeconds = 3600;
        // Empty: search the local network.
        QString routerAddress;
        int searchMs = 2000;
        int answerMs = 2000;
    };

    struct Outcome
    {
        enum Result {
            Mapped,
            NoRouter,
            // The router answered and said no.
            Refused,
            // The router's answers made no sense.
            Garbage,
            // The router's own outside address is private: another router is in front.
            PrivateOutside,
            // The router gave the ports for no time at all.
            NoLease,
        };
        Result result = NoRouter;
        QString protocol;
        QString outsideAddress;
        QString insideAddress;
        int outsideBase = 0;
        int leaseSeconds = 0;
        QString detail;
        // What was tried, for the activity log.
        QStringList steps;
        // The router that gave the block, kept to give it back without searching again.
        std::shared_ptr<PortGateway> gateway;
    };

    // Tries UPnP, then NAT-PMP.
    static Outcome map(const Request &request);
    // Gives back the block an earlier map() got.
    static void unmap(const Request &request, const Outcome &outcome);

    // The same with one gateway, given.
    static Outcome mapWith(PortGateway &gateway, const Request &request);

    // How many other blocks are tried when a port of the block is taken.
    static constexpr int BlockAttempts = 8;
    static constexpr int BlockStep = 4;

private:
    static std::shared_ptr<PortGateway> gatewayFor(const QString &protocol, const Request &request);
};
