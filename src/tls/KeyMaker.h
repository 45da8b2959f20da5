#pragma once

#include <QByteArray>
#include <QString>

// The two things the TLS layer cannot make for itself: a new long-term key pair and a
// self-signed certificate for it. Everything else (loading keys, handshakes, fingerprints)
// goes through Qt's own classes. They are made with the encryption library directly, which
// costs every start its loading: so they live in the module zelmo-keys.so (src/keymaker),
// opened by KeyModule when a key is first read or made, after the program listens.
struct KeyMaker
{
    static constexpr int InterfaceVersion = 1;

    // A new P-256 key pair as unencrypted PKCS#8 PEM text; empty when the library failed.
    QByteArray (*newKey)();

    // A self-signed certificate (PEM) for the key, naming `email` when it is a plain address
    // the certificate can carry; empty when the key cannot be read or signing failed.
    QByteArray (*selfSignedCertificate)(const QByteArray &keyPem, const QString &email);
};

// The module's one export: its functions, or null (with `why` said) when it was built for
// another interface version.
using KeyMakerGetter = const KeyMaker *(*)(int version, QString &why);
inline constexpr char KeyMakerGetterName[] = "zelmo_key_maker";
