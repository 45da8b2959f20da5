#include "tls/TlsContext.h"

#include <QSslKey>

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace {

QString lastError()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    const char *reason = code ? ERR_reason_error_string(code) : nullptr;
    return reason ? QString::fromLatin1(reason) : QStringLiteral("unknown TLS error");
}

X509 *certificateFrom(const QSslCertificate &certificate)
{
    const QByteArray pem = certificate.toPem();
    BIO *in = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    X509 *x = in ? PEM_read_bio_X509(in, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(in);
    return x;
}

EVP_PKEY *keyFrom(const QSslKey &key)
{
    const QByteArray pem = key.toPem();
    BIO *in = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    EVP_PKEY *k = in ? PEM_read_bio_PrivateKey(in, nullptr, nullptr, nullptr) : nullptr;
    BIO_free(in);
    return k;
}

// The peer's certificate proves nothing by itself: its key is what counts, and the
// handshake has already proved the peer holds it. No chain is built or checked.
int acceptAnyCertificate(X509_STORE_CTX *, void *)
{
    return 1;
}

} // namespace

std::unique_ptr<TlsContext> TlsContext::make(Side side, const TlsSetup::Credentials &own,
                                             const QList<QSslCertificate> &chain, QString *error)
{
    const auto fail = [error](const QString &why) {
        if (error)
            *error = why;
        return nullptr;
    };
    ERR_clear_error();
    SSL_CTX *c = SSL_CTX_new(side == Side::Server ? TLS_server_method() : TLS_client_method());
    if (!c)
        return fail(lastError());
    std::unique_ptr<TlsContext> context(new TlsContext(side, c));
    SSL_CTX_set_min_proto_version(c, TLS1_3_VERSION);
    // Idle connections give their buffers back; a client that drops without a goodbye is
    // a client that left, not an attack.
    SSL_CTX_set_mode(c, SSL_MODE_RELEASE_BUFFERS | SSL_MODE_ENABLE_PARTIAL_WRITE
                            | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    SSL_CTX_set_options(c, SSL_OP_IGNORE_UNEXPECTED_EOF);
    // Every client keeps one connection and makes a new handshake when it comes back:
    // tickets for resuming would be work for nothing.
    SSL_CTX_set_num_tickets(c, 0);
    SSL_CTX_set_session_cache_mode(c, SSL_SESS_CACHE_OFF);
    SSL_CTX_set_verify(c, SSL_VERIFY_PEER, nullptr);
    SSL_CTX_set_cert_verify_callback(c, acceptAnyCertificate, nullptr);
    if (!own.isNull()) {
        X509 *certificate = certificateFrom(own.certificate);
        EVP_PKEY *key = keyFrom(own.key);
        const bool used = certificate && key && SSL_CTX_use_certificate(c, certificate) == 1
                          && SSL_CTX_use_PrivateKey(c, key) == 1 && SSL_CTX_check_private_key(c) == 1;
        X509_free(certificate);
        EVP_PKEY_free(key);
        if (!used)
            return fail(lastError());
        for (qsizetype i = 1; i < chain.size(); ++i) {
            X509 *link = certificateFrom(chain[i]);
            // add0 takes the certificate over when it succeeds.
            if (!link || SSL_CTX_add0_chain_cert(c, link) != 1) {
                X509_free(link);
                return fail(lastError());
            }
        }
    }
    return context;
}

TlsContext::~TlsContext()
{
    SSL_CTX_free(m_context);
}
