#pragma once

#include <QByteArray>
#include <QString>

// One HTTP exchange with the home router (its description, or one control request),
// blocking on the worker thread and bounded in both ways: an answer larger than maxBytes,
// or one that has not wholly come within timeMs of the start, is no answer. Anything on
// the home network may pose as the router, so nothing it sends may hold memory or the
// worker for long.
class RouterHttp
{
public:
    static constexpr qint64 MaxDescriptionBytes = 128 * 1024;
    // Control answers carry a few short values.
    static constexpr qint64 MaxAnswerBytes = 16 * 1024;
    static constexpr int TimeMs = 3000;

    struct Result
    {
        // A whole answer came (for get(), one with status 200).
        bool ok = false;
        int status = 0;
        QByteArray body;
        // This machine's address on the connection: the one the router is to forward to.
        QString localAddress;
        // The address the answer came from, as connected to.
        QString peerAddress;
        QString why;
    };

    static Result get(const QString &url, qint64 maxBytes = MaxDescriptionBytes, int timeMs = TimeMs);
    // A SOAP request; an answer of any status is taken, as faults come with status 500.
    static Result post(const QString &url, const QByteArray &soapAction, const QByteArray &body,
                       qint64 maxBytes = MaxAnswerBytes, int timeMs = TimeMs);

private:
    static Result exchange(const QString &url, const QByteArray &method, const QByteArray &headers,
                           const QByteArray &body, const QString &what, qint64 maxBytes, int timeMs);
};
