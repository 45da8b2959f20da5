#pragma once

#include <QByteArray>
#include <QByteArrayView>

// A media packet: a three-letter kind, the body length as five decimal digits, the body,
// and the terminator at which the receiving endpoint cuts the stream. The receiver reads
// the header by position only.
class MediaPacket
{
public:
    enum class Kind { Unknown, Video, Audio, Text };

    // A received packet read into its kind and body.
    struct Received
    {
        Kind kind = Kind::Unknown;
        QByteArray body;
    };

    static constexpr char VideoKind[] = "KJP";
    static constexpr char AudioKind[] = "AUD";
    static constexpr char TextKind[] = "TXT";
    static constexpr char Terminator[] = "<E>";
    static constexpr int KindBytes = 3;
    static constexpr int HeaderBytes = 8;
    static constexpr int MaxBodyBytes = 99999; // the most five digits can say

    // kind + length ("00000" format) + body + "<E>". A kind that is not three bytes or a
    // body longer than MaxBodyBytes cannot be framed and gives an empty result.
    static QByteArray build(QByteArrayView kind, QByteArrayView body);

    // The length of header plus body of one received packet (the text of one data event,
    // terminator already removed): the number in characters 4 to 8, plus 8. 0 means the
    // packet is dropped: the field is not a positive number, or it promises more bytes than
    // the event carried.
    static int totalLength(const QByteArray &text);

    // The body of a packet that totalLength accepts (bytes 9 to the total length), else empty.
    static QByteArray body(const QByteArray &text);

    // The kind and the body of one received packet. A packet that totalLength drops, or one
    // of none of the three kinds, is Unknown; the body is read by the length alone.
    static Received parse(const QByteArray &text);
};
