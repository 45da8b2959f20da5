// The quick-message texts, byte by byte, and the listener's parser under hostile input.

#include "messages/QuickMessageProtocol.h"

#include "support/TestSupport.h"

namespace Proto = QuickMessageProtocol;
using Kind = Proto::Message::Kind;

class TestQuickMessageProtocol : public QObject
{
    Q_OBJECT

private slots:
    // The sender's texts carry the number two ways; payloads go out as exact bytes.
    void senderTextsAreExactBytes()
    {
        QCOMPARE(Proto::request(71), QByteArray("MSR;71;<E>"));
        QCOMPARE(Proto::request(-1), QByteArray("MSR;-1;<E>"));
        QCOMPARE(Proto::request(0), QByteArray("MSR;0;<E>"));

        Proto::Head h{71, "Ann", "ann@x.org", "Rome", "1/2/25 9:05 AM", "Hello there"};
        QCOMPARE(Proto::head(h), QByteArray("MSB; 71;Ann;ann@x.org;Rome;1/2/25 9:05 AM;Hello there;<E>"));
        h.userNumber = 0;
        QVERIFY(Proto::head(h).startsWith("MSB; 0;Ann;"));
        h.userNumber = -1;
        QVERIFY(Proto::head(h).startsWith("MSB;-1;Ann;"));

        QCOMPARE(Proto::audioEnd(), QByteArray("MAF;<E>"));
        QCOMPARE(Proto::end(), QByteArray("MSE;<E>"));
        QCOMPARE(Proto::accepted(), QByteArray("MRA;<E>"));
        QCOMPARE(Proto::declined(), QByteArray("MRD;<E>"));
        QCOMPARE(Proto::next(), QByteArray("MRN;<E>"));

        const QByteArray picture("\xFF\xD8;;\x00\x01<E;\xFF\xD9", 11);
        QCOMPARE(Proto::picture(picture), QByteArray("MDI;11;") + picture + QByteArray(";<E>"));
        const QByteArray block(132, ';');
        QCOMPARE(Proto::audioBlock(block), QByteArray("MDA;132;") + block + ";<E>");
        QCOMPARE(Proto::audioBlock({}), QByteArray("MDA;0;;<E>"));
        // What the listener gets back after cutting at the terminator is the same bytes.
        const Proto::Message m = Proto::parse(Proto::picture(picture).chopped(3));
        QCOMPARE(m.kind, Kind::Picture);
        QCOMPARE(m.payload, picture);
    }

    void headFieldsCannotShiftOrCutTheMessage()
    {
        Proto::Head h{5, "Ann;Smith\r\n", "a;b@x.org", "Ro<E>me", "now", "one; two <E> three;"};
        const QByteArray wire = Proto::head(h);
        // One terminator, at the end.
        QCOMPARE(wire.indexOf("<E>"), wire.size() - 3);
        const Proto::Message m = Proto::parse(wire.chopped(3));
        QCOMPARE(m.kind, Kind::Head);
        QCOMPARE(m.head.userNumber, 5);
        QCOMPARE(m.head.name, QStringLiteral("AnnSmith"));
        QCOMPARE(m.head.email, QStringLiteral("ab@x.org"));
        QCOMPARE(m.head.location, QStringLiteral("Ro<E\u200B>me"));
        QCOMPARE(m.head.sentAt, QStringLiteral("now"));
        // The text keeps its ";" and line breaks: it is the last field.
        QCOMPARE(m.head.text, QStringLiteral("one; two <E\u200B> three;"));

        h.text = QStringLiteral("line 1\nline 2");
        QCOMPARE(Proto::parse(Proto::head(h).chopped(3)).head.text, h.text);
    }

    void aLongTextIsCutToFitTheListener()
    {
        Proto::Head h{5, "Ann", "a@x.org", "Rome", "now", QString(40000, QChar(0x00E9))};
        const QByteArray wire = Proto::head(h);
        QVERIFY(wire.size() - 3 <= Proto::InputBufferSize);
        QVERIFY(wire.size() - 3 > Proto::InputBufferSize - 8);
        const QString text = Proto::parse(wire.chopped(3)).head.text;
        // Cut between characters, never inside one.
        QVERIFY(!text.contains(QChar::ReplacementCharacter));
        QCOMPARE(text, QString(text.size(), QChar(0x00E9)));
    }

    void aPeerHeadIsReadLeniently()
    {
        // A number with blanks, a text cut where an older sender's receiver would not cut.
        Proto::Message m = Proto::parse("MSB;   42;Bob;bob@x.org;Oslo;today;hi; there;");
        QCOMPARE(m.head.userNumber, 42);
        QCOMPARE(m.head.text, QStringLiteral("hi; there"));
        // Missing fields read empty.
        m = Proto::parse("MSB; 7;Bob");
        QCOMPARE(m.kind, Kind::Head);
        QCOMPARE(m.head.userNumber, 7);
        QCOMPARE(m.head.name, QStringLiteral("Bob"));
        QVERIFY(m.head.email.isEmpty() && m.head.location.isEmpty() && m.head.text.isEmpty());
        m = Proto::parse("MSB");
        QCOMPARE(m.kind, Kind::Head);
        QCOMPARE(m.head.userNumber, 0);
        // Long fields are cut; line breaks turn into blanks.
        m = Proto::parse("MSB;1;" + QByteArray(5000, 'n') + ";a\r\nb;");
        QCOMPARE(m.head.name.size(), Proto::MaxFieldLength);
        QCOMPARE(m.head.email, QStringLiteral("a  b"));
    }

    void requestsAndReplies()
    {
        QCOMPARE(Proto::parse("MSR;71;").userNumber, 71);
        QCOMPARE(Proto::parse("MSR; -1").userNumber, -1);
        QCOMPARE(Proto::parse("MSR").kind, Kind::Request);
        QCOMPARE(Proto::parse("MSR").userNumber, 0);
        QCOMPARE(Proto::parse("MSR;99999999999999;").userNumber, std::numeric_limits<qint32>::max());
        QCOMPARE(Proto::parse("MAF;").kind, Kind::AudioEnd);
        QCOMPARE(Proto::parse("MSE").kind, Kind::End);
        QCOMPARE(Proto::parse("").kind, Kind::Ignored);
        QCOMPARE(Proto::parse("msr;1;").kind, Kind::Ignored);
        QCOMPARE(Proto::parse("XYZ;1;").kind, Kind::Ignored);

        QCOMPARE(Proto::parseReply("MRA;"), Proto::Reply::Accepted);
        QCOMPARE(Proto::parseReply("MRD;"), Proto::Reply::Declined);
        QCOMPARE(Proto::parseReply("MRN"), Proto::Reply::Next);
        QCOMPARE(Proto::parseReply("MRX;"), Proto::Reply::Other);
        QCOMPARE(Proto::parseReply(""), Proto::Reply::Other);
    }

    void countsNeverReachPastTheMessage()
    {
        // Larger than what is there: what is there.
        QCOMPARE(Proto::parse("MDI;500;abc;").payload, QByteArray("abc;"));
        QCOMPARE(Proto::parse("MDA;99999999999999999999;xy").payload, QByteArray("xy"));
        // Negative, missing or not a number: nothing.
        QCOMPARE(Proto::parse("MDA;-5;abc;").payload, QByteArray());
        QCOMPARE(Proto::parse("MDA;;abc;").payload, QByteArray());
        QCOMPARE(Proto::parse("MDA;zz;abc;").payload, QByteArray());
        QCOMPARE(Proto::parse("MDI").payload, QByteArray());
        QCOMPARE(Proto::parse("MDI;3").payload, QByteArray());
        // Exactly the count, whatever the bytes are.
        QCOMPARE(Proto::parse("MDA;3;;;;;").payload, QByteArray(";;;"));
        QCOMPARE(Proto::parse(QByteArray("MDI;2;\0\0;", 9)).payload, QByteArray("\0\0", 2));
    }
};

QTEST_GUILESS_MAIN(TestQuickMessageProtocol)
#include "tst_quickmessageprotocol.moc"
