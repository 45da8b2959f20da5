// What anyone may send to the encrypted port: bytes on a real loopback connection, in
// pieces, then the end of the sender's side. No such input may become a channel's
// connection (that takes a whole handshake with a key), and the listener must let go of
// every one and go on listening.
//
// Input: a piece size (1 to 256), then the bytes.
#include "FuzzSupport.h"

#include "core/IPDaemon.h"
#include "secure/Identity.h"
#include "secure/SecureListener.h"

#include <arpa/inet.h>
#include <cerrno>
#include <memory>
#include <netinet/in.h>
#include <netinet/tcp.h>
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
    static int argc = 1;
    static char name[] = "fuzz_secure";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
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

    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    FUZZ_CHECK(fd >= 0);
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(quint16(w.listener->port()));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int r;
    do {
        r = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    } while (r != 0 && errno == EINTR);
    FUZZ_CHECK(r == 0);
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
