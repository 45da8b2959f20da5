#include "tls/Identity.h"

#include "core/LineFile.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

namespace {

constexpr QFileDevice::Permissions OthersMayTouch = QFileDevice::ReadGroup | QFileDevice::WriteGroup
                                                    | QFileDevice::ReadOther | QFileDevice::WriteOther;

QSslKey keyOf(const QByteArray &pem)
{
    return QSslKey(pem, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey);
}

} // namespace

Identity::Identity(QStringList keyModuleFolders)
    : m_keys(std::move(keyModuleFolders))
{
}

Identity::Check Identity::load(const QString &path)
{
    m_pem.clear();
    m_fingerprint.clear();
    m_credentials.reset();
    m_certifiedEmail.clear();
    // What is judged is the name itself: a link is neither read nor has its target's mode
    // looked at.
    if (LineFile::isLink(path))
        return Check::Link;
    const QFileInfo info(path);
    if (!info.exists())
        return Check::Missing;
    if (!info.isFile() || info.size() > MaxFileBytes)
        return Check::Corrupt;
    if (QFile::permissions(path) & OthersMayTouch)
        return Check::Exposed;
    const std::optional<QByteArray> pem = LineFile::readBytes(path, MaxFileBytes);
    if (!pem)
        return Check::Corrupt;
    if (!keyMaker())
        return Check::NoKeyModule;
    return use(*pem) ? Check::Ready : Check::Corrupt;
}

FileError Identity::create(const QString &path)
{
    const KeyMaker *maker = keyMaker();
    if (!maker)
        return {1, QStringLiteral("The encryption library could not make a key: ") + m_keyModuleProblem};
    const QByteArray pem = maker->newKey();
    if (pem.isEmpty() || keyOf(pem).isNull())
        return {1, QStringLiteral("The encryption library could not make a key")};
    return adopt(path, pem);
}

QByteArray Identity::exported(const QByteArray &passphrase) const
{
    if (m_pem.isEmpty() || passphrase.isEmpty())
        return {};
    return keyOf(m_pem).toPem(passphrase);
}

QByteArray Identity::imported(const QByteArray &text, const QByteArray &passphrase)
{
    const QSslKey key(text, QSsl::Ec, QSsl::Pem, QSsl::PrivateKey, passphrase);
    if (key.isNull())
        return {};
    return key.toPem();
}

FileError Identity::adopt(const QString &path, const QByteArray &pem)
{
    if (keyOf(pem).isNull())
        return {1, QCoreApplication::translate("Identity", "Not a key this program can use")};
    const bool link = LineFile::isLink(path);
    if (link || QFileInfo::exists(path)) {
        const QString aside = path + SetAsideSuffix;
        QFile::remove(aside);
        if (!QFile::rename(path, aside))
            return {2, QCoreApplication::translate("Identity", "The old key file could not be set aside")};
        // A link keeps pointing where it did; the file it names is not this program's to change.
        if (!link)
            QFile::setPermissions(aside, QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    }
    if (const FileError e = LineFile::writeBytes(path, pem, LineFile::Access::OwnerOnly))
        return e;
    if (!use(pem))
        return {1, QCoreApplication::translate("Identity", "The encryption library could not use its new key")};
    return {};
}

bool Identity::use(const QByteArray &pem)
{
    if (keyOf(pem).isNull())
        return false;
    m_pem = pem;
    m_certifiedEmail.clear();
    m_credentials.reset();
    const TlsSetup::Credentials own = credentials(QString());
    if (own.isNull()) {
        m_pem.clear();
        return false;
    }
    m_fingerprint = own.fingerprint;
    return true;
}

TlsSetup::Credentials Identity::credentials(const QString &email) const
{
    if (m_pem.isEmpty())
        return TlsSetup::Credentials();
    const QString address = email.trimmed();
    if (m_credentials && !m_credentials->isNull() && address == m_certifiedEmail)
        return *m_credentials;
    const KeyMaker *maker = keyMaker();
    if (!maker)
        return m_credentials.value_or(TlsSetup::Credentials());
    TlsSetup::Credentials made;
    made.key = keyOf(m_pem);
    made.certificate = QSslCertificate(maker->selfSignedCertificate(m_pem, address), QSsl::Pem);
    made.fingerprint = TlsSetup::fingerprint(made.certificate);
    if (made.isNull() || made.fingerprint.isEmpty())
        return m_credentials.value_or(TlsSetup::Credentials());
    m_credentials = made;
    m_certifiedEmail = address;
    return made;
}

const KeyMaker *Identity::keyMaker() const
{
    return m_keys.maker(m_keyModuleProblem);
}

QString Identity::problemText(Check check, const QString &path, Language language)
{
    const char *text = nullptr;
    switch (check) {
    case Check::Corrupt:
        text = QT_TRANSLATE_NOOP("Identity", "The key file %1 is damaged and cannot be used. ZELMO makes a new key "
                                             "and keeps the old file as %2. Peers who knew your old key will be told "
                                             "that your key changed.");
        break;
    case Check::Exposed:
        text = QT_TRANSLATE_NOOP("Identity", "The key file %1 could be read by other users of this computer, so it "
                                             "is not used any more. ZELMO makes a new key and keeps the old file as "
                                             "%2. Peers who knew your old key will be told that your key changed.");
        break;
    case Check::Link:
        text = QT_TRANSLATE_NOOP("Identity", "The key file %1 is a link to another file, so it is not used. ZELMO "
                                             "makes a new key and keeps the link as %2. Peers who knew your old key "
                                             "will be told that your key changed.");
        break;
    case Check::Ready:
    case Check::Missing:
    case Check::NoKeyModule:
        return {};
    }
    const QString shown = language == Language::User ? QCoreApplication::translate("Identity", text)
                                                      : QString::fromLatin1(text);
    return shown.arg(path, path + SetAsideSuffix);
}
