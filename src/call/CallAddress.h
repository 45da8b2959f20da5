#pragma once

#include "core/PeerChannel.h"

#include <QString>

// An address the user typed to call: "host", "192.0.2.7", "host:2100", "[2001:db8::1]:2100"
// or a bare IPv6 address. A plain host calls the default port; a given port replaces it
// for users behind a port mapping.
struct CallAddress
{
    static constexpr int DefaultPort = PortPlan::PublishedBase;

    QString host;
    int port = 0;
    // False for an empty host, a broken bracket or a port that is not 1 to 65535.
    bool valid = false;

    // Surrounding blanks are ignored. defaultPort is checked like a typed port.
    static CallAddress parse(const QString &typed, int defaultPort = DefaultPort);

    // An e-mail address is looked up at the directory server instead of being called.
    static bool isEmailAddress(const QString &typed);
};
