// The key module's code: keys and certificates made with the encryption library itself.
#include "tls/KeyMaker.h"

#include <QRandomGenerator>

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <memory>

namespace {

struct Free
{
    void operator()(BIO *b) const { BIO_free(b); }
    void operator()(EVP_PKEY *k) const { EVP_PKEY_free(k); }
    void operator()(X509 *x) const { X509_free(x); }
};
template<typename T>
using Owned = std::unique_ptr<T, Free>;

QByteArray contents(BIO *bio)
{
    char *data = nullptr;
    const long length = BIO_get_mem_data(bio, &data);
    return length > 0 && data ? QByteArray(data, qsizetype(length)) : QByteArray();
}

// The e-mail field is a 7-bit string of at most 128 characters; anything else is left out.
bool certifiable(const QByteArray &email)
{
    if (email.isEmpty() || email.size() > 128)
        return false;
    for (const char c : email) {
        if (static_cast<unsigned char>(c) < 0x21 || static_cast<unsigned char>(c) > 0x7e)
            return false;
    }
    return true;
}

bool addName(X509_NAME *name, const char *field, const QByteArray &value)
{
    return X509_NAME_add_entry_by_txt(name, field, MBSTRING_ASC,
                                      reinterpret_cast<const unsigned char *>(value.constData()),
                                      int(value.size()), -1, 0)
           == 1;
}

QByteArray newKey()
{
    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    if (!key)
        return {};
    Owned<BIO> out(BIO_new(BIO_s_mem()));
    if (!out || PEM_write_bio_PrivateKey(out.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        return {};
    return contents(out.get());
}

QByteArray selfSignedCertificate(const QByteArray &keyPem, const QString &email)
{
    Owned<BIO> in(BIO_new_mem_buf(keyPem.constData(), int(keyPem.size())));
    if (!in)
        return {};
    Owned<EVP_PKEY> key(PEM_read_bio_PrivateKey(in.get(), nullptr, nullptr, nullptr));
    Owned<X509> certificate(X509_new());
    if (!key || !certificate)
        return {};
    X509 *x = certificate.get();
    // Peers check the key, never the dates or a chain: the dates only have to be sane.
    constexpr long Day = 24L * 60 * 60;
    if (X509_set_version(x, 2) != 1
        || ASN1_INTEGER_set_int64(X509_get_serialNumber(x), qint64(QRandomGenerator::system()->generate() & 0x7fffffff) + 1) != 1
        || !X509_gmtime_adj(X509_getm_notBefore(x), -Day) || !X509_gmtime_adj(X509_getm_notAfter(x), 3650 * Day)
        || X509_set_pubkey(x, key.get()) != 1)
        return {};
    X509_NAME *name = X509_get_subject_name(x);
    if (!addName(name, "CN", QByteArrayLiteral("ZELMO")))
        return {};
    const QByteArray address = email.trimmed().toUtf8();
    if (certifiable(address))
        addName(name, "emailAddress", address);
    if (X509_set_issuer_name(x, name) != 1 || X509_sign(x, key.get(), EVP_sha256()) <= 0)
        return {};
    Owned<BIO> out(BIO_new(BIO_s_mem()));
    if (!out || PEM_write_bio_X509(out.get(), x) != 1)
        return {};
    return contents(out.get());
}

constexpr KeyMaker Functions{newKey, selfSignedCertificate};

} // namespace

extern "C" __attribute__((visibility("default"))) const KeyMaker *zelmo_key_maker(int version, QString &why)
{
    if (version != KeyMaker::InterfaceVersion) {
        why = QStringLiteral("the key module was built for interface version %1, the program asks for %2")
                  .arg(KeyMaker::InterfaceVersion)
                  .arg(version);
        return nullptr;
    }
    return &Functions;
}
