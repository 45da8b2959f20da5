#pragma once

#include "protocol/DirectoryProtocol.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Time-limited credentials for the relay beside the server, made with the secret the two
// share: the relay takes a user name "<expiry>:<who>" with the password
// base64(HMAC-SHA1(secret, user name)) until the expiry (unix time) has passed, without
// ever being told of the user.
class RelayCredentials
{
public:
    // A secret file holds at most this much; anything longer is not a secret file.
    static constexpr qint64 MaxSecretBytes = 4096;

    explicit RelayCredentials(QByteArray secret)
        : m_secret(std::move(secret))
    {
    }

    // The secret in the file, without surrounding blanks and line ends; nothing, with the
    // reason, when the file is missing, empty, a link, or readable by others.
    static std::optional<QByteArray> readSecret(const QString &path, QString *error);

    // Credentials for `who` (a user number or an e-mail) until `expiry`, at this relay.
    DirectoryProtocol::RelayAccess access(const QString &host, int port, int tlsPort, const QString &who,
                                          qint64 expiry) const;
    // The password the relay expects with this user name.
    static QString password(const QByteArray &secret, const QString &username);

private:
    QByteArray m_secret;
};
