#include "call/ControlProtocol.h"

#include "core/Fields.h"

namespace ControlProtocol {

namespace {

// The user's own name and location go out as fields. A ";" inside one would shift the
// fields so that the peer sees a 5-field request and ignores it; a line break would
// split the peer's log and transcript lines. Both are dropped.
QByteArray fieldText(const QString &text)
{
    QString clean = text;
    clean.remove(QLatin1Char(';'));
    clean.remove(QLatin1Char('\r'));
    clean.remove(QLatin1Char('\n'));
    return Fields::toWire(clean);
}

QByteArray nameLocationTime(const QString &name, const QString &location, QTime localTime)
{
    return fieldText(name) + ';' + fieldText(location) + ';' + Fields::toWire(timeText(localTime))
           + ';';
}

// A field from the peer, made fit for a label, a log line and a transcript line.
QString peerText(const QByteArray &field)
{
    QString text = Fields::singleLine(Fields::fromWire(field));
    if (text.size() > MaxFieldLength) {
        text.truncate(MaxFieldLength);
        if (text.back().isHighSurrogate())
            text.chop(1); // never leave half a character behind
    }
    return text;
}

// Field k of a message with n fields. A field the message does not hold is empty: the
// field routine would hand back the last field again, so a short acceptance would show
// the callee's name as its location.
QByteArray field(const QByteArray &text, int n, int k)
{
    return k <= n + 1 ? Fields::getField(text, k) : QByteArray();
}

} // namespace

QByteArray request(const QString &name, const QString &location, QTime localTime)
{
    return "RQC;" + nameLocationTime(name, location, localTime);
}

QByteArray acceptance(const QString &name, const QString &location, QTime localTime)
{
    return "RRS;YES;" + nameLocationTime(name, location, localTime);
}

QByteArray refusal()
{
    return QByteArrayLiteral("RRS;NO;");
}

QByteArray busy()
{
    return QByteArrayLiteral("BSY");
}

QByteArray userInfo(bool realTimeChat)
{
    return QByteArray("UIF;") + Version + ';' + (realTimeChat ? "True" : "False") + ';';
}

QString timeText(QTime localTime)
{
    if (!localTime.isValid())
        localTime = QTime(0, 0);
    return QString::number(localTime.hour()) + QLatin1Char(':')
           + QStringLiteral("%1").arg(localTime.minute(), 2, 10, QLatin1Char('0'));
}

Message parse(const QByteArray &text)
{
    Message message;
    const QByteArray command = text.left(3);
    const int n = Fields::countFields(text);

    if (command == "RQC") {
        if (n != 4)
            return message;
        message.kind = Message::Kind::Request;
        message.name = peerText(field(text, n, 2));
        message.location = peerText(field(text, n, 3));
        message.time = peerText(field(text, n, 4));
    } else if (command == "RRS") {
        if (n < 2)
            return message;
        if (field(text, n, 2) == "YES") {
            message.kind = Message::Kind::Accepted;
            message.name = peerText(field(text, n, 3));
            message.location = peerText(field(text, n, 4));
            message.time = peerText(field(text, n, 5));
        } else {
            message.kind = Message::Kind::Refused;
        }
    } else if (command == "BSY") {
        message.kind = Message::Kind::Busy;
    } else if (command == "UIF") {
        message.kind = Message::Kind::UserInfo;
        message.isV25 = field(text, n, 2) == Version;
        message.rtc = field(text, n, 3) == "True";
    }
    // "KEY", "FST" and everything else: nothing to do.
    return message;
}

} // namespace ControlProtocol
