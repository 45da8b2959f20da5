#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <utility>

// The router's port forwarding service spoken to in SOAP: the request built here, sent
// through RouterHttp (so its answer is bounded in size and time), and the answer's values
// read back.
class UpnpSoap
{
public:
    struct Answer
    {
        bool ok = false;
        // The router's UPnP error code when it refused; 0 otherwise.
        int errorCode = 0;
        // The answer's values by name (NewExternalIPAddress, ...).
        QHash<QString, QString> values;
        QString why;
    };
    using Arguments = QList<std::pair<QByteArray, QString>>;

    // An answer carries a handful of values; more is not an answer to anything asked.
    static constexpr int MaxValues = 32;
    static constexpr int MaxValueChars = 256;

    static Answer call(const QString &controlUrl, const QByteArray &serviceType, const QByteArray &action,
                       const Arguments &arguments = {});

    static QByteArray envelope(const QByteArray &serviceType, const QByteArray &action, const Arguments &arguments);
    // Reads an answer of that HTTP status.
    static Answer read(int status, const QByteArray &body);
    // Whether a service type from a description may go into a request as it is.
    static bool isPlainName(const QByteArray &text);
};
