#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>

#include <functional>

// The server's side of the reachability check: it tries a TCP connection back to the
// address a client is seen at, on the port the client names, and answers whether it
// opened. Only ever the asker's own address, and only a bounded number at once, so the
// server cannot be used to probe anyone else.
class ReachabilityProbe : public QObject
{
    Q_OBJECT

public:
    explicit ReachabilityProbe(QObject *parent = nullptr);

    // Handles the request when it is one (true), calling `answer` with the reply once it
    // is known; anything else is left to the caller (false).
    bool handle(const QByteArray &message, const QString &peerAddress,
                const std::function<void(const QByteArray &)> &answer);

    static constexpr int TimeoutMs = 4000;
    static constexpr int MaxAtOnce = 32;

private:
    int m_running = 0;
};
