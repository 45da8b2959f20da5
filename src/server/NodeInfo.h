#pragma once

#include "protocol/DirectoryProtocol.h"

#include <QString>

// One node of a directory service as the registry knows it: where users reach it, how
// full it is and what it has been doing, as of its last report.
struct NodeInfo
{
    QString id;
    // Host, directory port and description, as the server list ("VCL") shows them.
    DirectoryProtocol::ServerEntry directory;
    int palPort = 0;
    int users = 0;
    int listed = 0;
    int connections = 0;
    int maxUsers = 0;
    double loginsPerSecond = 0;
    double lookupsPerSecond = 0;
    double listsPerSecond = 0;
    // How long ago the node last reported, as the registry saw it, and how long its
    // users count after a report.
    qint64 reportAgeMs = 0;
    int expiryMs = 0;
    // Its users count: its expiry lies ahead.
    bool up = true;
    bool self = false;

    bool hasRoom() const { return users < maxUsers; }
};
