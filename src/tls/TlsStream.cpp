#include "tls/TlsStream.h"

#include "tls/TlsContext.h"

#include "tls/TlsSetup.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cerrno>
#include <climits>
#include <cstring>

TlsStream::TlsStream(const TlsContext &context, int fd)
    : m_ssl(SSL_new(context.handle()))
{
    if (!m_ssl || SSL_set_fd(m_ssl, fd) != 1) {
        m_failure = QStringLiteral("no room for another TLS connection");
        return;
    }
    if (context.side() == TlsContext::Side::Server)
        SSL_set_accept_state(m_ssl);
    else
        SSL_set_connect_state(m_ssl);
}

TlsStream::~TlsStream()
{
    SSL_free(m_ssl);
}

bool TlsStream::handshake()
{
    if (m_secured)
        return true;
    if (hasFailed() || m_closed)
        return false;
    ERR_clear_error();
    errno = 0;
    m_secured = settle(SSL_do_handshake(m_ssl));
    return m_secured;
}

ssize_t TlsStream::read(char *buffer, size_t size)
{
    if (hasFailed()) {
        errno = ECONNRESET;
        return -1;
    }
    if (m_closed)
        return 0;
    ERR_clear_error();
    errno = 0;
    const int r = SSL_read(m_ssl, buffer, int(qMin<size_t>(size, INT_MAX)));
    if (settle(r))
        return r;
    if (m_closed)
        return 0;
    errno = hasFailed() ? ECONNRESET : EAGAIN;
    return -1;
}

ssize_t TlsStream::write(const char *data, size_t size)
{
    if (hasFailed() || m_closed) {
        errno = EPIPE;
        return -1;
    }
    if (size == 0)
        return 0;
    ERR_clear_error();
    errno = 0;
    const int w = SSL_write(m_ssl, data, int(qMin<size_t>(size, INT_MAX)));
    if (settle(w))
        return w;
    errno = hasFailed() || m_closed ? EPIPE : EAGAIN;
    return -1;
}

void TlsStream::shutdown()
{
    if (!m_secured || hasFailed() || m_closed)
        return;
    ERR_clear_error();
    SSL_shutdown(m_ssl);
    ERR_clear_error();
    m_closed = true;
}

QByteArray TlsStream::peerKey() const
{
    X509 *peer = SSL_get0_peer_certificate(m_ssl);
    X509_PUBKEY *info = peer ? X509_get_X509_PUBKEY(peer) : nullptr;
    if (!info)
        return {};
    // The public key's SubjectPublicKeyInfo, written from the certificate's own field: going through the key instead finds an encoder
    // among the providers on every login, which cost more than the handshake's signature.
    unsigned char *der = nullptr;
    const int length = i2d_X509_PUBKEY(info, &der);
    if (length <= 0)
        return {};
    const QByteArray fingerprint = TlsSetup::keyFingerprint(QByteArrayView(reinterpret_cast<const char *>(der), length));
    OPENSSL_free(der);
    return fingerprint;
}

bool TlsStream::settle(int result)
{
    m_need = Need::Nothing;
    if (result > 0)
        return true;
    switch (SSL_get_error(m_ssl, result)) {
    case SSL_ERROR_WANT_READ:
        m_need = Need::Read;
        return false;
    case SSL_ERROR_WANT_WRITE:
        m_need = Need::Write;
        return false;
    case SSL_ERROR_ZERO_RETURN:
        m_closed = true;
        return false;
    case SSL_ERROR_SYSCALL:
        if (errno == EINTR || errno == EAGAIN) {
            m_need = Need::Read;
            return false;
        }
        if (errno == 0) {
            m_closed = true;
            return false;
        }
        m_failure = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    default: {
        const unsigned long code = ERR_get_error();
        const char *reason = code ? ERR_reason_error_string(code) : nullptr;
        m_failure = reason ? QString::fromLatin1(reason) : QStringLiteral("TLS error");
        ERR_clear_error();
        return false;
    }
    }
}
