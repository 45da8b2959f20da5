#include "server/RelayCredentials.h"

#include "core/LineFile.h"

#include <QFile>
#include <QFileInfo>

#include <openssl/evp.h>
#include <openssl/hmac.h>

std::optional<QByteArray> RelayCredentials::readSecret(const QString &path, QString *error)
{
    const auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("the relay secret file %1 %2").arg(path, why);
        return std::nullopt;
    };
    // The name itself is judged: a link is neither read nor has its target's mode looked at.
    if (LineFile::isLink(path))
        return fail(QStringLiteral("is a link, which is not followed; put the file itself there"));
    const QFileInfo info(path);
    if (!info.exists())
        return fail(QStringLiteral("does not exist"));
    if (!info.isFile())
        return fail(QStringLiteral("is not a file"));
    constexpr QFileDevice::Permissions othersMayRead = QFileDevice::ReadGroup | QFileDevice::WriteGroup
                                                       | QFileDevice::ReadOther | QFileDevice::WriteOther;
    if (QFile::permissions(path) & othersMayRead)
        return fail(QStringLiteral("may be read by others; make it readable by its owner only (chmod 600)"));
    const std::optional<QByteArray> bytes = LineFile::readBytes(path, MaxSecretBytes + 1);
    if (!bytes)
        return fail(QStringLiteral("cannot be read"));
    if (bytes->size() > MaxSecretBytes)
        return fail(QStringLiteral("is longer than %1 bytes").arg(MaxSecretBytes));
    const QByteArray secret = bytes->trimmed();
    if (secret.isEmpty())
        return fail(QStringLiteral("is empty"));
    return secret;
}

DirectoryProtocol::RelayAccess RelayCredentials::access(const QString &host, int port, int tlsPort, const QString &who,
                                                        qint64 expiry) const
{
    DirectoryProtocol::RelayAccess a;
    a.host = host;
    a.port = port;
    a.tlsPort = tlsPort;
    a.username = QString::number(expiry) + QLatin1Char(':') + who;
    a.password = password(m_secret, a.username);
    return a;
}

QString RelayCredentials::password(const QByteArray &secret, const QString &username)
{
    const QByteArray name = username.toUtf8();
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha1(), secret.constData(), int(secret.size()), reinterpret_cast<const unsigned char *>(name.constData()),
              size_t(name.size()), digest, &length))
        return {};
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toBase64());
}
