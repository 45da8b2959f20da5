#pragma once

#include "directory/DirectoryProtocol.h"

#include <QString>
#include <QVector>
#include <optional>

// How one companion server runs: where it listens, what it tells its users, how many it
// takes and where it keeps the user numbers.
struct ServerConfig
{
    // Numeric address to listen on; empty for every interface.
    QString listenAddress;
    int directoryPort = 2010;
    int palPort = 2015;
    // The answer to "INT".
    QString notice;
    // Sent as "VCL" after each directory login.
    QVector<DirectoryProtocol::ServerEntry> servers;
    // Users on line beyond this are turned away: "RDM" to the redirect target when there
    // is one, else "BSY".
    int maxUsers = 10000;
    std::optional<DirectoryProtocol::ServerEntry> redirect;
    // Folder of the user-number database.
    QString dataDir;

    // "HOST:PORT:DESCRIPTION" (the description may hold ":" itself, and may be missing).
    // Nothing when the host is empty or the port is not 1 to 65535.
    static std::optional<DirectoryProtocol::ServerEntry> parseTarget(const QString &text);
};
