#include "call/CallAddress.h"
#include "call/ControlProtocol.h"

#include "support/TestSupport.h"

using Kind = ControlProtocol::Message::Kind;
namespace CP = ControlProtocol;
using namespace Qt::StringLiterals;

class TestControlProtocol : public QObject
{
    Q_OBJECT

private slots:
    void buildersProduceExactWireTexts()
    {
        QCOMPARE(CP::request(u"Ann"_s, u"Oslo"_s, QTime(9, 5)), "RQC;Ann;Oslo;9:05;");
        QCOMPARE(CP::acceptance(u"Bob"_s, u"Rome"_s, QTime(14, 30)), "RRS;YES;Bob;Rome;14:30;");
        QCOMPARE(CP::refusal(), "RRS;NO;");
        QCOMPARE(CP::busy(), "BSY");
        QCOMPARE(CP::userInfo(false), "UIF;2.5;False;");
        QCOMPARE(CP::userInfo(true), "UIF;2.5;True;");
        QCOMPARE(CP::request(QString(), QString(), QTime(0, 0)), "RQC;;;0:00;");
        QCOMPARE(CP::request(u"Åse"_s, u"Tromsø"_s, QTime(9, 5)),
                 "RQC;\xc3\x85se;Troms\xc3\xb8;9:05;");
        // Our own ";" and line breaks must not shift the peer's fields.
        QCOMPARE(CP::request(u"A;n\r\nn"_s, u";Oslo;"_s, QTime(9, 5)), "RQC;Ann;Oslo;9:05;");
        QCOMPARE(CP::acceptance(u"B;ob"_s, u"Ro\nme"_s, QTime(7, 0)), "RRS;YES;Bob;Rome;7:00;");

        QCOMPARE(CP::timeText(QTime(9, 5)), u"9:05"_s);
        QCOMPARE(CP::timeText(QTime(14, 30)), u"14:30"_s);
        QCOMPARE(CP::timeText(QTime(0, 0)), u"0:00"_s);
        QCOMPARE(CP::timeText(QTime(23, 59, 59)), u"23:59"_s);
        QCOMPARE(CP::timeText(QTime()), u"0:00"_s);
    }

    void dispatch_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Kind>("kind");
        QTest::addColumn<QString>("fields"); // name|location|time

        QTest::newRow("request") << QByteArray("RQC;Ann;Oslo;9:05;") << Kind::Request << "Ann|Oslo|9:05";
        QTest::newRow("empty fields") << QByteArray("RQC;;;;") << Kind::Request << "||";
        QTest::newRow("3 fields") << QByteArray("RQC;Ann;Oslo;") << Kind::Ignored << "||";
        QTest::newRow("; in name") << QByteArray("RQC;A;nn;Oslo;9:05;") << Kind::Ignored << "||";
        QTest::newRow("no last ;") << QByteArray("RQC;Ann;Oslo;9:05") << Kind::Ignored << "||";
        QTest::newRow("yes") << QByteArray("RRS;YES;Bob;Rome;14:30;") << Kind::Accepted << "Bob|Rome|14:30";
        // Missing fields stay empty instead of repeating the last one.
        QTest::newRow("short yes") << QByteArray("RRS;YES;Bob") << Kind::Accepted << "Bob||";
        QTest::newRow("no") << QByteArray("RRS;NO;") << Kind::Refused << "||";
        QTest::newRow("lower yes") << QByteArray("RRS;yes;Bob;Rome;1:00;") << Kind::Refused << "||";
        QTest::newRow("rrs 1 field") << QByteArray("RRS;YES") << Kind::Ignored << "||";
        QTest::newRow("busy") << QByteArray("BSY") << Kind::Busy << "||";
        QTest::newRow("uif") << QByteArray("UIF") << Kind::UserInfo << "||";
        QTest::newRow("key") << QByteArray("KEY;1;") << Kind::Ignored << "||";
        QTest::newRow("fst") << QByteArray("FST;") << Kind::Ignored << "||";
        QTest::newRow("empty") << QByteArray() << Kind::Ignored << "||";
        QTest::newRow("lower") << QByteArray("rqc;Ann;Oslo;9:05;") << Kind::Ignored << "||";
        QTest::newRow("blank first") << QByteArray(" RQC;a;b;c;") << Kind::Ignored << "||";
        QTest::newRow("nul") << QByteArray("\0\0\0;a;b;c;", 11) << Kind::Ignored << "||";
        QTest::newRow("binary") << QByteArray("\xff\xfe\xfd;;;;") << Kind::Ignored << "||";
        QTest::newRow("nul in name") << QByteArray("RQC;A\0n;Oslo;9:05;", 18) << Kind::Request
                                     << QString(u"A n|Oslo|9:05"_s);
        // Peer text becomes one harmless display line.
        QTest::newRow("line break") << QByteArray("RQC;Eve\r\n0:00 x;\xc3;9:05;") << Kind::Request
                                    << u"Eve  0:00 x|\ufffd|9:05"_s;
    }

    void dispatch()
    {
        QFETCH(QByteArray, text);
        QFETCH(Kind, kind);
        QFETCH(QString, fields);
        const CP::Message m = CP::parse(text);
        QCOMPARE(m.kind, kind);
        QCOMPARE(m.name + u'|' + m.location + u'|' + m.time, fields);
    }

    void userInfoVersionAndChatFlag()
    {
        const auto flags = [](const QByteArray &text) {
            const CP::Message m = CP::parse(text);
            return std::pair{m.isV25, m.rtc};
        };
        QCOMPARE(flags("UIF;2.5;True;"), std::pair(true, true));
        QCOMPARE(flags("UIF;2.5;False;"), std::pair(true, false));
        QCOMPARE(flags("UIF;2.5"), std::pair(true, false));
        QCOMPARE(flags("UIF;2.4;True;").first, false);
        QCOMPARE(flags("UIF;True"), std::pair(false, false)); // no chat flag in 2nd place
        QCOMPARE(flags(CP::userInfo(true)), std::pair(true, true));
    }

    void untrustedFieldsAreBounded()
    {
        const QByteArray huge(100 * 1024, 'x');
        CP::Message m = CP::parse("RQC;" + huge + ";Oslo;9:05;");
        QCOMPARE(m.kind, Kind::Request);
        QCOMPARE(m.name.size(), CP::MaxFieldLength);
        QCOMPARE(m.location, u"Oslo"_s);
        QCOMPARE(CP::parse("RRS;YES;" + huge + ";" + huge + ";" + huge + ";").time.size(),
                 CP::MaxFieldLength);
        QCOMPARE(CP::parse("RQC" + QByteArray(100 * 1024, ';')).kind, Kind::Ignored);

        // Cutting never leaves half a character behind.
        const QByteArray clef = "\xf0\x9d\x84\x9e";
        m = CP::parse("RQC;" + QByteArray(CP::MaxFieldLength - 1, 'a') + clef + ";x;y;");
        QCOMPARE(m.name.size(), CP::MaxFieldLength - 1);
    }

    void addressesTypedByTheUser_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("host");
        QTest::addColumn<int>("port"); // 0: invalid

        QTest::newRow("name") << "peer.example" << "peer.example" << 2000;
        QTest::newRow("blanks") << "  192.0.2.7 \t" << "192.0.2.7" << 2000;
        QTest::newRow("port") << "peer.example:2100" << "peer.example" << 2100;
        QTest::newRow("top port") << "h:65535" << "h" << 65535;
        QTest::newRow("v6 port") << "[2001:db8::1]:2100" << "2001:db8::1" << 2100;
        QTest::newRow("v6 brackets") << "[::1]" << "::1" << 2000;
        QTest::newRow("v6 bare") << "2001:db8::1" << "2001:db8::1" << 2000;
        QTest::newRow("too big") << "h:99999" << "h" << 0;
        QTest::newRow("wraps to 2000") << "h:67536" << "h" << 0;
        QTest::newRow("beyond 32 bit") << "h:4294969296" << "h" << 0;
        QTest::newRow("zero") << "h:0" << "h" << 0;
        QTest::newRow("negative") << "h:-1" << "h" << 0;
        QTest::newRow("letters") << "h:abc" << "h" << 0;
        QTest::newRow("trailing junk") << "h:21ab" << "h" << 0;
        QTest::newRow("no port") << "h:" << "h" << 0;
        QTest::newRow("v6 bad port") << "[::1]:70000" << "::1" << 0;
        QTest::newRow("no host") << ":2100" << "" << 0;
        QTest::newRow("blank") << "   " << "" << 0;
        QTest::newRow("open bracket") << "[::1:2100" << "" << 0;
        QTest::newRow("after bracket") << "[::1]2100" << "" << 0;
        QTest::newRow("empty brackets") << "[]:2100" << "" << 0;
    }

    void addressesTypedByTheUser()
    {
        QFETCH(QString, typed);
        QFETCH(QString, host);
        QFETCH(int, port);
        const CallAddress a = CallAddress::parse(typed);
        QCOMPARE(a.host, host);
        QCOMPARE(a.valid, port != 0);
        if (a.valid)
            QCOMPARE(a.port, port);
    }

    void defaultPortAndEmail()
    {
        QCOMPARE(CallAddress::parse(u"h"_s, 2004).port, 2004);
        QVERIFY(!CallAddress::parse(u"h"_s, 0).valid);
        QVERIFY(!CallAddress::parse(u"h"_s, 65536).valid);
        QVERIFY(CallAddress::parse(u"h:2000"_s, 0).valid);

        QVERIFY(CallAddress::isEmailAddress(u" ann@example.org "_s));
        QVERIFY(!CallAddress::isEmailAddress(u"[::1]:2000"_s));
    }
};

QTEST_APPLESS_MAIN(TestControlProtocol)
#include "tst_controlprotocol.moc"
