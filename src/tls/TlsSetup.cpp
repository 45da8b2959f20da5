#include "tls/TlsSetup.h"

#include <QCryptographicHash>
#include <QSslSocket>
#include <QStringList>

namespace TlsSetup {

namespace {

constexpr PeerChannel AllChannels[] = {PeerChannel::Control, PeerChannel::Media, PeerChannel::Message,
                                       PeerChannel::Chat};

} // namespace

QByteArray protocolName(PeerChannel channel)
{
    switch (channel) {
    case PeerChannel::Control:
        return QByteArrayLiteral("zelmo1-control");
    case PeerChannel::Media:
        return QByteArrayLiteral("zelmo1-media");
    case PeerChannel::Message:
        return QByteArrayLiteral("zelmo1-message");
    case PeerChannel::Chat:
        return QByteArrayLiteral("zelmo1-chat");
    }
    return {};
}

QByteArray currentMediaProtocol()
{
    return QByteArrayLiteral("zelmo2-media");
}

QByteArray datagramMediaProtocol()
{
    return QByteArrayLiteral("zelmo3-media");
}

std::optional<PeerChannel> channelOf(const QByteArray &name)
{
    if (name == currentMediaProtocol() || name == datagramMediaProtocol())
        return PeerChannel::Media;
    for (const PeerChannel channel : AllChannels) {
        if (protocolName(channel) == name)
            return channel;
    }
    return std::nullopt;
}

QSslConfiguration configuration(const Credentials &own, const QList<PeerChannel> &channels, bool currentFormats)
{
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setProtocol(QSsl::TlsV1_3OrLater);
    c.setLocalCertificate(own.certificate);
    c.setPrivateKey(own.key);
    // Ask for the other side's certificate without judging it by any authority: the key's
    // fingerprint is what counts, and the handshake has already proved the other side holds it.
    c.setPeerVerifyMode(QSslSocket::QueryPeer);
    c.setCaCertificates({});
    QList<QByteArray> names;
    // The one that asks names it first: the answering end takes the first name it knows.
    if (currentFormats && channels.contains(PeerChannel::Media)) {
        names.append(datagramMediaProtocol());
        names.append(currentMediaProtocol());
    }
    for (const PeerChannel channel : channels)
        names.append(protocolName(channel));
    c.setAllowedNextProtocols(names);
    return c;
}

QByteArray fingerprint(const QSslCertificate &certificate)
{
    if (certificate.isNull())
        return {};
    return keyFingerprint(certificate.publicKey().toDer());
}

QByteArray keyFingerprint(QByteArrayView publicKeyInfo)
{
    if (publicKeyInfo.isEmpty())
        return {};
    return QCryptographicHash::hash(publicKeyInfo, QCryptographicHash::Sha256);
}

QString fingerprintText(const QByteArray &fingerprint)
{
    const QByteArray hex = fingerprint.toHex();
    QStringList groups;
    for (qsizetype i = 0; i < hex.size(); i += 4)
        groups << QString::fromLatin1(hex.mid(i, 4));
    return groups.join(QLatin1Char(' '));
}

ChannelSecurity securityOf(const QSslSocket &socket, const QByteArray &ownFingerprint)
{
    const QSslCertificate peer = socket.peerCertificate();
    ChannelSecurity security;
    security.peerKey = fingerprint(peer);
    if (security.peerKey.isEmpty())
        return {};
    security.ownKey = ownFingerprint;
    security.peerEmail = peer.subjectInfo(QSslCertificate::EmailAddress).value(0).trimmed();
    const QSslConfiguration c = socket.sslConfiguration();
    const bool agreed = c.nextProtocolNegotiationStatus() == QSslConfiguration::NextProtocolNegotiationNegotiated;
    security.datagrams = agreed && c.nextNegotiatedProtocol() == datagramMediaProtocol();
    security.currentFormats = security.datagrams || (agreed && c.nextNegotiatedProtocol() == currentMediaProtocol());
    return security;
}

void sendAtOnce(QSslSocket &socket)
{
    socket.setSocketOption(QAbstractSocket::LowDelayOption, 1);
}

std::optional<PeerChannel> agreedChannel(const QSslSocket &socket)
{
    const QSslConfiguration c = socket.sslConfiguration();
    if (c.nextProtocolNegotiationStatus() != QSslConfiguration::NextProtocolNegotiationNegotiated)
        return std::nullopt;
    return channelOf(c.nextNegotiatedProtocol());
}

} // namespace TlsSetup
