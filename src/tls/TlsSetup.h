#pragma once

#include "core/ChannelSecurity.h"

#include <QByteArray>
#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>

#include <optional>

class QSslSocket;

// What both ends of an encrypted connection agree on: TLS 1.3 only, each side shows its own
// self-signed certificate, and no certificate authority is asked: the other side's key is
// checked by its fingerprint once the handshake is done. The channel a connection is for
// travels as the TLS application protocol, so one port (PortPlan::encrypted) serves all four.
namespace TlsSetup {

// This program's side of the handshake.
struct Credentials
{
    QSslCertificate certificate;
    QSslKey key;
    // The fingerprint of the key.
    QByteArray fingerprint;

    bool isNull() const { return certificate.isNull() || key.isNull(); }
};

QByteArray protocolName(PeerChannel channel);
// The media channel that also carries today's picture and sound formats. Offering it in
// the handshake is how two programs of this version agree on them: it is seen only
// inside an encrypted connection, an older program of ours does not know the name and
// agrees on the plain media channel, and one that speaks only the published protocol never
// gets this far. An end that offers it offers the plain name too.
QByteArray currentMediaProtocol();
// Today's formats, and the picture and sound may move to datagrams (offered before the
// name above, so two programs of this version agree on it and an older one never sees
// anything of it beyond its name in the list).
QByteArray datagramMediaProtocol();
std::optional<PeerChannel> channelOf(const QByteArray &protocolName);

// The configuration of one end; `channels` are the application protocols it speaks, and
// with `currentFormats` the media channel is offered with today's formats first.
QSslConfiguration configuration(const Credentials &own, const QList<PeerChannel> &channels,
                                bool currentFormats = false);

// SHA-256 of the certificate's public key (empty for a null certificate): a key keeps its
// fingerprint when its certificate is made anew.
QByteArray fingerprint(const QSslCertificate &certificate);

// The same fingerprint from the key's DER-encoded SubjectPublicKeyInfo (empty for none):
// the one hash both TLS stacks use, so a key is named alike wherever it was read.
QByteArray keyFingerprint(QByteArrayView publicKeyInfo);

// A fingerprint as people compare it: hex in groups of four ("" for none).
QString fingerprintText(const QByteArray &fingerprint);

// What a finished handshake proved (and whether it agreed on today's media formats);
// empty when the peer showed no certificate.
ChannelSecurity securityOf(const QSslSocket &socket, const QByteArray &ownFingerprint);

// Encryption cuts a packet into records written one after the other; without this the
// system would hold the last piece back until the peer acknowledged the first.
void sendAtOnce(QSslSocket &socket);

// The channel the finished handshake agreed on.
std::optional<PeerChannel> agreedChannel(const QSslSocket &socket);

} // namespace TlsSetup
