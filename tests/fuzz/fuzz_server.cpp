// What clients send to zelmo-directory: lines cut at "<ET>" within the server's line bound
// and handed to its handlers as coming from a handful of connections on both ports, some
// of which leave in between. The registry must stay consistent and bounded, the list it
// answers with must read back, and once everybody has left nobody may be on line.
//
// Input: a count n (1 to 16) and n choices, then the stream. Line i comes from the
// connection of choice i mod n: bit 0 the pal port, bits 1-2 the connection number - 1,
// bit 3 the connection leaves after the line.
#include "FuzzSupport.h"

#include "core/IPDaemon.h"
#include "core/LineCutter.h"
#include "directory/DirectoryProtocol.h"
#include "server/DirectoryServer.h"

#include <QCoreApplication>

#include <cstdlib>
#include <memory>
#include <vector>

namespace Proto = DirectoryProtocol;

namespace {

constexpr int Connections = 4;

struct World
{
    std::unique_ptr<DirectoryServer> server;
    IPDaemon *directory = nullptr;
    IPDaemon *pal = nullptr;
};

World &world()
{
    static int argc = 1;
    static char name[] = "fuzz_server";
    static char *argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    static World w;
    if (!w.server) {
        ServerConfig config;
        config.listenAddress = QStringLiteral("127.0.0.1");
        config.directoryPort = 0;
        config.palPort = 0;
        config.maxUsers = 5;
        config.notice = QStringLiteral("Welcome");
        config.servers = {{QStringLiteral("dir.example.org"), 2010, QStringLiteral("Another")}};
        config.redirect = Proto::ServerEntry{QStringLiteral("dir.example.org"), 2010, QStringLiteral("Another")};
        config.dataDir = FuzzSupport::scratchPath(QStringLiteral("server"));
        w.server = std::make_unique<DirectoryServer>(config);
        QString error;
        if (!w.server->start(&error)) {
            std::fprintf(stderr, "the server did not start: %s\n", qPrintable(error));
            std::abort();
        }
        // The server goes before the database library's own globals, which came into being
        // after this world did and would otherwise be gone when it closes its number store.
        std::atexit([] { w.server.reset(); });
        for (IPDaemon *d : w.server->findChildren<IPDaemon *>())
            (d->localPort() == w.server->directoryPort() ? w.directory : w.pal) = d;
        FUZZ_CHECK(w.directory && w.pal && w.directory != w.pal);
    }
    return w;
}

void checkRegistry(DirectoryServer &server)
{
    const UserRegistry &registry = server.registry();
    FUZZ_CHECK(registry.connections() <= 2 * Connections);
    FUZZ_CHECK(registry.online() <= registry.connections() && registry.listed() <= registry.connections());
    // The list the directory answers with says what the registry holds.
    const Proto::UserList list =
        Proto::parseUserList(const_cast<UserRegistry &>(registry).listMessage(Proto::MaxEntries));
    FUZZ_CHECK(list.online == registry.online() && list.listed == registry.listed());
    FUZZ_CHECK(list.entries.size() == registry.listed());
    for (const Proto::UserEntry &e : list.entries) {
        FUZZ_CHECK(e.Name.size() <= DirectoryServer::MaxFieldChars);
        FUZZ_CHECK(e.Location.size() <= DirectoryServer::MaxFieldChars);
        FUZZ_CHECK(e.Comment.size() <= DirectoryServer::MaxFieldChars);
        FUZZ_CHECK(e.Port >= 1 && e.Port <= 65535);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &w = world();
    FuzzSupport::Choices input(FuzzSupport::bytes(data, size));
    std::vector<uint8_t> choices(1 + input.take() % 16);
    for (uint8_t &c : choices)
        c = input.take();
    const QByteArray stream = input.rest();

    bool open[2][Connections] = {};
    const auto daemon = [&w](int channel) { return channel ? w.pal : w.directory; };

    LineCutter cutter;
    cutter.setTerminator(Proto::Terminator);
    cutter.setLimit(DirectoryServer::MaxLineBytes);
    size_t line = 0;
    qsizetype at = 0;
    for (;;) {
        QByteArray text;
        bool eol = false;
        while (cutter.next(&text, &eol)) {
            const uint8_t c = choices[line++ % choices.size()];
            const int channel = c & 1;
            const int id = 1 + ((c >> 1) & 3);
            if (!open[channel][id - 1]) {
                open[channel][id - 1] = true;
                emit daemon(channel)->connected(id, 0, QString());
            }
            emit daemon(channel)->dataIn(id, text, eol);
            if (c & 8) {
                open[channel][id - 1] = false;
                emit daemon(channel)->disconnected(id, 0, QString());
            }
            checkRegistry(*w.server);
        }
        if (at >= stream.size())
            break;
        const QByteArray part = stream.mid(at, cutter.room());
        cutter.append(part);
        at += part.size();
    }

    // Everybody leaves: nobody is on line any more.
    for (int channel = 0; channel < 2; ++channel) {
        for (int id = 1; id <= Connections; ++id) {
            if (open[channel][id - 1])
                emit daemon(channel)->disconnected(id, 0, QString());
        }
    }
    const UserRegistry &registry = w.server->registry();
    FUZZ_CHECK(registry.connections() == 0 && registry.online() == 0 && registry.listed() == 0);
    FUZZ_CHECK(!registry.findByEmail(QStringLiteral("ann@example.org")));
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
