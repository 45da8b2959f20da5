#pragma once

#include "core/ChannelDialer.h"

#include <QObject>

#include <functional>

class CallPath;
class SecureDialer;

// The call channels' dialer when the directory server may find a path: a peer that can be
// called directly is called so, as always; one that cannot (its encrypted port keeps silent
// or refuses) is reached over the path found meanwhile (see PathFinder). The call's other
// channels follow its control connection: over the same path, or directly.
class PathDialer : public QObject, public ChannelDialer
{
    Q_OBJECT

public:
    // The path being found or found to the peer that listens at (dotted address, base
    // port), if any.
    using PathLookup = std::function<CallPath *(const QString &address, int basePort)>;

    PathDialer(SecureDialer &direct, PathLookup paths, QObject *parent = nullptr);

    std::unique_ptr<QObject> dial(const QHostAddress &address, int port, PeerChannel channel,
                                  std::function<void(Outcome)> done) override;

signals:
    // A call's control connection to the peer at (address, base port) is made, over this
    // path, or directly when there is none.
    void callWayKnown(const QString &address, int basePort, CallPath *path);

private:
    class Attempt;

    SecureDialer &m_direct;
    PathLookup m_paths;
};
