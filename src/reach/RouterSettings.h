#pragma once

#include <QString>

// The choices about asking the home router for ports, in a file of their own in the
// profile folder so that "zelmo.ini" keeps exactly the keys every other build reads.
struct RouterSettings
{
    static inline const QString FileName = QStringLiteral("router.ini");

    // Ask the router on the local network to forward this program's ports to it.
    bool AskRouter = true;
    // The router's description address ("http://192.168.1.1:5000/rootDesc.xml") for a router
    // that does not answer the search on the local network; empty means search.
    QString RouterAddress;

    // Missing file or key: the default.
    void load(const QString &path);
    // Writes the file atomically.
    bool save(const QString &path, QString *errorText = nullptr) const;
};
