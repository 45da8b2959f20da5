#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QList>

// The media packets two programs of this version add on an encrypted call that agreed on
// them: VP8 pictures, Opus sound and the receiver's request for a key frame. They are
// framed like the published packets (kind, five-digit length, body, terminator), and the
// body is the coded bytes with every '<' and escape byte replaced by a two-byte escape,
// so that the terminator can never occur inside it.
class CodedMediaPacket
{
public:
    enum class Kind { Unknown, Vp8, Opus, KeyFrameRequest, Vp8Part, DatagramOffer, DatagramArrived, DatagramStopped };

    struct Received
    {
        Kind kind = Kind::Unknown;
        QByteArray payload;
    };

    static constexpr char Vp8Kind[] = "VP8";
    static constexpr char OpusKind[] = "OPU";
    static constexpr char KeyFrameRequestKind[] = "KFR";
    // A leading part of a VP8 frame too large for one packet; the frame's last part comes
    // as an ordinary VP8 packet.
    static constexpr char Vp8PartKind[] = "VPP";
    // Only on a call that agreed on datagrams: a side's port and key for them, word that
    // the peer's datagrams arrive, and word that this side went back to the channel.
    static constexpr char DatagramOfferKind[] = "DGO";
    static constexpr char DatagramArrivedKind[] = "DGA";
    static constexpr char DatagramStoppedKind[] = "DGS";
    // Coded bytes per packet at most; escaped they fit the media endpoint's input buffer.
    static constexpr int MaxPayloadBytes = 19000;
    static constexpr char Escape = '\x1b';
    // A whole VP8 frame at most (a shared screen's key frame is the largest).
    static constexpr int MaxFrameBytes = 1024 * 1024;

    // The whole packet; empty for a payload that is empty or larger than MaxPayloadBytes.
    static QByteArray build(Kind kind, QByteArrayView payload);
    // A VP8 frame of up to MaxFrameBytes as its packets, in order; none for an empty or
    // larger frame. Other packets may go between them.
    static QList<QByteArray> buildVp8Frame(QByteArrayView frame);
    // One received packet (terminator already removed). Unknown for a packet of another
    // kind, a length the text does not cover, or a body that does not unescape.
    static Received parse(const QByteArray &text);

    static QByteArray escape(QByteArrayView payload);
    // Empty for a body with a bare '<', an escape at its end or an unknown escape.
    static QByteArray unescape(QByteArrayView body);
};
