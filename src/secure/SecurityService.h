#pragma once

#include "core/ChannelSecurity.h"
#include "core/EndpointError.h"
#include "tls/Identity.h"
#include "secure/KnownPeers.h"
#include "secure/SecuritySettings.h"

#include <QObject>
#include <QString>

#include <functional>

class CallSecurity;
class ChannelDialer;
class DirectoryDialer;
class IPDaemon;
class IPPort;
class SecureDialer;
class QHostAddress;
class SecureListener;

// Encryption for the peer channels: this program's key, the peers it knows, the encrypted
// port that serves all four channels, the dialer that tries it first, and what the call at
// hand and each quick message are told about. The channels themselves do not change: their
// endpoints carry encrypted connections exactly as they carry plain ones.
class SecurityService : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        // The profile folder: the key, the known peers and the setting live there.
        QString profileDir;
        // The user's e-mail address, which the certificate names.
        std::function<QString()> ownEmail;
        std::function<void(const QString &)> logLine;
        // The call's control endpoints.
        IPPort &ippControl;
        IPDaemon &ipdControl;
        // A call's media channel may agree on today's picture and sound formats (none: never).
        std::function<bool()> currentFormats = {};
    };

    explicit SecurityService(Context context, QObject *parent = nullptr);
    ~SecurityService() override;

    // The key (made when missing; a damaged or exposed one is reported before a new one is
    // made), the known peers and the setting.
    void start();
    // The encrypted port: PortPlan::encrypted(basePort).
    EndpointError listen(int basePort);
    void shutdown();

    // Encrypted connections for the channel go to this listener.
    void route(PeerChannel channel, IPDaemon &listener);
    // The call's media or chat listener takes only connections of the call's own key.
    void guardCallChannel(IPDaemon &listener);
    // The directory or pal client goes over TLS on the server's own port.
    void attachDirectoryClient(IPPort &client);
    DirectoryDialer &directoryDialer() { return *m_directoryDialer; }
    // The key pinned for the directory server at "address:port" (empty: none yet). The pins
    // are kept in a file of their own, apart from the peers: nothing a peer shows can
    // touch them, only the directory connection itself.
    QByteArray directoryKey(const QString &address) const;
    const KnownPeers &directoryKeys() const { return m_directoryKeys; }
    static inline const QString DirectoryKeysFile = QStringLiteral("directory-keys.dat");

    // Moving this program's key: written protected by the passphrase, or read from such a
    // file, replacing the key in use (the old one is set aside). Empty text on success,
    // else what went wrong.
    QString exportKey(const QString &file, const QString &passphrase);
    QString importKey(const QString &file, const QString &passphrase);

    CallSecurity &call() { return *m_call; }
    // This program's key, as the peers and the directory server see it.
    const Identity &identity() const { return m_identity; }
    KnownPeers &knownPeers() { return m_peers; }
    // The clients' way out: the encrypted port of the peer first, then as the setting allows.
    SecureDialer &dialer() { return *m_dialer; }
    // A connection that reached this program another way (a call's path) goes through the
    // encrypted port's handshake as if it had come to the port. Whether it was taken.
    bool adopt(int descriptor, const QHostAddress &peer);

    bool onlyEncrypted() const { return m_settings.OnlyEncrypted; }
    // Saved at once.
    void setOnlyEncrypted(bool on);

    // A quick message has arrived on a connection: how its sender's key stands. Nothing is
    // remembered from it.
    PeerStanding judgeSender(const ChannelSecurity &security, const QString &address);
    // What the message viewer says about how a message came.
    static QString messageText(const ChannelSecurity &security, PeerStanding standing);

    QString path(const QString &fileName) const;

signals:
    // Something the user must be told: a key file that could not be used, a call refused
    // or not placed because it was not encrypted.
    void notice(const QString &text);
    // The encrypted port has handed a connection over to the channel's listener.
    void handedOver(PeerChannel channel, const QString &address);

private:
    TlsSetup::Credentials credentials();
    void savePeers();
    void saveDirectoryKeys();
    void loadPeers();

    Context m_;
    Identity m_identity;
    KnownPeers m_peers;
    KnownPeers m_directoryKeys;
    SecuritySettings m_settings;
    SecureListener *m_listener;
    SecureDialer *m_dialer;
    DirectoryDialer *m_directoryDialer;
    CallSecurity *m_call;
};
