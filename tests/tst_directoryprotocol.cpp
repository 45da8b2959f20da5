#include "directory/DirectoryProtocol.h"
#include "directory/ReachProtocol.h"
#include "reach/AddressScope.h"
#include "server/ServerConfig.h"

#include "support/TestSupport.h"

namespace Proto = DirectoryProtocol;

class TestDirectoryProtocol : public QObject
{
    Q_OBJECT

private slots:
    void loginsAreWrittenByteForByte()
    {
        QCOMPARE(Proto::login({.userNumber = 1234, .name = QStringLiteral("Ann Lee"), .email = QStringLiteral("Ann@Example.ORG"),
                               .location = QStringLiteral("Oslo"), .comment = QStringLiteral("hi all"), .video = true,
                               .listed = true, .port = 2004}),
                 QByteArray("LGN; 1234;Ann Lee;ann@example.org;Oslo;hi all;0;YES;NO;2.51;YES;NO;v1.2;2004;<ET>"));
        QCOMPARE(Proto::login({.audio = true, .port = 2000}),
                 QByteArray("LGN;-1;;;;;0;NO;YES;2.51;NO;NO;v1.2;2000;<ET>"));
        QCOMPARE(Proto::login({.userNumber = 0, .name = QStringLiteral("Bo"), .email = QStringLiteral("BO@X.NET"),
                               .location = QStringLiteral("Rome"), .comment = QStringLiteral("c"),
                               .kind = Proto::Login::PalClient, .port = 2000}),
                 QByteArray("LGN; 0;Bo;bo@x.net;Rome;c;3;NO;NO;2.51;NO;NO;v1.2;2000;<ET>"));
        // A field can neither add fields nor end the message early.
        QCOMPARE(Proto::login({.userNumber = 7, .name = QStringLiteral("a;b<ET>c\r\nd"), .kind = Proto::Login::PalClient,
                               .port = 2000}),
                 QByteArray("LGN; 7;abc  d;;;;3;NO;NO;2.51;NO;NO;v1.2;2000;<ET>"));
        QCOMPARE(Proto::noticeRequest(), QByteArray("INT<ET>"));
        QCOMPARE(Proto::listRequest(), QByteArray("LS1<ET>"));
        QCOMPARE(Proto::numberRequest(), QByteArray("RSN;<ET>"));
        QCOMPARE(Proto::emailLookup(QStringLiteral("  Ann@Example.org ")), QByteArray("GEM;Ann@Example.org;<ET>"));
    }

    void serverReadsWhatTheClientWrites()
    {
        const QByteArray wire =
            Proto::login({.userNumber = 42, .name = QStringLiteral("Ann"), .email = QStringLiteral("ANN@x.org"),
                          .location = QStringLiteral("Oslo"), .comment = QStringLiteral("hi"), .video = true,
                          .audio = true, .listed = true, .port = 2008});
        const Proto::FromClient read = Proto::readFromClient(wire.chopped(4));
        QCOMPARE(read.kind, Proto::Kind::Login);
        const Proto::Login &l = read.login;
        // Written again from what was read, it is the same login (its fields are checked
        // byte for byte above).
        QCOMPARE(Proto::login(l), wire);
        QCOMPARE(l.kind, 0);
        // A login cut short leaves the rest empty; a port that is no port reads as none.
        const Proto::Login cut = Proto::parseLogin("LGN;x");
        QCOMPARE(cut.userNumber, 0);
        QVERIFY(cut.name.isEmpty() && !cut.listed);
        QCOMPARE(Proto::parseLogin("LGN;1;a;b;c;d;0;NO;NO;2.51;YES;NO;v1.2;70000;").port, 0);
        QCOMPARE(Proto::parseEmailLookup("GEM; Ann@X.org ;"), QStringLiteral("ann@x.org"));
    }

    void userListIsReadInTheOrderOfItsTenFields()
    {
        QVector<Proto::UserEntry> users(2);
        users[0] = {12, QStringLiteral("Ann"), QStringLiteral("Oslo"), QStringLiteral("hello"),
                    QStringLiteral("10.0.0.5"), 2004, 0, true, false, 1};
        users[1] = {0, QStringLiteral("Old"), QStringLiteral("Bonn"), {}, QStringLiteral("10.0.0.6"), 2000, 2, false,
                    false, 3};
        const QByteArray wire = Proto::userList(7, 2, users);
        QCOMPARE(wire, QByteArray("LS1;7;2;12;Ann;Oslo;10.0.0.5;hello;0;YES;NO;1;2004;"
                                  "0;Old;Bonn;10.0.0.6;;2;NO;NO;3;2000;<ET>"));
        // Read and written again, every field is back in its place.
        const Proto::UserList list = Proto::parseUserList(wire.chopped(4));
        QCOMPARE(Proto::userList(list.online, list.listed, list.entries), wire);
        // Without the ";" before the terminator the same entries are read.
        QCOMPARE(Proto::parseUserList(wire.chopped(5)).entries.size(), 2);
        QCOMPARE(Proto::parseUserList(wire.chopped(5)).entries[1].Port, 2000);
        // Only the exact "YES" counts.
        const Proto::UserList lower = Proto::parseUserList("LS1;1;1;5;A;B;1.2.3.4;c;0;yes;Y;1;2000;");
        QVERIFY(!lower.entries[0].HasVideo && !lower.entries[0].HasAudio);
        const Proto::UserList empty = Proto::parseUserList("LS1;0;0;");
        QVERIFY(empty.entries.isEmpty());
        QCOMPARE(empty.online, 0);
    }

    void badListsAreBoundedAndSkipUnusablePorts()
    {
        QByteArray huge = "LS1;abc;-4;";
        for (int i = 0; i < 10000; ++i)
            huge += QByteArray::number(i) + ";N" + QByteArray::number(i) + ";L;10.0.0.1;C;0;YES;YES;1;2000;";
        QElapsedTimer clock;
        clock.start();
        const Proto::UserList list = Proto::parseUserList(huge);
        QCOMPARE(list.entries.size(), Proto::MaxEntries);
        QCOMPARE(list.entries.last().Name, QStringLiteral("N499"));
        QCOMPARE(list.online, 0);
        // A port outside 1..65535, even one that only fits 32 bits, leaves its user out.
        const Proto::UserList ports =
            Proto::parseUserList("LS1;3;3;1;A;;1.1.1.1;;0;NO;NO;1;0;2;B;;1.1.1.2;;0;NO;NO;1;65536;"
                                 "3;C;;1.1.1.3;;0;NO;NO;1;4294969296;4;D;;1.1.1.4;;0;NO;NO;1;65535;");
        QCOMPARE(ports.entries.size(), 1);
        QCOMPARE(ports.entries[0].Name, QStringLiteral("D"));
        // Missing fields: the entry is read with what is there.
        QCOMPARE(Proto::parseUserList("LS1;1;1;9;Half").entries.size(), 0);

        QVector<Proto::ServerEntry> servers;
        for (int i = 0; i < 300; ++i)
            servers.append({QStringLiteral("h%1").arg(i), 2010 + i, QStringLiteral("d")});
        const QByteArray vcl = Proto::serverList(servers);
        QVERIFY(vcl.startsWith("VCL;h0;2010;d;h1;2011;d;"));
        const QVector<Proto::ServerEntry> read = Proto::parseServerList(vcl.chopped(4));
        QCOMPARE(read.size(), Proto::MaxServers);
        QCOMPARE(read.last().Host, QStringLiteral("h199"));
        QCOMPARE(Proto::parseServerList("VCL;a;0;x;b;99999;y;c;2020;z").size(), 1);
        QCOMPARE(Proto::parseServerList("VCL;a;0;x;b;99999;y;c;2020;z")[0].Description, QStringLiteral("z"));
        QVERIFY(Proto::parseServerList("VCL").isEmpty());
        // A command longer than its three letters does not shift the entries; a host of
        // control characters is no host, and one with them reads as the list shows it.
        const QVector<Proto::ServerEntry> odd =
            Proto::parseServerList("VCLxyz;\x01\x02;2025;gone;a\x1b[2Jb ;2026;de\tsc;");
        QCOMPARE(odd.size(), 1);
        QCOMPARE(odd[0].Host, QStringLiteral("a [2Jb"));
        QCOMPARE(odd[0].Port, 2026);
        QCOMPARE(odd[0].Description, QStringLiteral("de sc"));
        QCOMPARE(Proto::parseServerList(Proto::serverList(odd)).size(), 1);
    }

    void answersAndNoticesBothWays()
    {
        QCOMPARE(Proto::notice("INT", QStringLiteral("Welcome; all")), QByteArray("INT;Welcome all;<ET>"));
        QCOMPARE(Proto::noticeText("MSG;Server going down;"), QStringLiteral("Server going down"));
        QCOMPARE(Proto::redirect({QStringLiteral("dir2.example"), 2020, QStringLiteral("Second")}),
                 QByteArray("RDM;Redirect;dir2.example;2020;Second;<ET>"));
        const auto rdm = Proto::readFromServer("RDM;x;dir2.example;2020;Second;").target;
        QVERIFY(rdm);
        QCOMPARE(rdm->Host, QStringLiteral("dir2.example"));
        QCOMPARE(rdm->Port, 2020);
        QCOMPARE(rdm->Description, QStringLiteral("Second"));
        QVERIFY(!Proto::parseRedirect("RDM;x;dir2.example;-5;Second;"));
        QVERIFY(!Proto::parseRedirect("RDM;x;;2020;Second;"));

        const QByteArray ger = Proto::emailAnswer({QStringLiteral("ann@x.org"), QStringLiteral("Ann"),
                                                   QStringLiteral("Oslo"), QStringLiteral("10.1.2.3"), 2004});
        QCOMPARE(ger, QByteArray("GER;ann@x.org;Ann;Oslo;10.1.2.3;2004;<ET>"));
        const Proto::EmailAnswer a = Proto::parseEmailAnswer(ger.chopped(4));
        QVERIFY(a.found());
        QCOMPARE(a.port, 2004);
        QCOMPARE(a.name, QStringLiteral("Ann"));
        QVERIFY(!Proto::parseEmailAnswer("GER;x;;;0.0.0.0;0;").found());
        // No address, or one of blanks and control characters only, is nobody to call.
        QVERIFY(!Proto::parseEmailAnswer("GER;x;Ann;Oslo;;2000;").found());
        QVERIFY(!Proto::parseEmailAnswer("GER;x;Ann;Oslo; \x01\x1b ;2000;").found());
        QCOMPARE(Proto::parseEmailAnswer("GER;x;Ann;Oslo;10.0.0.\x07" "1;2000;").address, QStringLiteral("10.0.0. 1"));
        QCOMPARE(Proto::parseEmailAnswer("GER;x;A;B;1.2.3.4;123456;").port, 0);

        QCOMPARE(Proto::newNumber(17), QByteArray("NSN;17;<ET>"));
        QCOMPARE(Proto::readFromServer("NSN;17;").number, 17);
        QCOMPARE(Proto::palBusy({QStringLiteral("pal2"), 2115, {}}), QByteArray("BSY;pal2;2115;<ET>"));
        // "BSY" is the pal server's "go there", or the directory's notice.
        const auto busy = Proto::readFromServer("BSY;pal2;2115;").target;
        QVERIFY(busy && busy->Host == QStringLiteral("pal2") && busy->Port == 2115);
        const Proto::FromServer full = Proto::readFromServer("BSY;The directory server is full.;");
        QVERIFY(!full.target);
        QCOMPARE(full.notice, QStringLiteral("The directory server is full."));
        QVERIFY(!Proto::parsePalBusy("BSY;pal2;0;"));
    }

    void theReachabilityCheckBothWays()
    {
        QCOMPARE(ReachProtocol::request(2004), QByteArray("RCH;2004;<ET>"));
        QCOMPARE(ReachProtocol::parseRequest("RCH;2004;"), std::optional<int>(2004));
        QVERIFY(!ReachProtocol::parseRequest("RCH;0;"));
        QVERIFY(!ReachProtocol::parseRequest("RCH;70000;"));
        QVERIFY(!ReachProtocol::parseRequest("LGN;2004;"));
        const QByteArray no = ReachProtocol::answer({false, QStringLiteral("203.0.113.7"), 2000, QStringLiteral("refused; sorry")});
        QCOMPARE(no, QByteArray("RCA;NO;203.0.113.7;2000;refused sorry;<ET>"));
        const auto read = ReachProtocol::parseAnswer(no.chopped(4));
        QVERIFY(read && !read->reachable && read->address == QStringLiteral("203.0.113.7") && read->port == 2000);
        QVERIFY(ReachProtocol::parseAnswer("RCA;YES;203.0.113.7;2000;connected;")->reachable);
        // Neither a verdict other than the two words nor an unusable port is an answer.
        QVERIFY(!ReachProtocol::parseAnswer("RCA;yes;203.0.113.7;2000;;"));
        QVERIFY(!ReachProtocol::parseAnswer("RCA;YES;203.0.113.7;0;;"));
    }

    void callOffersPassThroughTheServerUnchanged()
    {
        const QByteArray id = "0123456789abcdef";
        const QByteArray description = "v1|uf|pw|candidate:1 1 UDP 2013266431 192.168.1.10 45678 typ host";
        const QByteArray offer = Proto::callOffer({id, QStringLiteral(" ann@x.org "), description});
        QCOMPARE(offer, "CLO;" + id + ";ann@x.org;" + description + ";<ET>");
        const auto asked = Proto::parseCallOffer(offer.chopped(4));
        QVERIFY(asked && asked->callId == id && asked->target == QStringLiteral("ann@x.org")
                && asked->description == description);

        Proto::RelayedOffer relayed{id, QStringLiteral("bob@y.org"), 77, QByteArray::fromHex("00ff10"),
                                    QStringLiteral("203.0.113.9"), description};
        const QByteArray passed = Proto::relayedOffer(relayed);
        QCOMPARE(passed, "CLO;" + id + ";bob@y.org;77;00ff10;203.0.113.9;" + description + ";<ET>");
        const auto read = Proto::parseRelayedOffer(passed.chopped(4));
        QVERIFY(read && read->fromEmail == QStringLiteral("bob@y.org") && read->fromNumber == 77
                && read->fromKey == QByteArray::fromHex("00ff10") && read->fromAddress == QStringLiteral("203.0.113.9")
                && read->description == description);

        QCOMPARE(Proto::callAnswer({id, "v1|a|b"}), "CLA;" + id + ";v1|a|b;<ET>");
        QCOMPARE(Proto::parseCallAnswer("CLA;" + id + ";v1|a|b;")->description, QByteArray("v1|a|b"));
        QCOMPARE(Proto::callEnd({id, QStringLiteral("offline")}), "CLX;" + id + ";offline;<ET>");
        QCOMPARE(Proto::parseCallEnd("CLX;" + id + ";gone;")->reason, QStringLiteral("gone"));

        // What is not whole and well formed is nothing.
        QVERIFY(!Proto::parseCallOffer("CLO;0123456789ABCDEF;ann@x.org;d;"));   // upper-case id
        QVERIFY(!Proto::parseCallOffer("CLO;0123456789abcde;ann@x.org;d;"));    // short id
        QVERIFY(!Proto::parseCallOffer("CLO;" + id + ";;d;"));                   // no target
        QVERIFY(!Proto::parseCallOffer("CLO;" + id + ";ann@x.org;;"));           // no description
        QVERIFY(!Proto::parseCallOffer("CLO;" + id + ";ann@x.org;"
                                       + QByteArray(Proto::MaxPathDescription + 1, 'x') + ';'));
        QVERIFY(Proto::parseCallOffer("CLO;" + id + ";ann@x.org;" + QByteArray(Proto::MaxPathDescription, 'x') + ';'));
        QVERIFY(!Proto::parseRelayedOffer("CLO;" + id + ";bob@y.org;77;zz;a;d;"));  // key not hex
        QVERIFY(!Proto::parseCallAnswer("CLX;" + id + ";d;"));
        QVERIFY(!Proto::parseCallEnd("CLX;nothex!nothex!xx;gone;"));
        // A description cannot add fields.
        QCOMPARE(Proto::callAnswer({id, "a;b"}), "CLA;" + id + ";ab;<ET>");
        QVERIFY(Proto::newCallId() != Proto::newCallId());
        QVERIFY(Proto::parseCallEnd("CLX;" + Proto::newCallId() + ";;"));
    }

    void relayAccessIsReadOnlyWhole()
    {
        const QByteArray wire =
            Proto::relayAccess({QStringLiteral("relay.example.org"), 3478, QStringLiteral("1767225600:77"),
                                QStringLiteral("c2VjcmV0"), 443, 86400});
        QCOMPARE(wire, QByteArray("RLY;relay.example.org;3478;1767225600:77;c2VjcmV0;443;86400;<ET>"));
        const auto read = Proto::parseRelayAccess(wire.chopped(4));
        QVERIFY(read && read->host == QStringLiteral("relay.example.org") && read->port == 3478
                && read->username == QStringLiteral("1767225600:77") && read->password == QStringLiteral("c2VjcmV0")
                && read->tlsPort == 443 && read->lifetimeSeconds == 86400);
        QCOMPARE(Proto::parseRelayAccess("RLY;r;3478;u;p;;")->tlsPort, 0);
        // A server that does not say how long they last.
        QCOMPARE(Proto::parseRelayAccess("RLY;r;3478;u;p;443;")->lifetimeSeconds, 0);
        QCOMPARE(Proto::parseRelayAccess("RLY;r;3478;u;p;443;-5;")->lifetimeSeconds, 0);
        QVERIFY(!Proto::parseRelayAccess("RLY;;3478;u;p;0;"));
        QVERIFY(!Proto::parseRelayAccess("RLY;r;0;u;p;0;"));
    }

    // What a check's verdict proves depends on where the server saw the program: only a
    // public address speaks for the internet.
    void theAddressTheServerSawSaysWhoCanCall_data()
    {
        QTest::addColumn<QString>("address");
        QTest::addColumn<AddressScope::Reach>("reach");
        using R = AddressScope::Reach;
        QTest::newRow("loopback") << QStringLiteral("127.0.0.1") << R::Computer;
        QTest::newRow("loopback, IPv6") << QStringLiteral("::1") << R::Computer;
        QTest::newRow("loopback written as IPv6") << QStringLiteral("::ffff:127.0.0.1") << R::Computer;
        QTest::newRow("home network") << QStringLiteral("192.168.1.10") << R::Network;
        QTest::newRow("office network") << QStringLiteral("10.1.2.3") << R::Network;
        QTest::newRow("carrier's NAT") << QStringLiteral("100.64.0.7") << R::Network;
        QTest::newRow("link-local") << QStringLiteral("169.254.3.4") << R::Network;
        QTest::newRow("unique local IPv6") << QStringLiteral("fd00::7") << R::Network;
        QTest::newRow("private written as IPv6") << QStringLiteral("::ffff:192.168.1.10") << R::Network;
        QTest::newRow("public") << QStringLiteral("203.0.113.7") << R::Internet;
        QTest::newRow("public IPv6") << QStringLiteral("2001:db8::10") << R::Internet;
    }

    void theAddressTheServerSawSaysWhoCanCall()
    {
        QFETCH(QString, address);
        QFETCH(AddressScope::Reach, reach);
        QCOMPARE(AddressScope::reachOf(address), reach);
    }

    void serverTargetsFromTheCommandLine()
    {
        const auto t = ServerConfig::parseTarget(QStringLiteral("dir.example:2020:Second: the backup"));
        QVERIFY(t);
        QCOMPARE(t->Host, QStringLiteral("dir.example"));
        QCOMPARE(t->Port, 2020);
        QCOMPARE(t->Description, QStringLiteral("Second: the backup"));
        QVERIFY(ServerConfig::parseTarget(QStringLiteral("dir.example:2020")));
        QVERIFY(!ServerConfig::parseTarget(QStringLiteral("dir.example")));
        QVERIFY(!ServerConfig::parseTarget(QStringLiteral(":2020:x")));
        QVERIFY(!ServerConfig::parseTarget(QStringLiteral("h:70000:x")));
        QVERIFY(!ServerConfig::parseTarget(QStringLiteral("h:20x:x")));
    }
};

QTEST_GUILESS_MAIN(TestDirectoryProtocol)
#include "tst_directoryprotocol.moc"
