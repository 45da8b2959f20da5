#include "chat/ChatProtocol.h"

#include <QList>
#include <QString>
#include <QStringDecoder>

namespace ChatProtocol {

namespace {

// The one character a run of bytes spells, or 0 when it is not exactly one character. A
// single byte that is not UTF-8 on its own is taken as the Latin-1 letter it names.
char32_t singleCharacter(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return 0;
    if (bytes.size() == 1)
        return char32_t(uchar(bytes.front()));
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder.decode(bytes);
    if (decoder.hasError())
        return 0;
    const QList<uint> characters = text.toUcs4();
    return characters.size() == 1 ? char32_t(characters.front()) : 0;
}

// The first UTF-8 character of a run of bytes (a lone byte when it starts none).
QByteArray firstCharacterBytes(const QByteArray &bytes)
{
    const uchar lead = uchar(bytes.front());
    const int length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    if (length > 1 && singleCharacter(bytes.left(length)) != 0)
        return bytes.left(length);
    return bytes.left(1);
}

} // namespace

QByteArray typed(char32_t character)
{
    return 'T' + QString::fromUcs4(&character, 1).toUtf8() + ';' + Terminator;
}

QByteArray ringUser()
{
    return QByteArray("T\x07") + Terminator;
}

QByteArray bell()
{
    return QByteArray("BEL") + Terminator;
}

Message parse(const QByteArray &text)
{
    Message m;
    if (text.startsWith("BEL")) {
        m.kind = Message::Kind::Bell;
        return m;
    }
    if (!text.startsWith('T') || text.size() < 2)
        return m;
    const QByteArray rest = text.mid(1);
    const qsizetype end = rest.lastIndexOf(';');
    const char32_t c = singleCharacter(end >= 0 ? rest.left(end) : firstCharacterBytes(rest));
    if (c == 0)
        return m;
    m.kind = c == Bell ? Message::Kind::Bell : Message::Kind::Character;
    m.character = c == Bell ? 0 : c;
    return m;
}

} // namespace ChatProtocol
