#pragma once

#include "core/ChannelDialer.h"
#include "tls/TlsSetup.h"

#include <QHash>
#include <QObject>
#include <QString>

#include <functional>

// The client's side of the directory and pal connections. Both go over TLS on the server's
// encrypted ports (each published port + PortPlan::EncryptedOffset), showing this program's
// key, so the server can bind the user's e-mail and number to it; the server's key is
// pinned at first use, for each address and published port. Then:
// - the pinned key answers: the connection is handed over encrypted;
// - another key answers (and no certificate authority vouches for it under the server's
//   name): nothing is sent; keyChanged() says so, and the user may accept the new key;
// - no TLS answers from a server that answered with TLS before: nothing is sent either
//   (anything else would let whoever sits in between turn TLS off);
// - no TLS answers from a server never seen with TLS (an older server has nothing on the
//   encrypted port and refuses at once): the connection goes plain on the published port,
//   marked as not private, and the server sees only the published texts.
class DirectoryDialer : public QObject, public ChannelDialer
{
    Q_OBJECT

public:
    // An encrypted port that neither refuses nor answers (a firewall that drops) is waited
    // for this long, and then taken as missing.
    static constexpr int ConnectMs = 3000;
    // A server that took the connection on its encrypted port speaks TLS there; its
    // handshake is given this long, as a busy machine or a slow line may need seconds.
    static constexpr int HandshakeMs = 10000;

    struct Context
    {
        std::function<TlsSetup::Credentials()> credentials;
        // The key pinned for a server's "address:port" (empty: none yet), and pinning one.
        std::function<QByteArray(const QString &address)> pinnedKey;
        std::function<void(const QString &address, const QByteArray &key)> pin;
        // The name the user gave the server, which a certificate authority's certificate
        // must name.
        std::function<QString()> hostName;
    };

    explicit DirectoryDialer(Context context, QObject *parent = nullptr);

    std::unique_ptr<QObject> dial(const QHostAddress &address, int port, PeerChannel channel,
                                  std::function<void(Outcome)> done) override;

    void setHostName(std::function<QString()> hostName) { m_context.hostName = std::move(hostName); }

    // The user accepts the new keys servers showed (the one in the window's question): they
    // are pinned.
    void acceptOfferedKeys();
    // The key a server showed that differs from the pinned one (empty: none).
    QByteArray offeredKey(const QString &address) const { return m_offered.value(address); }

    // What the status says about a server whose key changed.
    static QString keyChangedText(const QString &address);
    static QString noLongerEncryptedText(const QString &address);
    // The name a server's key is kept under among the known peers.
    static QString pinName(const QString &address);

signals:
    void keyChanged(const QString &address, const QByteArray &pinned, const QByteArray &offered);
    // Nothing was sent to the server: its key changed, or it stopped answering encrypted.
    void blocked(const QString &text, bool keyChanged);
    // How the last connection went: encrypted, or plain to a server never seen with TLS.
    void privacyKnown(bool encrypted);

private:
    class Attempt;
    friend class Attempt;
    void finish(const QString &address, const QByteArray &key, bool encrypted);

    Context m_context;
    QHash<QString, QByteArray> m_offered;
};
