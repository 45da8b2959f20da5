#pragma once

#include <QByteArray>
#include <QString>

// One HTTP GET of a router's description, blocking on the worker thread and bounded in
// both ways: a description larger than maxBytes, or one that has not wholly come within
// timeMs of the start, is no description. Anything on the home network can answer the
// router search, so nothing it sends may hold memory or the worker for long.
class DescriptionFetch
{
public:
    static constexpr qint64 MaxBytes = 128 * 1024;
    static constexpr int TimeMs = 3000;

    struct Result
    {
        bool ok = false;
        QByteArray body;
        // This machine's address on the connection: the one the router is to forward to.
        QString localAddress;
        // The address the description came from, as connected to.
        QString peerAddress;
        QString why;
    };

    static Result get(const QString &url, qint64 maxBytes = MaxBytes, int timeMs = TimeMs);
};
