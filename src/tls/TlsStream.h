#pragma once

#include <QByteArray>
#include <QString>

#include <sys/types.h>

class TlsContext;
typedef struct ssl_st SSL;

// TLS on a non-blocking socket that the caller owns and watches (an epoll set of its own):
// read() and write() behave as recv() and send() do, so a loop written for plain sockets
// serves encrypted ones too. Nothing here waits or takes a socket notifier.
class TlsStream
{
public:
    // What the last call needs before it can go on.
    enum class Need { Nothing, Read, Write };

    TlsStream(const TlsContext &context, int fd);
    ~TlsStream();
    TlsStream(const TlsStream &) = delete;
    TlsStream &operator=(const TlsStream &) = delete;

    // Advances the handshake: true once it is done; false with need() set while it waits
    // for the socket, or with hasFailed() or isClosed() once it cannot go on.
    bool handshake();
    bool isSecured() const { return m_secured; }
    // As recv(): bytes read, 0 when the peer closed, -1 with errno EAGAIN while it waits
    // (see need()) or another errno when the connection failed (see failure()).
    ssize_t read(char *buffer, size_t size);
    // As send(); the same bytes must be offered again after EAGAIN (they may move).
    ssize_t write(const char *data, size_t size);
    // Says goodbye to the peer once, without waiting for its answer.
    void shutdown();

    Need need() const { return m_need; }
    bool hasFailed() const { return !m_failure.isEmpty(); }
    // The peer said goodbye or hung up (a handshake that ends so is no failure).
    bool isClosed() const { return m_closed; }
    QString failure() const { return m_failure; }
    // The fingerprint of the key the peer's certificate shows (TlsSetup::fingerprint);
    // empty without one.
    QByteArray peerKey() const;

private:
    // Sorts the outcome of an OpenSSL call: true when it succeeded.
    bool settle(int result);

    SSL *m_ssl;
    bool m_secured = false;
    bool m_closed = false;
    Need m_need = Need::Nothing;
    QString m_failure;
};
