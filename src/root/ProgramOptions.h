#pragma once

#include "core/PeerChannel.h"

#include <QString>
#include <QStringList>

// How a program is started: the binary passes the published base port and the user's profile folder; a test
// passes ports and a folder of its own, so two programs can run in one process.
struct ProgramOptions
{
    int firstPort = PortPlan::PublishedBase;
    QString profileDir;
    // The address given on the command line, called at once.
    QString callAddress;
    bool testDevices = false;
    // Deal with the home router and the reachability check: the binary does; a program
    // embedded in a test on the host's own network leaves the network's routers alone.
    bool reachability = false;
    // Where the datagram media module is looked for; empty: where the program's modules are
    // installed (a test names a folder without it).
    QStringList datagramModuleFolders = {};
};
