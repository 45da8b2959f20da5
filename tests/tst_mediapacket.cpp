#include "media/MediaPacket.h"

#include "support/TestSupport.h"

class TestMediaPacket : public QObject
{
    Q_OBJECT

private slots:
    void framing()
    {
        QCOMPARE(MediaPacket::build(MediaPacket::TextKind, "hello"), QByteArray("TXT00005hello<E>"));
        const QByteArray largest(MediaPacket::MaxBodyBytes, '\0');
        QByteArray wire = MediaPacket::build(MediaPacket::VideoKind, largest);
        QVERIFY(wire.startsWith("KJP99999") && wire.endsWith("<E>"));
        wire.chop(3); // the endpoint hands over the packet without its terminator
        QCOMPARE(MediaPacket::body(wire), largest);
        // Neither five digits nor a kind of another length can frame these.
        QVERIFY(MediaPacket::build(MediaPacket::VideoKind, largest + 'x').isEmpty());
        QVERIFY(MediaPacket::build("TEXT", "hello").isEmpty());
    }

    void headerReadByPositionOnly()
    {
        const struct { QByteArray text; int total; QByteArray body; } cases[] = {
            {"TXT00005hello", 13, "hello"},
            {"TXT00000hello", 0, {}},
            {"TXTabcdehello", 0, {}},
            {"TXT-0005hello", 0, {}},
            {"TXT   05hello", 13, "hello"},
            {"TXT0005Xhello", 13, "hello"},
            {"TXT000031abc", 11, "1ab"}, // the field is five characters wide
            {"TXT00005hello world", 13, "hello"},
            {"ZZZ00003abc", 11, "abc"}, // the length is read whatever the kind
            {"TXT00006hello", 0, {}}, // body shorter than its header
            {"KJP99999" + QByteArray(500, 'j'), 0, {}},
            {"TXT5", 0, {}},
        };
        for (const auto &c : cases) {
            QCOMPARE(MediaPacket::totalLength(c.text), c.total);
            QCOMPARE(MediaPacket::body(c.text), c.body);
        }
    }

    void packetsAreReadIntoKindAndBody()
    {
        using Kind = MediaPacket::Kind;
        const struct { QByteArray text; Kind kind; QByteArray body; } cases[] = {
            {"KJP00003jpg", Kind::Video, "jpg"},
            {"AUD00004gsm!<E>trailing", Kind::Audio, "gsm!"}, // only the length given counts
            {"TXT00005hello", Kind::Text, "hello"},
            {"XYZ00005hello", Kind::Unknown, "hello"},
            {"kjp00003jpg", Kind::Unknown, "jpg"},
            {"TXT00006hello", Kind::Unknown, {}},
            {"AUD00000", Kind::Unknown, {}},
            {"TXT0000", Kind::Unknown, {}},
        };
        for (const auto &c : cases) {
            const MediaPacket::Received packet = MediaPacket::parse(c.text);
            QCOMPARE(packet.kind, c.kind);
            QCOMPARE(packet.body, c.body);
        }
    }
};

QTEST_APPLESS_MAIN(TestMediaPacket)
#include "tst_mediapacket.moc"
