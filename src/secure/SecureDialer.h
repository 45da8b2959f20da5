#pragma once

#include "core/ChannelDialer.h"
#include "tls/TlsSetup.h"

#include <QList>
#include <QObject>
#include <QString>

#include <functional>

// The caller's side of the encrypted way. A control connection (or a quick message) first
// tries the peer's encrypted port, base + PortPlan::EncryptedOffset, where no program that
// speaks only the plain protocol listens: a refusal there means plain at once, silence (a
// firewall that drops it) plain after PlainAnswerMs (under half a second), or
// KnownPeerWaitMs when a peer answered encrypted from that address before. A second
// connection request goes out early beside the first, since the system repeats a lost one
// only after a second. A handshake that fails after something answered also ends plain,
// marked as a fallback. The media and chat connections of a call follow its control
// connection: encrypted to the very key the control connection saw (or not at all), or
// plain at once.
//
// With only encrypted calls allowed, a call's connection that would go plain is refused
// instead. Quick messages are not calls: they still go plain to an older program.
class SecureDialer : public QObject, public ChannelDialer
{
    Q_OBJECT

public:
    static constexpr int PlainAnswerMs = 450;
    static constexpr int KnownPeerWaitMs = 3000;
    static constexpr int HandshakeMs = 8000;

    struct Context
    {
        // This program's side of each handshake when it starts.
        std::function<TlsSetup::Credentials()> credentials;
        std::function<bool()> onlyEncryptedCalls;
        // A peer answered encrypted from this address before.
        std::function<bool(const QString &address)> answeredEncryptedFrom;
        // A media connection offers today's picture and sound formats (none: never).
        std::function<bool()> currentFormats = {};
    };

    explicit SecureDialer(Context context, QObject *parent = nullptr);

    std::unique_ptr<QObject> dial(const QHostAddress &address, int port, PeerChannel channel,
                                  std::function<void(Outcome)> done) override;

    // The same for a peer that a path is being found to meanwhile: the encrypted port's
    // silence is given up on after PlainAnswerMs even where the peer answered encrypted
    // before, since the path, not a plain call, is what follows it (a peer called over a
    // path before would otherwise cost every later call KnownPeerWaitMs).
    std::unique_ptr<QObject> dialBesidePath(const QHostAddress &address, int port, PeerChannel channel,
                                            std::function<void(Outcome)> done);

    // The same over a path already found (a local socket whose other end carries the
    // channel to the peer known as address:port): encrypted or refused, never plain. The
    // descriptor is the dialer's from now on.
    std::unique_ptr<QObject> dialOver(int descriptor, const QHostAddress &address, int port, PeerChannel channel,
                                      std::function<void(Outcome)> done);

    // Tests shorten the waits.
    void setWaits(int plainAnswerMs, int knownPeerWaitMs, int handshakeMs);

    // Text for a call the setting kept from going plain.
    static QString notEncryptedText();

signals:
    // A call was not placed because the peer does not answer encrypted.
    void plainCallRefused(const QString &address);

private:
    class Attempt;

    // What the last control connection to a peer's base port turned out to be.
    struct Binding
    {
        QString address;
        int basePort = 0;
        bool encrypted = false;
        QByteArray key;
    };
    std::unique_ptr<QObject> dialDirect(const QHostAddress &address, int port, PeerChannel channel,
                                        std::function<void(Outcome)> done, bool besidePath);
    const Binding *binding(const QString &address, int basePort) const;
    void bind(const Binding &binding);
    void forget(const QString &address, int basePort);
    void finish(Attempt *attempt, Outcome outcome);
    bool offersCurrentFormats(PeerChannel channel) const;

    Context m_context;
    QList<Binding> m_bindings;
    int m_plainAnswerMs = PlainAnswerMs;
    int m_knownPeerWaitMs = KnownPeerWaitMs;
    int m_handshakeMs = HandshakeMs;
};
