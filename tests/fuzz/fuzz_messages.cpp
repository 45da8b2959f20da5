// The quick-message listener as the program reads it: the stream cut at "<E>" within the
// listener's buffer, its lines handed to the message service as coming from a handful of
// connections, some of which leave in between; and the protocol's parser on every line.
// The slots must stay consistent, what is stored stays within its bounds, and once every
// sender has gone no slot is left receiving.
//
// Input: a count n (1 to 8) and n choices, then the stream. Line i comes from the
// connection of choice i mod n: bits 0-2 the connection number - 1, bit 3 the connection
// leaves after the line, bit 4 the user has switched quick messages off.
#include "FuzzSupport.h"

#include "core/Fields.h"
#include "core/IPDaemon.h"
#include "core/LineCutter.h"
#include "media/SoundPlayer.h"
#include "messages/MessageMedia.h"
#include "messages/MessageService.h"
#include "messages/MessageStore.h"
#include "messages/QuickMessageProtocol.h"
#include "root/Program.h"

#include <QApplication>

#include <memory>
#include <vector>

namespace Proto = QuickMessageProtocol;

namespace {

constexpr int Connections = 8;

struct World
{
    std::unique_ptr<QApplication> app;
    std::unique_ptr<Program> program;
};

World &world()
{
    static World w = [] {
        World made;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_messages";
        static char *argv[] = {name, nullptr};
        made.app = std::make_unique<QApplication>(argc, argv);
        // Not started: no port is opened, the message service works all the same.
        made.program = std::make_unique<Program>(
            ProgramOptions{2000, FuzzSupport::scratchPath(QStringLiteral("profile")), {}, true});
        made.program->parts().sounds.setMuted(true);
        return made;
    }();
    return w;
}

bool oneLine(const QString &text)
{
    return Fields::singleLine(text) == text;
}

// Every line parses without reading past it; a head, built again from what was read,
// reads back the same once its texts have been through one round.
void checkParser(const QByteArray &line)
{
    using Kind = Proto::Message::Kind;
    Proto::parseReply(line);
    const Proto::Message m = Proto::parse(line);
    switch (m.kind) {
    case Kind::Picture:
    case Kind::Audio:
        FUZZ_CHECK(m.payload.size() <= line.size());
        FUZZ_CHECK(line.contains(m.payload));
        break;
    case Kind::Head: {
        for (const QString *field : {&m.head.name, &m.head.email, &m.head.location, &m.head.sentAt}) {
            FUZZ_CHECK(field->size() <= Proto::MaxFieldLength);
            FUZZ_CHECK(oneLine(*field));
        }
        QByteArray once = Proto::head(m.head);
        FUZZ_CHECK(once.endsWith(Proto::Terminator));
        once.chop(3);
        FUZZ_CHECK(once.size() <= Proto::InputBufferSize);
        FUZZ_CHECK(!once.contains(Proto::Terminator));
        const Proto::Message first = Proto::parse(once);
        FUZZ_CHECK(first.kind == Kind::Head && first.head.userNumber == m.head.userNumber);
        QByteArray twice = Proto::head(first.head);
        twice.chop(3);
        const Proto::Message second = Proto::parse(twice);
        FUZZ_CHECK(second.head.name == first.head.name && second.head.email == first.head.email);
        FUZZ_CHECK(second.head.location == first.head.location && second.head.sentAt == first.head.sentAt);
        FUZZ_CHECK(second.head.text == first.head.text);
        break;
    }
    default:
        FUZZ_CHECK(m.payload.isEmpty());
        break;
    }
}

void checkStore(const MessageStore &store)
{
    int waiting = 0;
    for (int slot = 1; slot <= MessageStore::Slots; ++slot) {
        const QuickMessage &message = store.message(slot);
        FUZZ_CHECK(message.picture.size() <= Proto::MaxPictureBytes);
        FUZZ_CHECK(message.audioBlocks.size() <= Proto::MaxAudioBlocks);
        for (const QByteArray &block : message.audioBlocks)
            FUZZ_CHECK(block.size() <= Proto::MaxAudioBlockBytes);
        if (store.state(slot) == MessageStore::Complete)
            ++waiting;
    }
    FUZZ_CHECK(waiting == store.waitingCount());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &w = world();
    MessageService &service = w.program->messages();
    IPDaemon &daemon = service.ipdMessage();
    FuzzSupport::Choices input(FuzzSupport::bytes(data, size));
    std::vector<uint8_t> choices(1 + input.take() % Connections);
    for (uint8_t &c : choices)
        c = input.take();
    const QByteArray stream = input.rest();

    bool open[Connections] = {};
    // A message completed: the listener closes its connection there and then.
    bool completed = false;
    const QMetaObject::Connection watch =
        QObject::connect(&service, &MessageService::waitingChanged, [&completed] { completed = true; });
    const auto leave = [&](int id) {
        open[id - 1] = false;
        emit daemon.disconnected(id, 0, QString());
    };

    LineCutter cutter;
    cutter.setTerminator(Proto::Terminator);
    cutter.setLimit(Proto::InputBufferSize);
    size_t line = 0;
    qsizetype at = 0;
    for (;;) {
        QByteArray text;
        bool eol = false;
        while (cutter.next(&text, &eol)) {
            FUZZ_CHECK(text.size() <= Proto::InputBufferSize);
            if (eol)
                checkParser(text);
            const uint8_t c = choices[line++ % choices.size()];
            const int id = 1 + (c & 7);
            w.program->settings().Disable = (c & 16) != 0;
            if (!open[id - 1]) {
                open[id - 1] = true;
                emit daemon.connected(id, 0, QString());
            }
            completed = false;
            emit daemon.dataIn(id, text, eol);
            if (completed || (c & 8))
                leave(id);
            checkStore(service.store());
        }
        if (at >= stream.size())
            break;
        const QByteArray part = stream.mid(at, cutter.room());
        cutter.append(part);
        at += part.size();
    }
    for (int id = 1; id <= Connections; ++id) {
        if (open[id - 1])
            leave(id);
    }
    QObject::disconnect(watch);

    // Nobody is sending any more: every slot is free or holds a whole message, and the
    // user reads them all (the thumbnail decoded as the viewer does it).
    const MessageStore &store = service.store();
    for (int slot = 1; slot <= MessageStore::Slots; ++slot)
        FUZZ_CHECK(store.state(slot) != MessageStore::Receiving);
    while (std::optional<QuickMessage> message = service.takeOldest()) {
        const QImage picture = w.program->messageMedia().thumbnail(message->picture);
        FUZZ_CHECK(picture.isNull()
                   || (picture.width() == Proto::ThumbnailWidth && picture.height() == Proto::ThumbnailHeight));
        for (const QString *field : {&message->senderName, &message->senderEmail, &message->senderLocation})
            FUZZ_CHECK(oneLine(*field) && field->size() <= Proto::MaxFieldLength);
    }
    FUZZ_CHECK(service.waitingCount() == 0);
    w.program->settings().Disable = false;
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
