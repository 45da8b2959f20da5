// The chat connection as the program reads it: the byte stream cut at "<E>" within the
// chat endpoints' buffer, the way an endpoint reads its socket, each piece handed to the
// chat service of a whole program; and the chat protocol's parser on every piece.
//
// Input: a choice (bit 0: the listener's connection or the calling side's client; the
// rest: how many bytes each read takes), then the stream.
#include "FuzzSupport.h"

#include "chat/ChatProtocol.h"
#include "chat/ChatSession.h"
#include "core/IPDaemon.h"
#include "core/IPPort.h"
#include "core/LineCutter.h"
#include "media/SoundPlayer.h"
#include "media/MediaClock.h"
#include "root/Program.h"

#include <QApplication>

#include <memory>

namespace {

struct World
{
    std::unique_ptr<QApplication> app;
    std::unique_ptr<Program> program;
    // The conversation as a window replaying the service's edits shows it.
    QString shown;
};

World &world()
{
    static World w = [] {
        World made;
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz_chat";
        static char *argv[] = {name, nullptr};
        made.app = std::make_unique<QApplication>(argc, argv);
        // Not started: no port is opened, the chat service works all the same.
        made.program = std::make_unique<Program>(
            ProgramOptions{2000, FuzzSupport::scratchPath(QStringLiteral("profile")), {}, true});
        made.program->parts().sounds.setMuted(true);
        made.program->parts().mediaClock.setManual(100);
        return made;
    }();
    return w;
}

bool fitForTheBox(const QString &text)
{
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (u == '\n' || u == '\t')
            continue;
        if (u < 32 || u == 127 || (u >= 0x80 && u < 0xA0))
            return false;
    }
    return true;
}

// A character message reads back as the same character once built again.
void checkParser(const QByteArray &text)
{
    using Kind = ChatProtocol::Message::Kind;
    const ChatProtocol::Message m = ChatProtocol::parse(text);
    if (m.kind != Kind::Character) {
        FUZZ_CHECK(m.character == 0);
        return;
    }
    FUZZ_CHECK(m.character != 0 && m.character != ChatProtocol::Bell && m.character <= 0x10FFFF);
    FUZZ_CHECK(!(m.character >= 0xD800 && m.character <= 0xDFFF));
    QByteArray again = ChatProtocol::typed(m.character);
    FUZZ_CHECK(again.endsWith(ChatProtocol::Terminator));
    again.chop(3);
    const ChatProtocol::Message back = ChatProtocol::parse(again);
    FUZZ_CHECK(back.kind == Kind::Character && back.character == m.character);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    World &w = world();
    ChatSession &chat = w.program->chat();
    FuzzSupport::Choices input(FuzzSupport::bytes(data, size));
    const uint8_t choice = input.take();
    const bool listener = choice & 1;
    const qsizetype readSize = 1 + (choice >> 1) * 13;
    const QByteArray stream = input.rest();

    chat.clearText();
    w.shown.clear();
    // A new connection starts with no long message under way.
    if (listener)
        emit chat.ipdText().connected(1, 0, QString());
    else
        emit chat.ippText().connected(0, QString());
    const QMetaObject::Connection replay =
        QObject::connect(&chat, &ChatSession::conversationEdited, [&w](int cut, int chop, const QString &added) {
            FUZZ_CHECK(cut >= 0 && chop >= 0 && cut + chop <= w.shown.size());
            w.shown.remove(0, cut);
            w.shown.chop(chop);
            w.shown += added;
        });

    LineCutter cutter;
    cutter.setTerminator(ChatProtocol::Terminator);
    cutter.setLimit(ChatSession::InputBufferSize);
    qsizetype at = 0;
    for (;;) {
        QByteArray text;
        bool eol = false;
        while (cutter.next(&text, &eol)) {
            FUZZ_CHECK(text.size() <= ChatSession::InputBufferSize);
            checkParser(text);
            if (listener)
                emit chat.ipdText().dataIn(1, text, eol);
            else
                emit chat.ippText().dataIn(text, eol);
        }
        if (at >= stream.size())
            break;
        const QByteArray part = stream.mid(at, std::min(readSize, cutter.room()));
        cutter.append(part);
        at += part.size();
    }
    QObject::disconnect(replay);

    // The box stays bounded and clean, the window's copy is the service's text, and the
    // user's own typing is untouched.
    const QString &text = chat.conversation().text();
    FUZZ_CHECK(text.size() <= ChatSession::ConversationLimit + 2);
    FUZZ_CHECK(fitForTheBox(text));
    FUZZ_CHECK(w.shown == text);
    FUZZ_CHECK(chat.typing().isEmpty());
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    return 0;
}
