// What anyone may send to the encrypted port: bytes on a real loopback connection, in
// pieces, then the end of the sender's side. No such input may become a channel's
// connection (that takes a whole handshake with a key), and the listener must let go of
// every one and go on listening.
//
// Input: a piece size (1 to 256), then the bytes.
#include "FuzzSupport.h"

#include "core/IPDaemon.h"
#include "tls/Identity.h"
#include "secure/SecureListener.h"

#include <cerrno>
#include <memory>
#include <sys/socket.h>
#include <unistd.h>

namespace {

constexpr int SettleMs = 8000;

struct World
{
    Identity identity;
    std::unique_ptr<IPDaemon> control;
    std::unique_ptr<SecureListener> listener;
    int handedOver = 0;
};

World &world()
{
    FuzzSupport::application("fuzz_secure");
    static World w;
    if (!w.listener) {
        const QString key = FuzzSupport::scratchPath(Identity::FileName);
        FUZZ_CHECK(!w.identity.create(key));
        w.control = std::make_unique<IPDaemon>();
        w.control->setLocalAddress(QStringLiteral("127.0.0.1"));
        FUZZ_CHECK(!w.control->setListening(true));
        w.listener = std::make_unique<SecureListener>([] { return world().identity.credentials(QString()); });
        w.listener->route(PeerChannel::Control, *w.control);
        FUZZ_CHECK(!w.listener->listen(0));
        QObject::connect(w.listener.get(), &SecureListener::handedOver, [] { ++world().handedOver; });
        std::atexit([] {
            w.listener.reset();
            w.control.reset();
        });
    }
    return w;
}

template<typename Condition>
void settle(Condition done, const char *what)
{
    FuzzSupport::settle(done, "the listener", what, SettleMs);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &w = world();
    FuzzSupport::Choices choices(FuzzSupport::bytes(data, size));
    const int piece = int(choices.take()) + 1;
    const QByteArray bytes = choices.rest();

    int error = 0;
    const int fd = FuzzSupport::connectLoopback(w.listener->port(), SettleMs, &error);
    FUZZ_CHECK(error == 0);
    settle([&] { return w.listener->handshakesUnderway() > 0; }, "take the connection");
    for (qsizetype at = 0; at < bytes.size();) {
        const ssize_t sent = ::send(fd, bytes.constData() + at, size_t(std::min<qsizetype>(piece, bytes.size() - at)),
                                    MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR)
            continue;
        if (sent <= 0)
            break; // the listener has closed the connection already
        at += sent;
        QCoreApplication::processEvents();
    }
    ::shutdown(fd, SHUT_WR);
    settle([&] { return w.listener->handshakesUnderway() == 0; }, "let go of the connection");
    ::close(fd);
    FUZZ_CHECK(w.handedOver == 0);
    FUZZ_CHECK(w.control->connectionIds().isEmpty());
    FUZZ_CHECK(w.listener->isListening());
    return 0;
}
