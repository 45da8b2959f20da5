#include "messages/QuickMessageProtocol.h"

#include "core/Fields.h"

#include <algorithm>

namespace QuickMessageProtocol {

namespace {

// A terminator inside a text would cut the message in two at the receiver; a zero-width
// space between its letters keeps what the user sees.
const QByteArray BrokenTerminator = QByteArrayLiteral("<E\xE2\x80\x8B>");

QByteArray breakTerminators(QByteArray bytes)
{
    return bytes.replace(Terminator, BrokenTerminator);
}

// Name, e-mail, location and time: a ";" would shift the fields after it, a line break
// would split the receiver's one-line panels.
QByteArray headField(const QString &text)
{
    QString clean = text;
    clean.remove(QLatin1Char(';'));
    clean.remove(QLatin1Char('\r'));
    clean.remove(QLatin1Char('\n'));
    return breakTerminators(Fields::utf8Left(Fields::toWire(clean), MaxFieldLength));
}

QString peerField(const QByteArray &bytes)
{
    QString text = Fields::singleLine(Fields::fromWire(bytes));
    if (text.size() > MaxFieldLength) {
        text.truncate(MaxFieldLength);
        if (text.back().isHighSurrogate())
            text.chop(1);
    }
    return text;
}

QByteArray payloadMessage(const char *command, const QByteArray &bytes)
{
    return command + QByteArray::number(bytes.size()) + ';' + bytes + ';' + Terminator;
}

// Reads the field starting at *pos and moves *pos past its ";" (or to the end).
QByteArray takeField(const QByteArray &line, qsizetype *pos)
{
    if (*pos >= line.size())
        return {};
    const qsizetype semi = line.indexOf(';', *pos);
    const qsizetype end = semi < 0 ? line.size() : semi;
    QByteArray field = line.mid(*pos, end - *pos);
    *pos = semi < 0 ? line.size() : semi + 1;
    return field;
}

QByteArray countedPayload(const QByteArray &line, qsizetype pos)
{
    const qint64 count = Fields::leadingNumber(takeField(line, &pos));
    const qint64 present = line.size() - pos;
    const qint64 taken = std::clamp<qint64>(count, 0, present);
    return line.mid(pos, qsizetype(taken));
}

} // namespace

QByteArray paddedNumber(qint32 number)
{
    return number >= 0 ? QByteArray(" ") + QByteArray::number(number) : QByteArray::number(number);
}

QByteArray request(qint32 userNumber)
{
    return "MSR;" + QByteArray::number(userNumber) + ';' + Terminator;
}

QByteArray head(const Head &h)
{
    QByteArray m = "MSB;" + paddedNumber(h.userNumber) + ';';
    m += headField(h.name) + ';';
    m += headField(h.email) + ';';
    m += headField(h.location) + ';';
    m += headField(h.sentAt) + ';';
    // The text is the last field, so a ";" inside it is kept: the receiver takes all of
    // what follows the time. The message must still fit the listener's buffer.
    const int room = InputBufferSize - int(m.size()) - 1;
    m += Fields::utf8Left(breakTerminators(Fields::toWire(h.text)), room) + ';';
    return m + Terminator;
}

QByteArray picture(const QByteArray &bytes)
{
    return payloadMessage("MDI;", bytes);
}

QByteArray audioBlock(const QByteArray &bytes)
{
    return payloadMessage("MDA;", bytes);
}

QByteArray audioEnd()
{
    return QByteArray("MAF;") + Terminator;
}

QByteArray end()
{
    return QByteArray("MSE;") + Terminator;
}

QByteArray accepted()
{
    return QByteArray("MRA;") + Terminator;
}

QByteArray declined()
{
    return QByteArray("MRD;") + Terminator;
}

QByteArray next()
{
    return QByteArray("MRN;") + Terminator;
}

Reply parseReply(const QByteArray &line)
{
    const QByteArray command = Fields::getField(line, 1);
    if (command == "MRA")
        return Reply::Accepted;
    if (command == "MRD")
        return Reply::Declined;
    if (command == "MRN")
        return Reply::Next;
    return Reply::Other;
}

Message parse(const QByteArray &line)
{
    Message m;
    qsizetype pos = 0;
    const QByteArray command = takeField(line, &pos);
    if (command == "MSR") {
        m.kind = Message::Kind::Request;
        m.userNumber = Fields::leadingInt32(takeField(line, &pos));
    } else if (command == "MSB") {
        m.kind = Message::Kind::Head;
        m.head.userNumber = Fields::leadingInt32(takeField(line, &pos));
        m.head.name = peerField(takeField(line, &pos));
        m.head.email = peerField(takeField(line, &pos));
        m.head.location = peerField(takeField(line, &pos));
        m.head.sentAt = peerField(takeField(line, &pos));
        // All that follows, without the ";" that closes the last field.
        QByteArray text = line.mid(std::min(pos, line.size()));
        if (text.endsWith(';'))
            text.chop(1);
        m.head.text = Fields::fromWire(text);
    } else if (command == "MDI") {
        m.kind = Message::Kind::Picture;
        m.payload = countedPayload(line, pos);
    } else if (command == "MDA") {
        m.kind = Message::Kind::Audio;
        m.payload = countedPayload(line, pos);
    } else if (command == "MAF") {
        m.kind = Message::Kind::AudioEnd;
    } else if (command == "MSE") {
        m.kind = Message::Kind::End;
    }
    return m;
}

} // namespace QuickMessageProtocol
