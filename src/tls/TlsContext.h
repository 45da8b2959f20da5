#pragma once

#include "tls/TlsSetup.h"

#include <QList>
#include <QSslCertificate>
#include <QString>

#include <memory>

typedef struct ssl_ctx_st SSL_CTX;

// One TLS set-up shared by every connection of a process that holds thousands of them: the
// key, the certificate and the rules are loaded once, and each connection only adds its own
// session state. The rules are those of TlsSetup::configuration: TLS 1.3 only, the peer's
// certificate asked for and judged by its key alone (the handshake proves the peer holds
// it), never by an authority.
class TlsContext
{
public:
    enum class Side { Server, Client };

    // `chain` follows the own certificate when an authority signed it (may be empty).
    static std::unique_ptr<TlsContext> make(Side side, const TlsSetup::Credentials &own,
                                            const QList<QSslCertificate> &chain, QString *error);
    ~TlsContext();
    TlsContext(const TlsContext &) = delete;
    TlsContext &operator=(const TlsContext &) = delete;

    Side side() const { return m_side; }
    SSL_CTX *handle() const { return m_context; }

private:
    TlsContext(Side side, SSL_CTX *context) : m_side(side), m_context(context) {}

    Side m_side;
    SSL_CTX *m_context;
};
