#pragma once

#include "core/ChannelDialer.h"
#include "tls/TlsSetup.h"

#include <QList>
#include <QObject>

class QSslSocket;
class QTimer;

// One try of a dialer at a TLS connection: its socket, the timer that bounds it, and the
// rule that it reports once, from the event loop; an encrypted socket that comes after the
// report is closed.
class DialAttempt : public QObject
{
public:
    using Outcome = ChannelDialer::Outcome;

    ~DialAttempt() override;

    // Decided without trying: reported from the event loop all the same.
    void decide(Outcome outcome);

protected:
    DialAttempt() = default;

    // Makes the socket for `own`, speaking `channels` (or takes `socket`, already connected),
    // and the (stopped) timer.
    // With `currentFormats` a media connection offers today's formats too.
    void prepare(const TlsSetup::Credentials &own, const QList<PeerChannel> &channels, QSslSocket *socket = nullptr,
                 bool currentFormats = false);
    // What the finished handshake proved; empty when it proved nothing.
    ChannelSecurity security() const;
    // The encrypted outcome: the socket is the receiver's from now on.
    Outcome handOver(const ChannelSecurity &security);
    void conclude(Outcome outcome);
    bool concluded() const { return m_concluded; }
    // Where the outcome goes, once.
    virtual void report(Outcome outcome) = 0;

    QSslSocket *m_socket = nullptr;
    QTimer *m_timer = nullptr;

private:
    TlsSetup::Credentials m_own;
    bool m_concluded = false;
};
