#include "media/MediaPacket.h"

#include "core/Fields.h"

QByteArray MediaPacket::build(QByteArrayView kind, QByteArrayView body)
{
    if (kind.size() != KindBytes || body.size() > MaxBodyBytes)
        return {};
    QByteArray packet;
    packet.reserve(HeaderBytes + body.size() + 3);
    packet.append(kind);
    packet.append(QByteArray::number(body.size()).rightJustified(5, '0'));
    packet.append(body);
    packet.append(Terminator);
    return packet;
}

int MediaPacket::totalLength(const QByteArray &text)
{
    const qint64 bodyLength =
        Fields::leadingNumber(text.mid(KindBytes, HeaderBytes - KindBytes));
    if (bodyLength <= 0)
        return 0;
    const qint64 total = bodyLength + HeaderBytes;
    // A short body would make the engine read past what arrived.
    if (total > text.size())
        return 0;
    return int(total);
}

QByteArray MediaPacket::body(const QByteArray &text)
{
    const int total = totalLength(text);
    if (total == 0)
        return {};
    return text.mid(HeaderBytes, total - HeaderBytes);
}

MediaPacket::Received MediaPacket::parse(const QByteArray &text)
{
    Received packet;
    packet.body = body(text);
    if (packet.body.isEmpty())
        return packet;
    if (text.startsWith(VideoKind))
        packet.kind = Kind::Video;
    else if (text.startsWith(AudioKind))
        packet.kind = Kind::Audio;
    else if (text.startsWith(TextKind))
        packet.kind = Kind::Text;
    return packet;
}
