// What the directory and pal servers send, as the program reads it: the stream cut at
// "<ET>" within the connection's buffer and handed to the directory service, which fills
// its tables, the pal list and the user number; and the protocol's parsers on every piece.
//
// Input: a choice (bit 0: the pal server's connection rather than the directory's; the
// rest: how many bytes each read takes), then the stream.
#include "FuzzSupport.h"

#include "call/CallAddress.h"
#include "core/IPPort.h"
#include "media/SoundPlayer.h"
#include "protocol/DirectoryProtocol.h"
#include "directory/DirectoryService.h"
#include "directory/PalService.h"
#include "protocol/ReachProtocol.h"
#include "directory/UserNumberFile.h"
#include "root/Program.h"

#include <QCoreApplication>

#include <memory>

namespace Proto = DirectoryProtocol;

namespace {

const char *const PalAddresses[] = {"ann@example.org", "bob@example.org", "b", "carol@example.org"};

struct World
{
    // A program that never starts: only its directory service reads the stream.
    std::unique_ptr<Program> program;
    PalList pals;
    QString numberFile;
    QString palFile;
};

World &world()
{
    FuzzSupport::application("fuzz_directory");
    static World w;
    if (!w.program) {
        w.program = std::make_unique<Program>(
            ProgramOptions{2000, FuzzSupport::scratchPath(QStringLiteral("profile")), {}, true});
        w.program->parts().sounds.setMuted(true);
        w.numberFile = w.program->profilePath(UserNumberFile::FileName);
        w.palFile = w.program->profilePath(QStringLiteral("zelmo.pal"));
        for (const char *address : PalAddresses)
            w.pals.add(w.palFile, QString::fromLatin1(address));
    }
    return w;
}

bool usablePort(int port)
{
    return port >= 1 && port <= 65535;
}

// The parsers on one message, whatever its command: bounded tables, usable ports, and a
// list built again from what was read reads back the same.
void checkParsers(const QByteArray &message)
{
    const Proto::UserList list = Proto::parseUserList(message);
    FUZZ_CHECK(list.entries.size() <= Proto::MaxEntries);
    for (const Proto::UserEntry &e : list.entries) {
        FUZZ_CHECK(usablePort(e.Port));
        const CallAddress address = CallAddress::parse(e.Address, e.Port);
        FUZZ_CHECK(!address.valid || usablePort(address.port));
    }
    const Proto::UserList again = Proto::parseUserList(Proto::userList(list.online, list.listed, list.entries));
    FUZZ_CHECK(again.online == list.online && again.listed == list.listed);
    FUZZ_CHECK(again.entries.size() == list.entries.size());
    for (qsizetype i = 0; i < list.entries.size(); ++i) {
        FUZZ_CHECK(again.entries.at(i).UserNumber == list.entries.at(i).UserNumber);
        FUZZ_CHECK(again.entries.at(i).Port == list.entries.at(i).Port);
        FUZZ_CHECK(again.entries.at(i).Kind == list.entries.at(i).Kind);
    }

    const QVector<Proto::ServerEntry> servers = Proto::parseServerList(message);
    FUZZ_CHECK(servers.size() <= Proto::MaxServers);
    for (const Proto::ServerEntry &s : servers)
        FUZZ_CHECK(usablePort(s.Port) && !s.Host.trimmed().isEmpty());
    FUZZ_CHECK(Proto::parseServerList(Proto::serverList(servers)).size() == servers.size());

    if (const auto target = Proto::parseRedirect(message))
        FUZZ_CHECK(usablePort(target->Port) && !target->Host.isEmpty());
    if (const auto target = Proto::parsePalBusy(message))
        FUZZ_CHECK(usablePort(target->Port) && !target->Host.isEmpty());
    const Proto::EmailAnswer answer = Proto::parseEmailAnswer(message);
    FUZZ_CHECK(answer.port == 0 || usablePort(answer.port));
    const Proto::EmailAnswer back = Proto::parseEmailAnswer(Proto::emailAnswer(answer));
    FUZZ_CHECK(back.port == answer.port && back.found() == answer.found());
    // Every message as either side reads it.
    Proto::readFromServer(message);
    Proto::readFromClient(message);

    // The reachability check's answer: a usable port, and what is read is written back alike.
    if (const auto reach = ReachProtocol::parseAnswer(message)) {
        FUZZ_CHECK(usablePort(reach->port));
        const auto back = ReachProtocol::parseAnswer(ReachProtocol::answer(*reach));
        FUZZ_CHECK(back && back->reachable == reach->reachable && back->port == reach->port);
    }
    if (const auto port = ReachProtocol::parseRequest(message))
        FUZZ_CHECK(usablePort(*port));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &w = world();
    FuzzSupport::Choices input(FuzzSupport::bytes(data, size));
    const uint8_t choice = input.take();
    const bool pal = choice & 1;
    const qsizetype readSize = 1 + (choice >> 1) * 97;
    const QByteArray stream = input.rest();

    // Each input meets a program that has no user number yet and its four pals off line.
    QFile::remove(w.numberFile);
    DirectoryService &s = w.program->directory();
    PalService &palClient = w.program->pals();
    palClient.start();
    s.start();
    w.program->parts().palList = w.pals;
    w.program->parts().palList.checkPosition = 1;
    w.program->parts().callStatus.ConnectState = ConnectState::NoAttempt;
    palClient.setPalServer(QStringLiteral("127.0.0.1"), PalService::DefaultPalPort);
    IPPort &port = pal ? palClient.ippServerPal() : s.ippServer();
    emit port.connected(0, QString());

    FuzzSupport::forEachLine(stream, Proto::Terminator,
                             pal ? PalService::PalInputBytes : DirectoryService::DirectoryInputBytes, readSize,
                             [&](const QByteArray &text, bool eol) {
        checkParsers(text);
        emit port.dataIn(text, eol);
    });

    // Tables bounded, every listed user reachable on a usable port.
    FUZZ_CHECK(s.entries().size() <= Proto::MaxEntries && s.servers().size() <= Proto::MaxServers);
    for (const Proto::UserEntry &e : s.entries())
        FUZZ_CHECK(usablePort(e.Port));
    for (const Proto::ServerEntry &server : s.servers())
        FUZZ_CHECK(usablePort(server.Port) && !server.Host.trimmed().isEmpty());
    FUZZ_CHECK(usablePort(palClient.palServerPort()) && !palClient.palServerHost().trimmed().isEmpty());

    // The pals: the same ones, each either off line or on line where it can be called.
    const PalList &pals = w.program->parts().palList;
    FUZZ_CHECK(pals.count() == w.pals.count());
    FUZZ_CHECK(pals.checkPosition >= 0 && pals.checkPosition <= pals.count());
    for (int k = 1; k <= pals.count(); ++k) {
        const PalList::Pal &p = pals.pal(k);
        FUZZ_CHECK(p.EMail == w.pals.pal(k).EMail);
        FUZZ_CHECK(p.Status == 1 || p.Status == 2);
        if (p.Status == 2)
            FUZZ_CHECK(usablePort(quint16(p.Port)) && !p.Address.trimmed().isEmpty());
    }

    // The user number is one of the server's range, and the file says the same.
    const qint32 number = palClient.userNumber();
    FUZZ_CHECK(number == -1 || (number >= Proto::FirstUserNumber && number <= Proto::LastUserNumber));
    FUZZ_CHECK(UserNumberFile::read(w.numberFile) == number);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
