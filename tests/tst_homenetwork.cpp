// A hostile device on the home network answering in the router's place: a description
// that never ends or never stops, one that sends requests to another address, and one that
// holds a request while the program quits. Each is a bare HTTP server on loopback; the
// blocking router requests run off the test's thread, as they run on the program's worker.

#include "reach/DescriptionFetch.h"
#include "reach/ReachabilityService.h"
#include "reach/RouterSettings.h"
#include "reach/UpnpGateway.h"
#include "support/TestSupport.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <future>
#include <memory>

namespace {

// Answers every request with the head given, then the body in pieces: `piece` bytes every
// `everyMs`, until `total` have gone (or for ever with total < 0).
struct HttpServer
{
    QTcpServer server;
    QByteArray head;
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
                    if (!s->property("answered").toBool() && s->readAll().contains("\r\n\r\n")) {
                        s->setProperty("answered", true);
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
                return DescriptionFetch::get(QStringLiteral("http://127.0.0.1:%1/desc.xml").arg(port));
            });
            QVERIFY(finished(fetch, DescriptionFetch::TimeMs + 5000));
            const DescriptionFetch::Result r = fetch.get();
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
                return DescriptionFetch::get(QStringLiteral("http://127.0.0.1:%1/desc.xml").arg(port + 1));
            });
            QVERIFY(finished(fetch, DescriptionFetch::TimeMs + 5000));
            const DescriptionFetch::Result r = fetch.get();
            qInfo("a description that never ends: given up after %lld ms: %s", took.elapsed(), qPrintable(r.why));
            QVERIFY(!r.ok);
            QVERIFY(took.elapsed() < DescriptionFetch::TimeMs + 1000);
        }
        // A whole one, in chunks, is read.
        {
            HttpServer fine(QHostAddress::LocalHost, port + 2);
            fine.head = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n";
            auto fetch = std::async(std::launch::async, [port] {
                return DescriptionFetch::get(QStringLiteral("http://127.0.0.1:%1/desc.xml").arg(port + 2));
            });
            QVERIFY(finished(fetch, DescriptionFetch::TimeMs + 5000));
            const DescriptionFetch::Result r = fetch.get();
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
