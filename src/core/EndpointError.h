#pragma once

#include <QString>

// The outcome of an endpoint property write. Code 0 means success; any other code
// comes with a description, and callers show "text" + code + " " + description.
struct EndpointError
{
    int code = 0;
    QString description;

    explicit operator bool() const { return code != 0; }

    // Numbers reported by the endpoints; callers only compare against these names.
    static constexpr int PortInUse = 25049;
    static constexpr int NoNetwork = 26005;
    static constexpr int HostNotFound = 11001;
    static constexpr int InvalidArgument = 10022;
    static constexpr int ConnectionRefused = 10061;
    static constexpr int TimedOut = 10060;
    static constexpr int ConnectionReset = 10054;
    static constexpr int NotConnected = 10057;
    static constexpr int SocketError = 10050;
    // Only encrypted calls are allowed and the peer does not answer encrypted.
    static constexpr int NotEncrypted = 10013;
};
