#include "secure/SecurityService.h"

#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "core/LineFile.h"
#include "core/PeerChannel.h"
#include "secure/CallSecurity.h"
#include "secure/DirectoryDialer.h"
#include "secure/SecureDialer.h"
#include "secure/SecureListener.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSslSocket>

SecurityService::SecurityService(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_listener(new SecureListener([this] { return credentials(); }, this))
    , m_dialer(new SecureDialer({[this] { return credentials(); }, [this] { return m_settings.OnlyEncrypted; },
                                 [this](const QString &address) { return m_peers.answeredEncryptedFrom(address); },
                                 m_.currentFormats},
                                this))
    , m_directoryDialer(new DirectoryDialer(
          {[this] { return credentials(); },
           [this](const QString &address) { return directoryKey(address); },
           [this](const QString &address, const QByteArray &key) {
               m_directoryKeys.remember(DirectoryDialer::pinName(address), key, address);
               saveDirectoryKeys();
           },
           {}},
          this))
    , m_call(new CallSecurity(m_.ippControl, m_.ipdControl, m_peers, [this] { savePeers(); }, this))
{
    m_listener->setCurrentFormats(m_.currentFormats);
    connect(m_listener, &SecureListener::handedOver, this, &SecurityService::handedOver);
    connect(m_dialer, &SecureDialer::plainCallRefused, this, [this](const QString &address) {
        m_.logLine(QStringLiteral("Call to ") + address + QStringLiteral(" not placed: it is not encrypted"));
        emit notice(tr("The call to %1 was not placed: only encrypted calls are allowed (Options), and "
                       "the other program does not answer encrypted calls.")
                        .arg(address));
    });
}

SecurityService::~SecurityService() = default;

QString SecurityService::path(const QString &fileName) const
{
    return QDir(m_.profileDir).filePath(fileName);
}

void SecurityService::start()
{
    m_settings.load(path(SecuritySettings::FileName));
    loadPeers();

    // The TLS library loads now rather than during the first call's attempt.
    if (!QSslSocket::supportsSsl())
        m_.logLine(QStringLiteral("Calls cannot be encrypted: the TLS library is missing"));

    const QString keyFile = path(Identity::FileName);
    const Identity::Check check = m_identity.load(keyFile);
    if (check == Identity::Check::Ready)
        return;
    if (check == Identity::Check::NoKeyModule) {
        const QString why = m_identity.keyModuleProblem();
        m_.logLine(QStringLiteral("Calls cannot be encrypted: ") + why);
        emit notice(tr("Calls cannot be encrypted: %1. Installing ZELMO again mends this.").arg(why));
        return;
    }
    if (check != Identity::Check::Missing) {
        // Never silently: the user hears of it before the key is replaced.
        m_.logLine(Identity::problemText(check, keyFile, Identity::Language::English));
        emit notice(Identity::problemText(check, keyFile));
    }
    if (const FileError e = m_identity.create(keyFile)) {
        const QString why = QString::number(e.code) + QStringLiteral(" : ") + e.description;
        m_.logLine(QStringLiteral("Could not make a key for encrypted calls, ") + why
                   + QStringLiteral(". Calls will not be encrypted."));
        emit notice(tr("Could not make a key for encrypted calls, %1. Calls will not be encrypted.").arg(why));
        return;
    }
    if (check == Identity::Check::Missing)
        m_.logLine(QStringLiteral("Made a new key for encrypted calls"));
}

EndpointError SecurityService::listen(int basePort)
{
    const int port = PortPlan::encrypted(basePort);
    const EndpointError e = m_listener->listen(port);
    if (e) {
        m_.logLine(QStringLiteral("Encrypted calls cannot be answered: port ")
                        + QString::number(port) + QStringLiteral(" is not free, ")
                        + QString::number(e.code) + QLatin1Char(' ') + e.description);
    }
    return e;
}

void SecurityService::shutdown()
{
    m_listener->close();
}

bool SecurityService::adopt(int descriptor, const QHostAddress &peer)
{
    return m_listener->adopt(descriptor, peer);
}

void SecurityService::route(PeerChannel channel, IPDaemon &listener)
{
    m_listener->route(channel, listener);
}

void SecurityService::guardCallChannel(IPDaemon &listener)
{
    listener.setAdmission([this](const ChannelSecurity &security) { return m_call->belongsToCall(security); });
}

void SecurityService::attachDirectoryClient(IPPort &client)
{
    client.setDialer(m_directoryDialer, PeerChannel::Control);
}

QByteArray SecurityService::directoryKey(const QString &address) const
{
    const std::optional<KnownPeers::Peer> peer = m_directoryKeys.find(DirectoryDialer::pinName(address));
    return peer ? peer->key : QByteArray();
}

QString SecurityService::exportKey(const QString &file, const QString &passphrase)
{
    if (passphrase.isEmpty())
        return tr("A passphrase is needed to protect the key.");
    const QByteArray text = m_identity.exported(passphrase.toUtf8());
    if (text.isEmpty())
        return tr("This program has no key to export.");
    if (const FileError e = LineFile::writeBytes(file, text, LineFile::Access::OwnerOnly))
        return tr("The key could not be written, %1 : %2").arg(e.code).arg(e.description);
    m_.logLine(QStringLiteral("Exported the key to ") + file);
    return {};
}

QString SecurityService::importKey(const QString &file, const QString &passphrase)
{
    QFile in(file);
    if (!in.open(QIODevice::ReadOnly))
        return tr("The file %1 cannot be read: %2").arg(file, in.errorString());
    const QByteArray pem = Identity::imported(in.read(Identity::MaxFileBytes), passphrase.toUtf8());
    if (pem.isEmpty())
        return tr("The passphrase is wrong, or the file holds no ZELMO key.");
    const QString keyFile = path(Identity::FileName);
    if (const FileError e = m_identity.adopt(keyFile, pem))
        return tr("The key could not be used, %1 : %2").arg(e.code).arg(e.description);
    m_.logLine(QStringLiteral("Imported the key from %1; the previous one is kept as %2")
                        .arg(file, keyFile + Identity::SetAsideSuffix));
    return {};
}

void SecurityService::setOnlyEncrypted(bool on)
{
    if (m_settings.OnlyEncrypted == on)
        return;
    m_settings.OnlyEncrypted = on;
    QString why;
    if (!m_settings.save(path(SecuritySettings::FileName), &why))
        m_.logLine(QStringLiteral("Could not save the encryption setting: ") + why);
}

PeerStanding SecurityService::judgeSender(const ChannelSecurity &security, const QString &address)
{
    if (!security.encrypted())
        return PeerStanding::Unknown;
    // Judged only: anyone can send a message naming anyone, so what is remembered changes
    // in a call, where the user sees the four words, or by the user's own hand.
    return m_peers.standing(KnownPeers::whoOf(security.peerEmail, address), security.peerKey);
}

QString SecurityService::messageText(const ChannelSecurity &security, PeerStanding standing)
{
    if (!security.encrypted())
        return tr("Not encrypted");
    const QString claimed = security.peerEmail.trimmed();
    switch (standing) {
    case PeerStanding::Verified:
        return tr("Encrypted, from the sender's verified key");
    case PeerStanding::Known:
        return tr("Encrypted, from a key not verified");
    case PeerStanding::Changed:
        return claimed.isEmpty()
                   ? tr("Encrypted, from an unknown key, not the one remembered for this address")
                   : tr("Encrypted, from an unknown key that claims to be %1, not the one remembered for that name")
                         .arg(claimed);
    case PeerStanding::New:
    case PeerStanding::Unknown:
        break;
    }
    return claimed.isEmpty() ? tr("Encrypted, from an unknown key")
                             : tr("Encrypted, from an unknown key that claims to be %1").arg(claimed);
}

TlsSetup::Credentials SecurityService::credentials()
{
    return m_identity.credentials(m_.ownEmail ? m_.ownEmail() : QString());
}

void SecurityService::loadPeers()
{
    // A link where a list should be is not read nor written through: it goes aside, and
    // the user hears of it.
    for (const QString &name : {KnownPeers::FileName, DirectoryKeysFile}) {
        const QString file = path(name);
        if (!LineFile::setAsideLink(file))
            continue;
        m_.logLine(QStringLiteral("The list %1 was a link to another file, so it is not used; the link is kept as %2")
                       .arg(file, file + LineFile::LinkSuffix));
        emit notice(tr("The list %1 was a link to another file, so it is not used; the link is kept as %2")
                        .arg(file, file + LineFile::LinkSuffix));
    }
    m_peers.load(path(KnownPeers::FileName));
    const bool pinsKept = QFileInfo::exists(path(DirectoryKeysFile));
    m_directoryKeys.load(path(DirectoryKeysFile));
    // Earlier versions kept the servers' pins among the peers. They move into their own
    // file when it does not exist yet; a peer can no longer be known by such a name, so
    // any found later are dropped.
    const QList<KnownPeers::Peer> servers = m_peers.takeNamed(KnownPeers::ServerPrefix);
    if (servers.isEmpty())
        return;
    if (!pinsKept) {
        for (const KnownPeers::Peer &server : servers)
            m_directoryKeys.remember(server.who, server.key, server.lastAddress);
        saveDirectoryKeys();
    }
    savePeers();
}

void SecurityService::saveDirectoryKeys()
{
    if (const FileError e = m_directoryKeys.save(path(DirectoryKeysFile)))
        m_.logLine(QStringLiteral("Could not save the directory servers' keys, ") + QString::number(e.code)
                   + QStringLiteral(" : ") + e.description);
}

void SecurityService::savePeers()
{
    if (const FileError e = m_peers.save(path(KnownPeers::FileName)))
        m_.logLine(QStringLiteral("Could not save the known peers, ") + QString::number(e.code)
                        + QStringLiteral(" : ") + e.description);
}
