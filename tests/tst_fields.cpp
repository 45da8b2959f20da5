#include "core/Fields.h"

#include "support/TestSupport.h"

class TestFields : public QObject
{
    Q_OBJECT

private slots:
    // Fields counted and picked from a request, and from texts of other shapes.
    void countAndGetFields()
    {
        const QByteArray rqc = "RQC;Ann;Oslo;9:05;";
        QCOMPARE(Fields::countFields(rqc), 4);
        QCOMPARE(Fields::getField(rqc, 1), QByteArray("RQC"));
        QCOMPARE(Fields::getField(rqc, 3), QByteArray("Oslo"));
        QCOMPARE(Fields::getField(rqc, 4), QByteArray("9:05"));
        QCOMPARE(Fields::getField(rqc, 5), QByteArray());
        // A last field without ";" is still a field.
        QCOMPARE(Fields::getField("UIF;2.5", 2), QByteArray("2.5"));
        // Skips that find no ";" leave the rest unchanged.
        QCOMPARE(Fields::getField("BSY", 3), QByteArray("BSY"));
        QCOMPARE(Fields::getField("", 2), QByteArray());
        QCOMPARE(Fields::getField(";;;", 2), QByteArray());
        QCOMPARE(Fields::getField("A;B", 9), QByteArray("B"));
    }

    void readFieldConsumesTheFront()
    {
        QByteArray text = "LS1;3;2;";
        QCOMPARE(Fields::readField(text), QByteArray("LS1"));
        QCOMPARE(text, QByteArray("3;2;"));
        QCOMPARE(Fields::readField(text), QByteArray("3"));
        QCOMPARE(Fields::readField(text), QByteArray("2"));
        QCOMPARE(text, QByteArray());
        QByteArray plain = "abc";
        QCOMPARE(Fields::readField(plain), QByteArray("abc"));
        QVERIFY(plain.isEmpty());
    }

    void leadingNumbersReadLikeTheWireExpects()
    {
        QCOMPARE(Fields::leadingNumber(QByteArray(" 1234 ")), 1234);
        QCOMPARE(Fields::leadingNumber(QByteArray("-1")), -1);
        QCOMPARE(Fields::leadingNumber(QByteArray("abc")), 0);
        QCOMPARE(Fields::leadingNumber(QByteArray("12ab3")), 12);
        QCOMPARE(Fields::leadingInt16("70000"), qint16(32767));
        QCOMPARE(Fields::leadingInt16("-70000"), qint16(-32768));
        QCOMPARE(Fields::leadingInt32("99999999999999999999999"), qint32(2147483647));
        QCOMPARE(Fields::validPort(65535), 65535);
        QCOMPARE(Fields::validPort(65536), 0);
        QCOMPARE(Fields::validPort(0), 0);
    }

    void utf8CutsFallBetweenCharacters()
    {
        const QByteArray text = QStringLiteral("a\u00e9\u20ac").toUtf8(); // 1 + 2 + 3 bytes
        QCOMPARE(Fields::utf8Left(text, 6), text);
        QCOMPARE(Fields::utf8Left(text, 5), QByteArray("a\xc3\xa9"));
        QCOMPARE(Fields::utf8Left(text, 2), QByteArray("a"));
        QCOMPARE(Fields::utf8Left(text, 0), QByteArray());
    }

    void networkTextStaysOnOneLine()
    {
        QCOMPARE(Fields::singleLine(QStringLiteral("Eve\r\n666\rx")), QStringLiteral("Eve  666 x"));
        // Escapes, tabs, C1 controls, separators and bidirectional overrides go too;
        // letters of any script stay.
        QCOMPARE(Fields::singleLine(QStringLiteral("a\x1b[2Jb\tc\u0085d\u2028e\u202egnp.exe\u007f")),
                 QStringLiteral("a [2Jb c d e gnp.exe "));
        QCOMPARE(Fields::singleLine(QStringLiteral("\u00c5se \u5f20 \U0001F600")), QStringLiteral("\u00c5se \u5f20 \U0001F600"));
    }
};

QTEST_APPLESS_MAIN(TestFields)
#include "tst_fields.moc"
