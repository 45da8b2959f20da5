#include "chat/ChatProtocol.h"

#include "support/TestSupport.h"

namespace CP = ChatProtocol;
using Kind = CP::Message::Kind;

class TestChatProtocol : public QObject
{
    Q_OBJECT

private slots:
    // The wire texts exactly; what is typed parses back as the character typed.
    void buildersProduceExactWireTexts()
    {
        QCOMPARE(CP::typed(U'a'), QByteArray("Ta;<E>"));
        QCOMPARE(CP::typed(U';'), QByteArray("T;;<E>"));
        QCOMPARE(CP::typed(CP::Enter), QByteArray("T\r;<E>"));
        QCOMPARE(CP::typed(CP::Backspace), QByteArray("T\x08;<E>"));
        QCOMPARE(CP::typed(U'\u00e9'), QByteArray("T\xc3\xa9;<E>"));
        QCOMPARE(CP::typed(U'\u20ac'), QByteArray("T\xe2\x82\xac;<E>"));
        QCOMPARE(CP::typed(U'\U0001F600'), QByteArray("T\xf0\x9f\x98\x80;<E>"));
        QCOMPARE(CP::ringUser(), QByteArray("T\x07<E>"));
        QCOMPARE(CP::bell(), QByteArray("BEL<E>"));
        for (const char32_t c : {U'x', U' ', U'\t', U'<', U'>', U'E', U'\u00f8', U'\u4e2d', U'\U0001F600'}) {
            const QByteArray message = CP::typed(c);
            QVERIFY(message.endsWith(CP::Terminator));
            const CP::Message m = CP::parse(message.chopped(3));
            QCOMPARE(m.kind, Kind::Character);
            QCOMPARE(uint(m.character), uint(c));
        }
    }

    void parse_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<uint>("character");

        QTest::newRow("letter") << QByteArray("Ta;") << Kind::Character << uint('a');
        QTest::newRow("semicolon") << QByteArray("T;;") << Kind::Character << uint(';');
        QTest::newRow("enter") << QByteArray("T\r;") << Kind::Character << 13u;
        QTest::newRow("backspace") << QByteArray("T\x08;") << Kind::Character << 8u;
        QTest::newRow("utf-8") << QByteArray("T\xc3\xa9;") << Kind::Character << 0xe9u;
        QTest::newRow("4-byte utf-8") << QByteArray("T\xf0\x9f\x98\x80;") << Kind::Character << 0x1f600u;
        // A peer that sends one byte per character.
        QTest::newRow("latin-1 byte") << QByteArray("T\xe9;") << Kind::Character << 0xe9u;
        QTest::newRow("no ;") << QByteArray("Ta") << Kind::Character << uint('a');
        QTest::newRow("no ; utf-8") << QByteArray("T\xc3\xa9x") << Kind::Character << 0xe9u;
        QTest::newRow("ring user") << QByteArray("T\x07") << Kind::Bell << 0u;
        QTest::newRow("typed bell") << QByteArray("T\x07;") << Kind::Bell << 0u;
        QTest::newRow("BEL") << QByteArray("BEL") << Kind::Bell << 0u;
        QTest::newRow("BEL and more") << QByteArray("BELL;x") << Kind::Bell << 0u;
        QTest::newRow("T alone") << QByteArray("T") << Kind::Ignored << 0u;
        QTest::newRow("T;") << QByteArray("T;") << Kind::Ignored << 0u;
        QTest::newRow("two letters") << QByteArray("Tab;") << Kind::Ignored << 0u;
        QTest::newRow("two fields") << QByteArray("Ta;b;") << Kind::Ignored << 0u;
        QTest::newRow("broken utf-8") << QByteArray("T\xc3(;") << Kind::Ignored << 0u;
        QTest::newRow("encoded surrogate") << QByteArray("T\xed\xa0\x80;") << Kind::Ignored << 0u;
        QTest::newRow("nul") << QByteArray("T\0;", 3) << Kind::Ignored << 0u;
        QTest::newRow("lower t") << QByteArray("ta;") << Kind::Ignored << 0u;
        QTest::newRow("no ; several") << QByteArray("Tabc") << Kind::Character << uint('a');
        QTest::newRow("other") << QByteArray("XTa;") << Kind::Ignored << 0u;
        QTest::newRow("empty") << QByteArray() << Kind::Ignored << 0u;
    }

    void parse()
    {
        QFETCH(QByteArray, text);
        QFETCH(Kind, kind);
        QFETCH(uint, character);
        const CP::Message m = CP::parse(text);
        QCOMPARE(m.kind, kind);
        QCOMPARE(uint(m.character), character);
    }
};

QTEST_GUILESS_MAIN(TestChatProtocol)
#include "tst_chatprotocol.moc"
