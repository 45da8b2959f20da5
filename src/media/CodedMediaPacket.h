#pragma once

#include <QByteArray>
#include <QByteArrayView>

// The media packets two programs of this version add on an encrypted call that agreed on
// them: VP8 pictures, Opus sound and the receiver's request for a key frame. They are
// framed like the published packets (kind, five-digit length, body, terminator), and the
// body is the coded bytes with every '<' and escape byte replaced by a two-byte escape,
// so that the terminator can never occur inside it.
class CodedMediaPacket
{
public:
    enum class Kind { Unknown, Vp8, Opus, KeyFrameRequest };

    struct Received
    {
        Kind kind = Kind::Unknown;
        QByteArray payload;
    };

    static constexpr char Vp8Kind[] = "VP8";
    static constexpr char OpusKind[] = "OPU";
    static constexpr char KeyFrameRequestKind[] = "KFR";
    // Coded bytes per packet at most; escaped they fit the media endpoint's input buffer.
    static constexpr int MaxPayloadBytes = 19000;
    static constexpr char Escape = '\x1b';

    // The whole packet; empty for a payload that is empty or larger than MaxPayloadBytes.
    static QByteArray build(Kind kind, QByteArrayView payload);
    // One received packet (terminator already removed). Unknown for a packet of another
    // kind, a length the text does not cover, or a body that does not unescape.
    static Received parse(const QByteArray &text);

    static QByteArray escape(QByteArrayView payload);
    // Empty for a body with a bare '<', an escape at its end or an unknown escape.
    static QByteArray unescape(QByteArrayView body);
};
