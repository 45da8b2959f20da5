#pragma once

#include "core/PeerChannel.h"

#include <QByteArray>
#include <QString>

// What the encryption under one connection proved about the other end. A plain connection
// has no keys.
struct ChannelSecurity
{
    // Fingerprints (SHA-256 of the public key) of the peer's key and of this program's own;
    // both empty on a plain connection.
    QByteArray peerKey;
    QByteArray ownKey;
    // The e-mail address the peer's certificate names: its own claim, bound to its key.
    QString peerEmail;
    // Plain although the encrypted way was expected: this peer answered encrypted before,
    // or something answered on the encrypted port and the handshake failed.
    bool fellBack = false;
    // The media channel's two ends agreed in its handshake on today's picture and sound
    // formats (VP8 and Opus) beside the published ones; never on a plain connection.
    bool currentFormats = false;
    // With today's formats, the two ends agreed that picture and sound may move to
    // encrypted datagrams when the line carries them.
    bool datagrams = false;

    bool encrypted() const { return !peerKey.isEmpty(); }
};

// How a peer's key stands with what this program remembers about that peer.
enum class PeerStanding {
    Unknown,  // not judged: a plain connection
    New,      // the first key seen for this peer
    Known,    // the key remembered for it
    Verified, // the key remembered for it, and the user has compared the short codes
    Changed,  // another key than the one remembered for it
};
