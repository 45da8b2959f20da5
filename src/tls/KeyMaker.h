#pragma once

#include <QByteArray>
#include <QString>

// The two things the TLS layer cannot make for itself: a new long-term key pair and a
// self-signed certificate for it. Everything else (loading keys, handshakes, fingerprints)
// goes through Qt's own classes.
namespace KeyMaker {

// A new P-256 key pair as unencrypted PKCS#8 PEM text; empty when the library failed.
QByteArray newKey();

// A self-signed certificate (PEM) for the key, naming `email` when it is a plain address
// the certificate can carry; empty when the key cannot be read or signing failed.
QByteArray selfSignedCertificate(const QByteArray &keyPem, const QString &email);

} // namespace KeyMaker
