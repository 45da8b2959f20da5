// Writes the fuzz targets' seed corpora: real exchanges and files, made by the program's
// own builders and writers. Run it from a fuzz build when a parser or a target changes:
//   build-sanitize/tests/fuzz/make_seeds tests/fuzz/corpus
#include "call/ControlProtocol.h"
#include "chat/ChatProtocol.h"
#include "core/ActivityLog.h"
#include "core/PalList.h"
#include "core/RefuseList.h"
#include "core/Settings.h"
#include "datagrams/DatagramMedia.h"
#include "protocol/DirectoryProtocol.h"
#include "directory/UserNumberFile.h"
#include "media/CodedMediaPacket.h"
#include "media/MediaPacket.h"
#include "media/sound/OpusVoiceEncoder.h"
#include "media/picture/Vp8Encoder.h"
#include "media/picture/YuvPicture.h"
#include "media/picture/CaptureProfile.h"
#include "media/sound/GsmCodec.h"
#include "media/picture/VideoCodec.h"
#include "messages/QuickMessageProtocol.h"
#include "path/IceDescription.h"
#include "reach/UpnpSoap.h"
#include "secure/KnownPeers.h"
#include "tls/TlsSetup.h"
#include "tls/Identity.h"
#include "support/TestSupport.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QSslSocket>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include <cstdio>
#include <vector>

namespace {

void seed(const QDir &out, const char *target, const char *name, const QByteArray &bytes)
{
    out.mkpath(QLatin1String(target));
    QFile file(out.filePath(QLatin1String(target) + QLatin1Char('/') + QLatin1String(name)));
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "cannot write %s/%s\n", target, name);
        std::exit(1);
    }
}

QByteArray choices(std::initializer_list<int> bytes)
{
    QByteArray out;
    for (int b : bytes)
        out.append(char(b));
    return out;
}

QByteArray jpeg(VideoCodec &codec, int width, int height, int frame, int quality, int maxLength)
{
    const std::vector<uchar> rgb = TestSupport::movingPicture(width, height, frame);
    QByteArray out(maxLength, Qt::Uninitialized);
    const int n = codec.compressStill(rgb.data(), width, height, quality, reinterpret_cast<uchar *>(out.data()),
                                      maxLength);
    out.truncate(n);
    return out;
}

// What a client of the encrypted port sends first: its whole first handshake message.
QByteArray clientHello()
{
    QTemporaryDir dir;
    Identity identity;
    if (identity.create(dir.filePath(Identity::FileName)))
        return {};
    QTcpServer server;
    server.listen(QHostAddress::LocalHost);
    QSslSocket client;
    client.setSslConfiguration(TlsSetup::configuration(identity.credentials("ann@example.org"), {PeerChannel::Control}));
    client.connectToHostEncrypted("127.0.0.1", server.serverPort());
    QByteArray hello;
    if (server.waitForNewConnection(5000)) {
        QTcpSocket *in = server.nextPendingConnection();
        for (int i = 0; i < 50 && hello.size() < 5; ++i) {
            QCoreApplication::processEvents();
            in->waitForReadyRead(100);
            hello += in->readAll();
        }
    }
    return hello;
}

QByteArray gsmBlocks(GsmCodec &codec, int blocks, int quality)
{
    const std::vector<qint16> samples = TestSupport::tone(440, blocks * GsmCodec::BlockSamples);
    QByteArray out(blocks * GsmCodec::PhoneBlockBytes, Qt::Uninitialized);
    const int n = codec.compress(samples.data(), int(samples.size()), quality, reinterpret_cast<uchar *>(out.data()),
                                 int(out.size()));
    out.truncate(n);
    return out;
}

// The received text of one media packet: the framing without its terminator.
QByteArray received(QByteArrayView kind, const QByteArray &body)
{
    QByteArray packet = MediaPacket::build(kind, body);
    packet.chop(3);
    return packet;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds <corpus folder>\n");
        return 2;
    }
    const QDir out(QString::fromLocal8Bit(argv[1]));
    QTemporaryDir scratch;

    // Control channel: one message per seed, as each side sends it.
    seed(out, "control", "request", ControlProtocol::request("Ann", "Oslo", QTime(9, 5)));
    seed(out, "control", "acceptance", ControlProtocol::acceptance("Bob", "Bergen", QTime(14, 30)));
    seed(out, "control", "refusal", ControlProtocol::refusal());
    seed(out, "control", "busy", ControlProtocol::busy());
    seed(out, "control", "userinfo-rtc", ControlProtocol::userInfo(true));
    seed(out, "control", "userinfo-off", ControlProtocol::userInfo(false));
    seed(out, "control", "key", "KEY;1;");

    VideoCodec video;
    GsmCodec gsm;
    const QByteArray small = jpeg(video, 160, 120, 3, 40, 8000);
    const QByteArray normal = jpeg(video, 320, 240, 7, 25, 12000);
    const QByteArray phone = gsmBlocks(gsm, 1, GsmCodec::Phone);
    const QByteArray radio = gsmBlocks(gsm, 1, GsmCodec::Radio);
    const QByteArray welcome = "I can SEE you Too!";

    // Media channel: the text of one received event.
    seed(out, "media", "video-160", received(MediaPacket::VideoKind, small));
    seed(out, "media", "video-320", received(MediaPacket::VideoKind, normal));
    seed(out, "media", "sound-phone", received(MediaPacket::AudioKind, phone));
    seed(out, "media", "sound-radio", received(MediaPacket::AudioKind, radio));
    seed(out, "media", "text", received(MediaPacket::TextKind, welcome));

    // Today's formats: a key frame, the frame after it, a sound packet and a request.
    {
        Vp8Encoder encoder(300);
        const YuvPicture picture = TestSupport::movingYuvPicture(160, 120, 0);
        const QByteArray key = encoder.encode(picture, 0).data;
        const QByteArray next = encoder.encode(picture, 40).data;
        OpusVoiceEncoder opus;
        const std::vector<qint16> silence(OpusVoiceEncoder::FrameSamples * 4, 0);
        const QByteArray sound = opus.encode(silence.data(), int(silence.size()));
        const auto coded = [](CodedMediaPacket::Kind kind, const QByteArray &payload) {
            return CodedMediaPacket::build(kind, payload).chopped(3);
        };
        seed(out, "codedmedia", "vp8-key", coded(CodedMediaPacket::Kind::Vp8, key));
        seed(out, "codedmedia", "vp8-next", coded(CodedMediaPacket::Kind::Vp8, next));
        seed(out, "codedmedia", "opus", coded(CodedMediaPacket::Kind::Opus, sound));
        seed(out, "codedmedia", "key-request", coded(CodedMediaPacket::Kind::KeyFrameRequest, "1"));
    }

    // Datagrams as a sender with the target's keys puts them on the wire: the first packets
    // of a key frame and of sound.
    {
        DatagramMedia sender(QByteArray(DatagramMedia::KeyBytes, 'a'), QByteArray(DatagramMedia::KeyBytes, 'b'));
        QList<QByteArray> wire;
        QObject::connect(&sender, &DatagramMedia::datagramReady, [&wire](const QByteArray &d) { wire.append(d); });
        Vp8Encoder encoder(300);
        const YuvPicture picture = TestSupport::movingYuvPicture(160, 120, 0);
        OpusVoiceEncoder opus;
        const std::vector<qint16> silence(OpusVoiceEncoder::FrameSamples, 0);
        sender.sendVideo(encoder.encode(picture, 0).data, false);
        sender.sendSound(opus.encode(silence.data(), int(silence.size())));
        QDeadlineTimer deadline(5000);
        while (wire.size() < 2 && !deadline.hasExpired())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        for (qsizetype i = 0; i < wire.size() && i < 4; ++i)
            seed(out, "datagrammedia", qPrintable(QStringLiteral("datagram-%1").arg(i)), wire.at(i));
    }

    // Picture packets' descriptors, each behind its length and key-frame flag: a layered
    // stream that loses a base frame, and one numbered by picture IDs alone that wraps.
    {
        const auto packet = [](bool key, std::initializer_list<int> bytes) {
            return choices({int(bytes.size()) | (key ? 0x10 : 0)}) + choices(bytes);
        };
        seed(out, "framereference", "layered",
             packet(true, {0x90, 0xe0, 0x80, 0x01, 0x07, 0x00}) + packet(false, {0xb0, 0xe0, 0x80, 0x02, 0x07, 0x60})
                 + packet(false, {0x90, 0xe0, 0x80, 0x03, 0x08, 0x00})
                 + packet(false, {0xb0, 0xe0, 0x80, 0x06, 0x09, 0x60}));
        seed(out, "framereference", "picture-ids",
             packet(true, {0x90, 0x80, 0x7f}) + packet(false, {0x90, 0x80, 0x00}) + packet(false, {0x80, 0x80, 0x00})
                 + packet(false, {0x90, 0x80, 0x02}));
    }

    // Framing: terminator, limit and chunking choices, then a stream as it comes in.
    const QByteArray stream = MediaPacket::build(MediaPacket::TextKind, welcome)
                              + MediaPacket::build(MediaPacket::AudioKind, phone)
                              + MediaPacket::build(MediaPacket::TextKind, "ok");
    seed(out, "framing", "media-stream", choices({0, 250, 7}) + stream);
    seed(out, "framing", "media-stream-short-limit", choices({0, 20, 3}) + stream);
    seed(out, "framing", "control-messages", choices({2, 250, 1}) + ControlProtocol::request("Ann", "Oslo", QTime(9, 5))
                                            + ControlProtocol::userInfo(true));
    seed(out, "framing", "server-lines", choices({1, 9, 5}) + "first;line;<ET>second<ET><ET>third<E");

    // Decoders: a room choice, then the body.
    seed(out, "jpeg", "frame-160", choices({0}) + small);
    seed(out, "jpeg", "frame-320-exact", choices({4}) + normal);
    seed(out, "jpeg", "frame-160-short", choices({1}) + small);
    seed(out, "gsm", "phone", choices({0}) + phone);
    seed(out, "gsm", "phone-twice", choices({1}) + phone + phone);
    seed(out, "gsm", "radio", choices({0}) + radio);

    // Files of the profile folder, as the program writes them.
    const QString ini = scratch.filePath("zelmo.ini");
    Settings settings;
    settings.save(ini);
    seed(out, "profile", "defaults", TestSupport::readBytes(ini));
    TestSupport::writeBytes(ini, "; kept by hand\r\n[Personal]\r\nName=Ann Example\r\nLocation = Oslo \r\n"
                                 "[Other]\r\nx=1\r\n[Calling]\r\nAutoDecTime=abc\r\nEnableRTC=true\r\n");
    settings.load(ini);
    settings.save(ini);
    seed(out, "profile", "edited", TestSupport::readBytes(ini));

    const QString refuse = scratch.filePath("refuse.dat");
    RefuseList refused;
    refused.add(refuse, 1234, "Eve", "eve@example.org");
    refused.add(refuse, -1, "Nobody", "");
    seed(out, "refuse", "two-entries", TestSupport::readBytes(refuse));

    const QString pals = scratch.filePath("zelmo.pal");
    PalList palList;
    palList.add(pals, "Ann@Example.org");
    palList.add(pals, "bob@example.org");
    seed(out, "pal", "two-pals", TestSupport::readBytes(pals));

    const QString logPath = scratch.filePath("zelmo.log");
    ActivityLog log;
    log.setClock([] { return QDateTime(QDate(2024, 3, 9), QTime(14, 5, 30)); });
    log.logLine("ZELMO Power Up");
    log.logLine("Received Call from Ann, Oslo 127.0.0.1, 9:05");
    log.logLine("ZELMO Power Down");
    log.save(logPath);
    seed(out, "log", "session", TestSupport::readBytes(logPath));

    // Chat connection: a read-size choice (bit 0: the listener's connection), then what a
    // peer typing sends.
    using namespace ChatProtocol;
    QByteArray typing;
    for (const char32_t c : {U'H', U'i', U'!', char32_t(Backspace), char32_t(Enter), U'\u00e9', U'\U0001F600'})
        typing += typed(c);
    seed(out, "chat", "typing-client", choices({40}) + typing);
    seed(out, "chat", "typing-listener-bytewise", choices({1}) + typing);
    seed(out, "chat", "bells", choices({14}) + ringUser() + bell() + typed(U'a') + ringUser());

    // Directory and pal servers: a read-size choice (bit 0: the pal server), then what the
    // server sends.
    namespace Proto = DirectoryProtocol;
    QVector<Proto::UserEntry> users;
    users.append({1234, "Ann Example", "Oslo", "Hello", "127.0.0.1", 2000, 0, true, true, 1});
    users.append({77, "Bob", "Bergen", "", "192.0.2.7", 2004, 0, false, true, 1});
    const QVector<Proto::ServerEntry> servers{{"dir.example.org", 2010, "Main"}, {"127.0.0.1", 2020, "Test"}};
    seed(out, "directory", "directory-session",
         choices({8}) + Proto::notice("INT", "Welcome") + Proto::serverList(servers) + Proto::userList(2, 2, users)
             + Proto::emailAnswer({"ann@example.org", "Ann Example", "Oslo", "127.0.0.1", 2000})
             + Proto::emailAnswer({"nobody@example.org", "", "", Proto::NobodyAddress, 0}));
    seed(out, "directory", "directory-notices",
         choices({200}) + Proto::notice("MSG", "Going down at noon")
             + Proto::redirect({"other.example.org", 2010, "Less busy"})
             + Proto::notice("BSY", "The directory server is full. Please try again later."));
    seed(out, "directory", "pal-session",
         choices({9}) + Proto::newNumber(1234)
             + Proto::emailAnswer({"ann@example.org", "Ann Example", "Oslo", "127.0.0.1", 2000})
             + Proto::emailAnswer({"bob@example.org", "", "", Proto::NobodyAddress, 0})
             + Proto::palBusy({"127.0.0.1", 2025, ""}));

    // zelmo-directory: how many connection choices, the choices, then the clients' lines.
    const QByteArray annLogin = Proto::login({.userNumber = 1234, .name = "Ann Example", .email = "Ann@Example.org",
                                              .location = "Oslo", .comment = "Hi", .video = true, .audio = true,
                                              .listed = true, .port = 2000});
    const QByteArray bobLogin = Proto::login({.name = "Bob", .email = "bob@example.org", .location = "Bergen",
                                              .audio = true, .listed = true, .port = 2004});
    const QByteArray annPal = Proto::login({.userNumber = 1234, .name = "Ann Example", .email = "ann@example.org",
                                            .location = "Oslo", .comment = "Hi", .kind = Proto::Login::PalClient,
                                            .port = 2000});
    seed(out, "server", "directory-session",
         choices({0, 0}) + annLogin + Proto::noticeRequest() + Proto::listRequest()
             + Proto::emailLookup("Bob@example.org"));
    seed(out, "server", "pal-session",
         choices({0, 1}) + Proto::numberRequest() + annPal + Proto::emailLookup("ann@example.org"));
    seed(out, "server", "two-users-one-leaves",
         choices({4, 0, 2, 1, 8, 2}) + annLogin + bobLogin + annPal + Proto::listRequest()
             + Proto::emailLookup("ann@example.org"));
    // Keyed logins: an owner with a key, impostors plain and with other keys, and a client
    // that opens with a TLS record and then sends text.
    seed(out, "keyedserver", "owner-and-impostors",
         choices({2, 0x0a, 0x00, 0x16}) + annLogin + annLogin + annPal + Proto::emailLookup("ann@example.org")
             + Proto::listRequest());
    seed(out, "keyedserver", "owner-leaves-then-another-key",
         choices({1, 0x22, 0x06}) + annLogin + annLogin + bobLogin + Proto::emailLookup("ann@example.org"));
    seed(out, "keyedserver", "garbage-after-a-tls-byte",
         choices({1, 0x03, 0x01}) + QByteArray("\x03\x01\x02\x00\x01\x00\x01\xfc<ET>", 12) + annLogin + bobLogin);

    // Quick messages: how many connection choices, the choices, then the senders' stream.
    namespace QM = QuickMessageProtocol;
    const QM::Head annHead{1234, "Ann Example", "ann@example.org", "Oslo", "09:05", "Call me;\r\nsoon <E> please"};
    const QByteArray thumbnail = jpeg(video, QM::ThumbnailWidth, QM::ThumbnailHeight, 5, 50, QM::MaxPictureBytes);
    const QByteArray whole = QM::request(1234) + QM::head(annHead) + QM::picture(thumbnail) + QM::audioBlock(phone)
                             + QM::audioBlock(phone) + QM::audioEnd() + QM::end();
    seed(out, "messages", "whole-message", choices({0, 0}) + whole);
    seed(out, "messages", "switched-off", choices({0, 16}) + QM::request(-1) + QM::head({}) + QM::end());
    // Two senders taking turns line by line.
    seed(out, "messages", "two-senders",
         choices({1, 0, 1}) + QM::request(1234) + QM::request(77) + QM::head(annHead)
             + QM::head({77, "Bob", "", "Bergen", "10:00", "Hi"}) + QM::picture(thumbnail) + QM::audioBlock(radio)
             + QM::end() + "MSE;<E>");

    // The user number file as the program writes it.
    const QString number = scratch.filePath(UserNumberFile::FileName);
    UserNumberFile::write(number, 1234);
    seed(out, "usernumber", "number", TestSupport::readBytes(number));

    // Path descriptions as the ICE agent writes their lines: host, reflexive and relayed
    // candidates over four components, and one without candidates.
    seed(out, "icedescription", "call",
         IceDescription("Xq7b", "rTg3kP0q9LmZ2vWcYh+/aB",
                        {"a=candidate:1 1 UDP 2013266431 192.168.1.10 45678 typ host",
                         "a=candidate:1 2 UDP 2013266430 192.168.1.10 45679 typ host",
                         "a=candidate:2 3 UDP 1677724415 203.0.113.7 51000 typ srflx raddr 192.168.1.10 rport 45680",
                         "a=candidate:3 4 UDP 16777215 198.51.100.2 49152 typ relay raddr 203.0.113.7 rport 51001",
                         "a=candidate:4 1 UDP 2015363327 fd00::2 40000 typ host"})
             .toText());
    seed(out, "icedescription", "bare", IceDescription("abcd", "0123456789abcdefghij+/", {}).toText());

    const QString capture = scratch.filePath("capture.ini");
    {
        CaptureProfile profile(capture);
        profile.setEntry("USB Camera", CaptureProfile::Entry{"640x480;YUYV;30", QSize(320, 240), true});
        profile.setEntry("Test Pattern", CaptureProfile::Entry{QString(), QSize(), false});
        profile.save();
    }
    seed(out, "capture", "two-cameras", TestSupport::readBytes(capture));

    // The known peers as the program writes them.
    const QString peersPath = scratch.filePath(KnownPeers::FileName);
    {
        KnownPeers peers;
        peers.remember("bob@example.org", QByteArray(32, 'b'), "192.0.2.7");
        peers.markVerified("192.0.2.9", QByteArray(32, 'c'), "192.0.2.9");
        peers.save(peersPath);
    }
    seed(out, "knownpeers", "two-peers", TestSupport::readBytes(peersPath));

    // The router's SOAP answers (status 200, 500 by the first byte) as routers send them: an
    // address, a mapping made, a refusal with its UPnP error; and a request of our own.
    const QByteArray soapHead = "<?xml version=\"1.0\"?>\r\n<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\" "
                                "s:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\"><s:Body>";
    const QByteArray soapTail = "</s:Body></s:Envelope>\r\n";
    seed(out, "upnpsoap", "external-address",
         choices({0}) + soapHead
             + "<u:GetExternalIPAddressResponse xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\">"
               "<NewExternalIPAddress>203.0.113.7</NewExternalIPAddress></u:GetExternalIPAddressResponse>"
             + soapTail);
    seed(out, "upnpsoap", "mapped",
         choices({0}) + soapHead
             + "<u:AddPortMappingResponse xmlns:u=\"urn:schemas-upnp-org:service:WANIPConnection:1\"/>" + soapTail);
    seed(out, "upnpsoap", "conflict",
         choices({1}) + soapHead
             + "<s:Fault><faultcode>s:Client</faultcode><faultstring>UPnPError</faultstring><detail>"
               "<UPnPError xmlns=\"urn:schemas-upnp-org:control-1-0\"><errorCode>718</errorCode>"
               "<errorDescription>ConflictInMappingEntry</errorDescription></UPnPError></detail></s:Fault>"
             + soapTail);
    seed(out, "upnpsoap", "request",
         choices({0}) + UpnpSoap::envelope("urn:schemas-upnp-org:service:WANIPConnection:1", "AddPortMapping",
                                           {{"NewRemoteHost", QString()},
                                            {"NewExternalPort", QStringLiteral("2000")},
                                            {"NewProtocol", QStringLiteral("TCP")},
                                            {"NewDescription", QStringLiteral("ZELMO <Ann & Bob>")}}));

    // Answers to the router search (the first byte picks the gateway, 0: 192.168.1.1): the
    // gateway's own, one that points elsewhere, one in lower case.
    const QByteArray searchAnswer = "HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
                                    "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                                    "USN: uuid:0d8a1c2e-1111-4e2f-9c3d-0a1b2c3d4e5f::upnp:rootdevice\r\n";
    seed(out, "routersearch", "gateway",
         choices({0}) + searchAnswer + "LOCATION: http://192.168.1.1:5000/rootDesc.xml\r\nSERVER: Linux UPnP/1.1\r\n\r\n");
    seed(out, "routersearch", "elsewhere",
         choices({0}) + searchAnswer + "LOCATION: http://192.168.1.77:6379/d.xml\r\n\r\n");
    seed(out, "routersearch", "lower-case",
         choices({1}) + "HTTP/1.0 200 OK\r\nlocation:http://10.0.0.138/igd.xml\r\next:\r\n\r\n");

    // The encrypted port: the start of a real handshake, a plain request, half a record.
    seed(out, "secure", "client-hello", choices({255}) + clientHello());
    seed(out, "secure", "client-hello-bytewise", choices({0}) + clientHello().left(120));
    seed(out, "secure", "plain-request", choices({40}) + ControlProtocol::request("Ann", "Oslo", QTime(9, 5)));
    return 0;
}
