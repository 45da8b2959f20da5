#pragma once

#include <QString>

// One way of asking a home router for forwarded ports. Every call blocks (each is bounded
// by a time-out of its own), so they run on a worker thread, never on the window's.
class PortGateway
{
public:
    // What the router said to one request.
    struct Grant
    {
        bool ok = false;
        int outsidePort = 0;
        int leaseSeconds = 0;
        // The port is forwarded to another machine already: try another.
        bool taken = false;
        QString text;
    };

    virtual ~PortGateway() = default;

    // "UPnP" or "NAT-PMP".
    virtual QString protocol() const = 0;
    // Finds the router; false with the reason, and *noAnswer when nothing answered at all
    // (as against an answer that made no sense).
    virtual bool find(QString *why, bool *noAnswer) = 0;
    // One line on what find() met beside its result (answers it did not believe); empty
    // when there is nothing to say.
    virtual QString notice() const { return {}; }
    // The router's outside address and this machine's address towards it, once found.
    virtual QString outsideAddress() const = 0;
    virtual QString insideAddress() const = 0;
    virtual Grant map(int insidePort, int outsidePort, int leaseSeconds) = 0;
    virtual void unmap(int insidePort, int outsidePort) = 0;
};
