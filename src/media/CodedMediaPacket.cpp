#include "media/CodedMediaPacket.h"

#include "media/MediaPacket.h"

namespace {

constexpr char Open = '<';
constexpr char ForOpen = '\x01';
constexpr char ForEscape = '\x02';

const char *kindText(CodedMediaPacket::Kind kind)
{
    switch (kind) {
    case CodedMediaPacket::Kind::Vp8:
        return CodedMediaPacket::Vp8Kind;
    case CodedMediaPacket::Kind::Opus:
        return CodedMediaPacket::OpusKind;
    case CodedMediaPacket::Kind::KeyFrameRequest:
        return CodedMediaPacket::KeyFrameRequestKind;
    case CodedMediaPacket::Kind::Vp8Part:
        return CodedMediaPacket::Vp8PartKind;
    case CodedMediaPacket::Kind::DatagramOffer:
        return CodedMediaPacket::DatagramOfferKind;
    case CodedMediaPacket::Kind::DatagramArrived:
        return CodedMediaPacket::DatagramArrivedKind;
    case CodedMediaPacket::Kind::DatagramStopped:
        return CodedMediaPacket::DatagramStoppedKind;
    case CodedMediaPacket::Kind::Unknown:
        break;
    }
    return nullptr;
}

} // namespace

QByteArray CodedMediaPacket::escape(QByteArrayView payload)
{
    QByteArray out;
    out.reserve(payload.size() + payload.size() / 64 + 8);
    for (const char c : payload) {
        if (c == Open) {
            out.append(Escape);
            out.append(ForOpen);
        } else if (c == Escape) {
            out.append(Escape);
            out.append(ForEscape);
        } else {
            out.append(c);
        }
    }
    return out;
}

QByteArray CodedMediaPacket::unescape(QByteArrayView body)
{
    QByteArray out;
    out.reserve(body.size());
    for (qsizetype i = 0; i < body.size(); ++i) {
        const char c = body[i];
        if (c == Open)
            return {};
        if (c != Escape) {
            out.append(c);
            continue;
        }
        if (++i >= body.size())
            return {};
        if (body[i] == ForOpen)
            out.append(Open);
        else if (body[i] == ForEscape)
            out.append(Escape);
        else
            return {};
    }
    return out;
}

QByteArray CodedMediaPacket::build(Kind kind, QByteArrayView payload)
{
    const char *name = kindText(kind);
    if (!name || payload.isEmpty() || payload.size() > MaxPayloadBytes)
        return {};
    return MediaPacket::build(name, escape(payload));
}

QList<QByteArray> CodedMediaPacket::buildVp8Frame(QByteArrayView frame)
{
    if (frame.isEmpty() || frame.size() > MaxFrameBytes)
        return {};
    QList<QByteArray> packets;
    while (frame.size() > MaxPayloadBytes) {
        packets.append(build(Kind::Vp8Part, frame.first(MaxPayloadBytes)));
        frame = frame.sliced(MaxPayloadBytes);
    }
    packets.append(build(Kind::Vp8, frame));
    return packets;
}

CodedMediaPacket::Received CodedMediaPacket::parse(const QByteArray &text)
{
    Received packet;
    Kind kind = Kind::Unknown;
    for (const Kind k : {Kind::Vp8, Kind::Opus, Kind::KeyFrameRequest, Kind::Vp8Part, Kind::DatagramOffer,
                         Kind::DatagramArrived, Kind::DatagramStopped}) {
        if (text.startsWith(kindText(k)))
            kind = k;
    }
    if (kind == Kind::Unknown)
        return packet;
    const QByteArray body = MediaPacket::body(text);
    // Twice the payload is the most escaping makes of it.
    if (body.isEmpty() || body.size() > 2 * MaxPayloadBytes)
        return packet;
    packet.payload = unescape(body);
    if (packet.payload.isEmpty() || packet.payload.size() > MaxPayloadBytes)
        return {};
    packet.kind = kind;
    return packet;
}
