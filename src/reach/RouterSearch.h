#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QString>

// The UPnP search for the home router (a multicast M-SEARCH), blocking on the worker
// thread within timeMs. Anything on the home network can answer it, so only answers from
// the default gateway that point at the gateway itself are taken; the others are counted
// and dropped, and nothing of them is kept.
class RouterSearch
{
public:
    struct Result
    {
        // The description address on the gateway; empty when it did not answer.
        QByteArray location;
        // Answers dropped: from another address, or pointing away from the gateway.
        int ignored = 0;
        QString firstIgnoredFrom;
        // Set when the search could not be sent at all.
        QString why;
    };

    static Result search(const QHostAddress &gateway, int timeMs);

    // The location of an answer when it is one that may be taken from that gateway.
    static QByteArray locationIn(const QByteArray &answer, const QHostAddress &gateway);
};
