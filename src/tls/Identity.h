#pragma once

#include "core/FileError.h"
#include "tls/KeyModule.h"
#include "tls/TlsSetup.h"

#include <QByteArray>
#include <QString>

#include <optional>

// This program's long-term key: made at the first start, kept in a file of its own in the
// profile folder that only its owner may read, and shown to peers in a self-signed
// certificate that names the user's e-mail address. The key's fingerprint is what peers
// remember and what the short code is made of.
class Identity
{
public:
    static inline const QString FileName = QStringLiteral("identity.key");
    // Where a key that may not be used is put when a new one replaces it.
    static inline const QString SetAsideSuffix = QStringLiteral(".old");
    static constexpr qint64 MaxFileBytes = 16384;

    enum class Check {
        Ready,   // a usable key only its owner can read
        Missing,
        Corrupt, // not a key this program can use
        Exposed, // others may read (or write) the file
        Link,    // a link to a file elsewhere, never followed
        // The key module cannot be loaded (a broken installation): the file is neither
        // judged nor touched, as a good key would be taken for a damaged one. The reason
        // is keyModuleProblem().
        NoKeyModule,
    };

    // The key module is looked for in `keyModuleFolders`, in order.
    explicit Identity(QStringList keyModuleFolders = RuntimeModule::defaultFolders());

    // Reads the key file as it is on disk. Only Ready leaves a key to use.
    Check load(const QString &path);
    // Makes a new key and writes it, readable by its owner only; a file in the way is set
    // aside as path + SetAsideSuffix (readable by its owner only), never deleted.
    FileError create(const QString &path);

    // Replaces the key with this one (PEM), kept and set aside as create() does.
    FileError adopt(const QString &path, const QByteArray &pem);

    // The key protected by a passphrase, for moving it to another computer (empty
    // without a key).
    QByteArray exported(const QByteArray &passphrase) const;
    // The key in such a file, as unprotected PEM; empty when the passphrase is wrong or
    // the text holds no key.
    static QByteArray imported(const QByteArray &text, const QByteArray &passphrase);

    // Why keys can neither be read nor made, once load() said NoKeyModule.
    QString keyModuleProblem() const { return m_keyModuleProblem; }

    bool isReady() const { return !m_fingerprint.isEmpty(); }
    QByteArray fingerprint() const { return m_fingerprint; }

    // The key with a certificate naming this address; the certificate is made anew when the
    // address changes.
    TlsSetup::Credentials credentials(const QString &email) const;

    // What the user is told about a key file that cannot be used.
    // The user reads the text in their language; the activity log keeps it in English.
    enum class Language { User, English };
    static QString problemText(Check check, const QString &path, Language language = Language::User);

private:
    bool use(const QByteArray &pem);
    const KeyMaker *keyMaker() const;

    QByteArray m_pem;
    QByteArray m_fingerprint;
    // Made when first asked for: a certificate, even an empty one, loads the TLS library,
    // which the program needs only once it listens.
    mutable std::optional<TlsSetup::Credentials> m_credentials;
    mutable QString m_certifiedEmail;
    // Opened at the first key read or made, not at start.
    mutable KeyModule m_keys;
    mutable QString m_keyModuleProblem;
};
