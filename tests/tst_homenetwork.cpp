// A hostile device on the home network answering in the router's place: a description
// or a control answer that never ends or never stops, one that sends requests to another
// address, one that holds a request while the program quits, and one that floods the
// router search beside the real router. The first are bare HTTP servers on loopback; the
// last is a home network of namespaces with real router software. The blocking router
// requests run off the test's thread, as they run on the program's worker.

#include "reach/DefaultGateway.h"
#include "reach/ReachabilityService.h"
#include "reach/RouterHttp.h"
#include "reach/RouterMapping.h"
#include "reach/RouterSettings.h"
#include "reach/UpnpGateway.h"
#include "reach/UpnpSoap.h"
#include "support/HomeRouter.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QNetworkDatagram>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUdpSocket>

#include <future>
#include <memory>

namespace {

// Answers every request with the head given, then the body in pieces: `piece` bytes every
// `everyMs`, until `total` have gone (or for ever with total < 0). When `getAnswer` is
// given, a GET is answered with it alone, so that only the control requests meet the rest.
struct HttpServer
{
    QTcpServer server;
    QByteArray head;
    QByteArray getAnswer;
    QByteArray piece;
    int everyMs = 0;
    qint64 total = 0;
    qint64 written = 0;
    int connections = 0;
    QList<QPointer<QTcpSocket>> held;

    HttpServer(const QHostAddress &address, int port)
    {
        if (!server.listen(address, quint16(port)))
            qFatal("the HTTP server could not listen on %d", port);
        QObject::connect(&server, &QTcpServer::newConnection, [this] {
            while (QTcpSocket *s = server.nextPendingConnection()) {
                ++connections;
                held << s;
                QObject::connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    const QByteArray request = s->readAll();
                    if (!s->property("answered").toBool() && request.contains("\r\n\r\n")) {
                        s->setProperty("answered", true);
                        if (request.startsWith("GET") && !getAnswer.isEmpty()) {
                            s->write(getAnswer);
                            s->disconnectFromHost();
                            return;
                        }
                        s->write(head);
                        feed(s);
                    }
                });
            }
        });
    }
    void feed(QTcpSocket *s)
    {
        qint64 sent = s->property("sent").toLongLong();
        // Keep the system's buffers full without piling up here.
        while ((total < 0 || sent < total) && s->bytesToWrite() < 4 * piece.size() + 1) {
            if (piece.isEmpty())
                return;
            s->write(piece);
            sent += piece.size();
            written += piece.size();
            if (everyMs > 0)
                break;
        }
        s->setProperty("sent", sent);
        if (total >= 0 && sent >= total)
            return;
        QPointer<QTcpSocket> alive(s);
        QTimer::singleShot(everyMs, s, [this, alive] {
            if (alive && alive->state() == QAbstractSocket::ConnectedState)
                feed(alive);
        });
    }
};

template <typename T>
bool finished(std::future<T> &f, int ms)
{
    return QTest::qWaitFor([&] { return f.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, ms);
}

QByteArray description(const QString &controlUrl)
{
    return QStringLiteral(
               "<?xml version=\"1.0\"?><root xmlns=\"urn:schemas-upnp-org:device-1-0\"><device>"
               "<deviceType>urn:schemas-upnp-org:device:InternetGatewayDevice:1</deviceType><deviceList><device>"
               "<deviceType>urn:schemas-upnp-org:device:WANDevice:1</deviceType><deviceList><device>"
               "<deviceType>urn:schemas-upnp-org:device:WANConnectionDevice:1</deviceType><serviceList><service>"
               "<serviceType>urn:schemas-upnp-org:service:WANIPConnection:1</serviceType>"
               "<serviceId>urn:upnp-org:serviceId:WANIPConn1</serviceId><controlURL>%1</controlURL>"
               "<eventSubURL>/evt</eventSubURL><SCPDURL>/scpd.xml</SCPDURL></service></serviceList></device>"
               "</deviceList></device></deviceList></device></root>")
        .arg(controlUrl)
        .toUtf8();
}

QByteArray okHead(qint64 length)
{
    return "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " + QByteArray::number(length) + "\r\n\r\n";
}

} // namespace

class TestHomeNetwork : public QObject
{
    Q_OBJECT

private slots:
    // A description of a gigabyte, and one that comes a byte at a time for ever: both are
    // given up within the bounds, having held no more than the bound in memory.
    void aDescriptionTooLargeOrTooSlowIsGivenUp()
    {
        const int port = TestSupport::portBlock();
        {
            HttpServer huge(QHostAddress::LocalHost, port);
            huge.head = okHead(1000LL * 1024 * 1024);
            huge.piece = QByteArray(64 * 1024, 'x');
            huge.total = 1000LL * 1024 * 1024;
            QElapsedTimer took;
            took.start();
            auto fetch = std::async(std::launch::async, [port] {
                return RouterHttp::get(QStringLiteral("http://127.0.0.1:%1/desc.xml").arg(port));
            });
            QVERIFY(finished(fetch, RouterHttp::TimeMs + 5000));
            const RouterHttp::Result r = fetch.get();
            qInfo("a 1000 MB description: given up after %lld ms, %lld kB sent by then: %s", took.elapsed(),
                  huge.written / 1024, qPrintable(r.why));
            QVERIFY(!r.ok);
            QVERIFY(r.why.contains(QStringLiteral("larger than")));
            QVERIFY(r.body.isEmpty());
            QVERIFY2(huge.written < 16 * 1024 * 1024, "the reader took far more than its bound");
        }
        {
            HttpServer slow(QHostAddress::LocalHost, port + 1);
            slow.head = okHead(100000);
            slow.piece = "x";
            slow.everyMs = 50;
            slow.total = -1;
            QElapsedTimer took;
            took.start();
            auto fetch = std::async(std::launch::async, [port] {
                return RouterHttp::get(QStringLiteral("http://127.0.0.1:%1/desc.xml").arg(port + 1));
            });
            QVERIFY(finished(fetch, RouterHttp::TimeMs + 5000));
            const RouterHttp::Result r = fetch.get();
            qInfo("a description that never ends: given up after %lld ms: %s", took.elapsed(), qPrintable(r.why));
            QVERIFY(!r.ok);
            QVERIFY(took.elapsed() < RouterHttp::TimeMs + 1000);
        }
        // A whole one, in chunks, is read.
        {
            HttpServer fine(QHostAddress::LocalHost, port + 2);
            fine.head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
            auto fetch = std::async(std::launch::async, [port] {
                return RouterHttp::get(QStringLiteral("http://127.0.0.1:%1/desc.xml").arg(port + 2));
            });
            QVERIFY(finished(fetch, RouterHttp::TimeMs + 5000));
            const RouterHttp::Result r = fetch.get();
            QVERIFY2(r.ok, qPrintable(r.why));
            QCOMPARE(r.body, QByteArray("hello world"));
            QCOMPARE(r.localAddress, QStringLiteral("127.0.0.1"));
        }
    }

    // A description whose control address is another machine: no request goes there.
    void noRequestGoesToAnAddressTheDescriptionNames()
    {
        const int port = TestSupport::portBlock();
        HttpServer elsewhere(QHostAddress(QStringLiteral("127.0.0.2")), port + 1);
        HttpServer device(QHostAddress::LocalHost, port);
        device.head = okHead(0);
        const QByteArray body = description(QStringLiteral("http://127.0.0.2:%1/ctl").arg(port + 1));
        device.head = okHead(body.size()) + body;
        UpnpGateway gateway(QStringLiteral("http://127.0.0.1:%1/desc.xml").arg(port));
        auto found = std::async(std::launch::async, [&gateway] {
            QString why;
            bool noAnswer = false;
            const bool ok = gateway.find(&why, &noAnswer);
            return std::make_pair(ok, why);
        });
        QVERIFY(finished(found, 15000));
        const auto [ok, why] = found.get();
        QVERIFY(!ok);
        QVERIFY2(why.contains(QStringLiteral("names another address")), qPrintable(why));
        QCOMPARE(device.connections, 1);
        QCOMPARE(elsewhere.connections, 0);
    }

    // The answers to control requests are bounded as the description is: one of 256 MB,
    // and one that comes a byte at a time for ever, are given up.
    void aControlAnswerTooLargeOrTooSlowIsGivenUp()
    {
        const int port = TestSupport::portBlock();
        for (const bool endless : {false, true}) {
            HttpServer device(QHostAddress::LocalHost, port + int(endless));
            const QByteArray body = description(QStringLiteral("http://127.0.0.1:%1/ctl").arg(port + int(endless)));
            device.getAnswer = okHead(body.size()) + body;
            device.head = okHead(endless ? 100000 : 256LL << 20);
            device.piece = endless ? QByteArray("x") : QByteArray(64 * 1024, 'x');
            device.everyMs = endless ? 50 : 0;
            device.total = endless ? -1 : 256LL << 20;
            UpnpGateway gateway(QStringLiteral("http://127.0.0.1:%1/desc.xml").arg(port + int(endless)));
            QElapsedTimer took;
            took.start();
            auto found = std::async(std::launch::async, [&gateway] {
                QString why;
                bool noAnswer = false;
                const bool ok = gateway.find(&why, &noAnswer);
                return std::make_pair(ok, why);
            });
            QVERIFY(finished(found, RouterHttp::TimeMs + 5000));
            const auto [ok, why] = found.get();
            qInfo("a control answer %s: given up after %lld ms, %lld kB sent by then: %s",
                  endless ? "that never ends" : "of 256 MB", took.elapsed(), device.written / 1024, qPrintable(why));
            QVERIFY(!ok);
            QVERIFY(took.elapsed() < RouterHttp::TimeMs + 1000);
            if (!endless) {
                QVERIFY2(why.contains(QStringLiteral("larger than")), qPrintable(why));
                QVERIFY2(device.written < 16 * 1024 * 1024, "the reader took far more than its bound");
            }
        }
    }

    // A device at home answers the router search beside the real router, and goes on
    // answering for seconds, each answer naming a description of its own: only the
    // gateway's answer is taken, nothing is asked of the device, the search does not wait
    // out the flood, and the log says so in one line at most.
    void onlyTheGatewaysAnswerToTheSearchIsTaken()
    {
        HomeRouter net(QStringLiteral("hnet"));
        QString why;
        if (!net.create(&why))
            QSKIP(qPrintable(QStringLiteral("no home network to test on: ") + why));
        QTemporaryDir folder;
        QVERIFY2(net.startRouter({true, false}, folder.path(), &why), qPrintable(why));
        const QString home = HomeRouter::key(HomeRouter::Home);
        QUdpSocket hears;
        QUdpSocket answers;
        QTcpServer stranger;
        int asked = 0;
        int sent = 0;
        QVERIFY(net.lab().onMachine(home, [&] {
            hears.bind(QHostAddress::AnyIPv4, 1900, QUdpSocket::ShareAddress | QUdpSocket::ReuseAddressHint);
            hears.joinMulticastGroup(QHostAddress(QStringLiteral("239.255.255.250")));
            answers.bind(QHostAddress(HomeRouter::OtherHomeAddress), 0);
            stranger.listen(QHostAddress(HomeRouter::OtherHomeAddress), 0);
        }));
        QCOMPARE(hears.state(), QAbstractSocket::BoundState);
        QCOMPARE(answers.state(), QAbstractSocket::BoundState);
        QVERIFY(stranger.isListening());
        connect(&stranger, &QTcpServer::newConnection, this, [&] {
            while (QTcpSocket *s = stranger.nextPendingConnection()) {
                ++asked;
                s->deleteLater();
            }
        });
        QTimer flood;
        flood.setInterval(50);
        QHostAddress searcher;
        quint16 searcherPort = 0;
        QElapsedTimer flooding;
        const auto answer = [&] {
            if (flooding.elapsed() > 8000) {
                flood.stop();
                return;
            }
            const QByteArray text = QStringLiteral("HTTP/1.1 200 OK\r\nCACHE-CONTROL: max-age=120\r\n"
                                                   "ST: urn:schemas-upnp-org:device:InternetGatewayDevice:1\r\n"
                                                   "USN: uuid:%1::upnp:rootdevice\r\nLOCATION: http://%2:%3/d%1.xml\r\n\r\n")
                                        .arg(++sent)
                                        .arg(HomeRouter::OtherHomeAddress)
                                        .arg(stranger.serverPort())
                                        .toLatin1();
            answers.writeDatagram(text, searcher, searcherPort);
        };
        connect(&flood, &QTimer::timeout, this, answer);
        connect(&hears, &QUdpSocket::readyRead, this, [&] {
            while (hears.hasPendingDatagrams()) {
                const QNetworkDatagram search = hears.receiveDatagram(4096);
                if (!search.data().startsWith("M-SEARCH") || search.senderAddress().toString() != HomeRouter::HomeAddress)
                    continue;
                searcher = search.senderAddress();
                searcherPort = quint16(search.senderPort());
                if (!flood.isActive()) {
                    flooding.start();
                    flood.start();
                }
                answer();
            }
        });

        const int insideBase = TestSupport::portBlock();
        RouterMapping::Request request;
        request.insideBase = insideBase;
        request.offsets = {0, 1};
        UpnpGateway gateway(QString(), 2000);
        QElapsedTimer took;
        took.start();
        auto mapped = std::async(std::launch::async, [&] {
            RouterMapping::Outcome outcome;
            net.lab().onMachine(home, [&] { outcome = RouterMapping::mapWith(gateway, request); });
            return outcome;
        });
        QVERIFY(finished(mapped, 15000));
        const RouterMapping::Outcome outcome = mapped.get();
        const qint64 tookMs = took.elapsed();
        qInfo("mapped in %lld ms while a stranger sent %d answers; steps: %s", tookMs, sent,
              qPrintable(outcome.steps.join(QStringLiteral(" | "))));
        QVERIFY2(sent > 0, "the stranger never heard the search");
        QCOMPARE(asked, 0);
        QCOMPARE(outcome.result, RouterMapping::Outcome::Mapped);
        QCOMPARE(outcome.outsideAddress, HomeRouter::OutsideAddress);
        QCOMPARE(outcome.insideAddress, HomeRouter::HomeAddress);
        QVERIFY2(tookMs < 5000, "the search waited out the flood");
        const QStringList about = outcome.steps.filter(HomeRouter::OtherHomeAddress);
        QVERIFY(about.size() <= 1);
        QVERIFY(net.forwardingRules().contains(QString::number(outcome.outsideBase + 1)));

        // The control requests speak the router's language: the forwarding goes again.
        auto unmapped = std::async(std::launch::async, [&] {
            net.lab().onMachine(home, [&] {
                for (int offset : request.offsets)
                    gateway.unmap(insideBase + offset, outcome.outsideBase + offset);
            });
        });
        QVERIFY(finished(unmapped, 15000));
        QVERIFY2(!net.forwardingRules().contains(QString::number(outcome.outsideBase)), qPrintable(net.forwardingRules()));
    }

    // A control answer that is not XML is no success; of the default routes, the gateway is
    // the one up with the lowest metric.
    void garbledAnswersAndRouteTablesAreReadStrictly()
    {
        const UpnpSoap::Answer garbled = UpnpSoap::read(200, "<s:Envelope><u:X>1</u:Y></s:Envelope>");
        QVERIFY(!garbled.ok);
        QVERIFY2(garbled.why.contains(QStringLiteral("not readable")), qPrintable(garbled.why));
        const QByteArray table = "Iface\tDestination\tGateway\tFlags\tRefCnt\tUse\tMetric\tMask\n"
                                 "eth0\t00000000\t0101A8C0\t0001\t0\t0\t50\t00000000\n"
                                 "eth1\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\n"
                                 "eth2\t00000000\t0103A8C0\t0003\t0\t0\t600\t00000000\n";
        QCOMPARE(DefaultGateway::fromRouteTable(table), QHostAddress(QStringLiteral("192.168.2.1")));
    }

    // A device that takes the request for the description and never answers: quitting
    // does not wait for it.
    void quittingDoesNotWaitForAHeldRequest()
    {
        const int port = TestSupport::portBlock();
        HttpServer silent(QHostAddress::LocalHost, port);
        QTemporaryDir profile;
        RouterSettings settings;
        settings.RouterAddress = QStringLiteral("http://127.0.0.1:%1/desc.xml").arg(port);
        const QString path = profile.filePath(RouterSettings::FileName);
        QVERIFY(settings.save(path, nullptr));
        QStringList log;
        auto service = std::make_unique<ReachabilityService>(ReachabilityService::Services{
            path, [] { return std::pair<QString, int>(); }, [&log](const QString &line) { log << line; }});
        service->start(port + 10);
        QTRY_COMPARE(silent.connections, 1);
        QCOMPARE(service->state(), ReachabilityService::State::Asking);
        QVERIFY2(service->line().startsWith(QStringLiteral("Asking your router")), qPrintable(service->line()));
        QElapsedTimer took;
        took.start();
        service->shutdown();
        service.reset();
        qInfo("quit %lld ms after asking a router that never answers", took.elapsed());
        QVERIFY(took.elapsed() < 1000);
    }
};

QTEST_MAIN(TestHomeNetwork)
#include "tst_homenetwork.moc"
