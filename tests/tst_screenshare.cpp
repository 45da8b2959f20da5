#include "core/Settings.h"
#include "media/CaptureControl.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/picture/TestPatternCamera.h"
#include "media/VideoEngine.h"
#include "share/ScreenShare.h"
#include "share/X11ScreenSource.h"
#include "share/X11Targets.h"
#include "support/DesktopKit.h"
#include "support/PipeWirePicture.h"
#include "support/RunningProgram.h"
#include "ui/MainWindowController.h"
#include "ui/ScreenPickerDialog.h"
#include "ui/WindowShell.h"
#include "ui/frmSelf.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

#include <QSignalSpy>
#include <QStandardPaths>
#include <QTest>

#include <xcb/xcb.h>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// The four quadrants' colours of the known picture: red, green, blue, white.
const QList<QColor> Quadrants{QColor(220, 30, 30), QColor(30, 200, 40), QColor(40, 50, 210), QColor(240, 240, 240)};

QImage quadrants(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    const int w = size.width() / 2;
    const int h = size.height() / 2;
    for (int i = 0; i < 4; ++i) {
        const QRect part((i % 2) * w, (i / 2) * h, i % 2 ? size.width() - w : w, i / 2 ? size.height() - h : h);
        for (int y = part.top(); y <= part.bottom(); ++y)
            for (int x = part.left(); x <= part.right(); ++x)
                image.setPixel(x, y, Quadrants.at(i).rgb());
    }
    return image;
}

bool near(QColor a, QColor b)
{
    return std::abs(a.red() - b.red()) < 24 && std::abs(a.green() - b.green()) < 24 && std::abs(a.blue() - b.blue()) < 24;
}

// A top-level window on the test's display, painted by the test over a connection of its own.
struct TestWindow
{
    xcb_connection_t *c = nullptr;
    xcb_window_t window = 0;
    xcb_gcontext_t gc = 0;

    TestWindow(const QString &display, QRect geometry, const QByteArray &title)
    {
        c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
        window = xcb_generate_id(c);
        const quint32 values[] = {screen->black_pixel};
        xcb_create_window(c, XCB_COPY_FROM_PARENT, window, screen->root, qint16(geometry.x()), qint16(geometry.y()),
                          quint16(geometry.width()), quint16(geometry.height()), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                          screen->root_visual, XCB_CW_BACK_PIXEL, values);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_NAME, XCB_ATOM_STRING, 8,
                            quint32(title.size()), title.constData());
        gc = xcb_generate_id(c);
        xcb_create_gc(c, gc, window, 0, nullptr);
        xcb_map_window(c, window);
        sync();
    }
    ~TestWindow()
    {
        if (c)
            xcb_disconnect(c);
    }
    // Waits until the server has done everything asked so far.
    void sync() { std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr)); }
    void paint(const QImage &picture, QPoint at = {})
    {
        // In bands: a plain request holds at most 256 kB.
        for (int y = 0; y < picture.height(); y += 32) {
            const int rows = std::min(32, picture.height() - y);
            xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, window, gc, quint16(picture.width()), quint16(rows),
                          qint16(at.x()), qint16(at.y() + y), 0, 24, quint32(picture.bytesPerLine() * rows),
                          picture.constScanLine(y));
        }
        sync();
    }
    void resize(QSize size)
    {
        const quint32 values[] = {quint32(size.width()), quint32(size.height())};
        xcb_configure_window(c, window, XCB_CONFIG_WINDOW_WIDTH | XCB_CONFIG_WINDOW_HEIGHT, values);
        xcb_flush(c);
    }
    void destroy()
    {
        xcb_destroy_window(c, window);
        sync();
    }
};

// A camera, its capture and the sharing service as the program wires them, without windows.
struct Rig
{
    Settings settings;
    VideoEngine engine{std::make_shared<TestDeviceProvider>(false), QString()};
    CaptureControl capture{settings, engine};
    QStringList log;
    std::unique_ptr<ScreenShare> share;

    explicit Rig(const QString &display)
    {
        settings.DriverNum = qint16(TestDeviceProvider(false).cameraNames().indexOf(TestPatternCamera::deviceName()));
        engine.initialize();
        capture.startCapture();
        capture.setInCall(true);
        share = std::make_unique<ScreenShare>(ScreenShare::Context{
            capture, [this](const QString &line) { log << line; }, display, QDBusConnection(QString()), 75});
        share->setInCall(true);
    }
    // The latest frame at the capture size, after waiting for a new one.
    QImage nextFrame() { return nextFrameOf(engine); }
    static QImage nextFrameOf(VideoEngine &engine, int ms = 5000)
    {
        QSignalSpy arrived(&engine, &VideoEngine::frameArrived);
        if (!arrived.wait(ms))
            return {};
        return engine.latestPicture();
    }
    // Whether a frame shows the four quadrants within `area`.
    static bool showsQuadrants(const QImage &frame, QRect area)
    {
        if (frame.isNull())
            return false;
        for (int i = 0; i < 4; ++i) {
            const QPoint p(area.x() + area.width() * (i % 2 ? 3 : 1) / 4, area.y() + area.height() * (i / 2 ? 3 : 1) / 4);
            if (!near(frame.pixelColor(p), Quadrants.at(i)))
                return false;
        }
        return true;
    }
};

// One stream of the portal's Start answer, a(ua{sv}): its node and properties.
struct PortalStream
{
    quint32 node = 0;
    QVariantMap properties;
};

QDBusArgument &operator<<(QDBusArgument &argument, const PortalStream &stream)
{
    argument.beginStructure();
    argument << stream.node << stream.properties;
    argument.endStructure();
    return argument;
}

const QDBusArgument &operator>>(const QDBusArgument &argument, PortalStream &stream)
{
    argument.beginStructure();
    argument >> stream.node >> stream.properties;
    argument.endStructure();
    return argument;
}

// The desktop portal's screen casts as a desktop answers them: a session, the user's
// choice (or refusal) in its dialog, one stream, and a connection to the PipeWire daemon.
class FakeScreenCast : public QDBusVirtualObject
{
public:
    FakeScreenCast(QDBusConnection bus, QString pipeWireSocket)
        : m_bus(std::move(bus))
        , m_socket(std::move(pipeWireSocket))
    {
        qDBusRegisterMetaType<PortalStream>();
        qDBusRegisterMetaType<QList<PortalStream>>();
    }
    bool registerOnBus()
    {
        return m_bus.registerVirtualObject(DesktopKit::FakePortal::Path, this, QDBusConnection::SubPath)
               && m_bus.registerService(DesktopKit::FakePortal::Service);
    }
    // The desktop's own "stop sharing".
    void endSession()
    {
        m_bus.send(QDBusMessage::createSignal(session, QStringLiteral("org.freedesktop.portal.Session"),
                                              QStringLiteral("Closed")));
    }

    // Whether a Start hands over its stream, and the stream's node.
    uint startAnswer = 0;
    quint32 node = 42;
    // The request (CreateSession, SelectSources or Start) whose answer waits for release(),
    // as while the desktop's dialog is open.
    QString holdAnswerTo;
    QString session;
    QStringList calls;
    QStringList closed;

    bool holds() const { return !m_held.isEmpty(); }
    void release()
    {
        respond(m_held, m_heldCode, m_heldResults);
        m_held.clear();
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override
    {
        const QList<QVariant> a = message.arguments();
        const QString member = message.member();
        calls << member;
        if (member == QLatin1String("Get")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusVariant(uint(4)))));
            return true;
        }
        if (member == QLatin1String("Close")) {
            closed << message.path();
            connection.send(message.createReply());
            return true;
        }
        QString sender = message.service().mid(1);
        sender.replace(QLatin1Char('.'), QLatin1Char('_'));
        const QVariantMap options = qdbus_cast<QVariantMap>(a.value(a.size() - 1).value<QDBusArgument>());
        const QString request = DesktopKit::FakePortal::Path + QStringLiteral("/request/") + sender + QLatin1Char('/')
                                + options.value(QStringLiteral("handle_token")).toString();
        if (member == QLatin1String("CreateSession")) {
            session = DesktopKit::FakePortal::Path + QStringLiteral("/session/") + sender + QLatin1Char('/')
                      + options.value(QStringLiteral("session_handle_token")).toString();
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            respond(request, 0, {{QStringLiteral("session_handle"), session}});
            return true;
        }
        if (member == QLatin1String("SelectSources")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            respond(request, 0, {});
            return true;
        }
        if (member == QLatin1String("Start")) {
            connection.send(message.createReply(QVariant::fromValue(QDBusObjectPath(request))));
            QVariantMap results;
            results.insert(QStringLiteral("streams"),
                           QVariant::fromValue(QList<PortalStream>{{node, {{QStringLiteral("source_type"), uint(1)}}}}));
            respond(request, startAnswer, startAnswer == 0 ? results : QVariantMap());
            return true;
        }
        if (member == QLatin1String("OpenPipeWireRemote")) {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un address{};
            address.sun_family = AF_UNIX;
            const QByteArray path = QFile::encodeName(m_socket);
            std::memcpy(address.sun_path, path.constData(), std::min<size_t>(path.size(), sizeof(address.sun_path) - 1));
            if (::connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)) != 0) {
                ::close(fd);
                connection.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("no PipeWire")));
                return true;
            }
            connection.send(message.createReply(QVariant::fromValue(QDBusUnixFileDescriptor(fd))));
            ::close(fd);
            return true;
        }
        return false;
    }

private:
    void respond(const QString &request, uint code, const QVariantMap &results)
    {
        if (calls.last() == holdAnswerTo && m_held.isEmpty()) {
            m_held = request;
            m_heldCode = code;
            m_heldResults = results;
            return;
        }
        QDBusMessage signal =
            QDBusMessage::createSignal(request, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
        signal << code << results;
        m_bus.send(signal);
    }

    QDBusConnection m_bus;
    QString m_socket;
    QString m_held;
    uint m_heldCode = 0;
    QVariantMap m_heldResults;
};

ScreenTarget findTarget(const QList<ScreenTarget> &targets, const QString &name)
{
    for (const ScreenTarget &t : targets) {
        if (t.name == name)
            return t;
    }
    return {};
}

} // namespace

class TestScreenShare : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            QSKIP("Xvfb is not installed (Debian package xvfb): there is no X display to share");
    }

    // A window chosen in the picker takes the camera's place with its own picture; when it
    // closes, the camera comes back with one line in the log, and the call goes on.
    void aSharedWindowShowsItsPictureUntilItCloses()
    {
        DesktopKit::VirtualDisplay display;
        QVERIFY2(display.start(QStringLiteral("800x600x24")), "Xvfb did not start");
        TestWindow window(display.name, QRect(60, 40, 400, 300), "Quadrants");
        window.paint(quadrants(QSize(400, 300)));

        Rig rig(display.name);
        QVERIFY(rig.share->canShare());
        QSignalSpy picker(rig.share.get(), &ScreenShare::pickerWanted);
        rig.share->request();
        QCOMPARE(picker.size(), 1);
        const auto targets = picker.at(0).at(0).value<QList<ScreenTarget>>();
        QCOMPARE(targets.value(0).kind, ScreenTarget::Kind::Screen);
        const ScreenTarget chosen = findTarget(targets, QStringLiteral("Quadrants"));
        QCOMPARE(chosen.kind, ScreenTarget::Kind::Window);
        QCOMPARE(chosen.size, QSize(400, 300));

        // Nothing is shared before the choice; then the window's picture, fitting the frame.
        QVERIFY(!rig.engine.isSharing());
        rig.share->choose(chosen);
        QCOMPARE(rig.share->state(), ScreenShare::State::Sharing);
        QVERIFY(rig.capture.isSharing());
        QImage frame = rig.nextFrame();
        QCOMPARE(frame.size(), QSize(320, 240));
        QVERIFY2(Rig::showsQuadrants(frame, frame.rect()), "the shared frame does not show the window's picture");
        QVERIFY(!TestPatternCamera::readStamp(frame).valid);
        const int linesBefore = int(rig.log.size());

        // The window goes: back to the camera, one line says why.
        QSignalSpy changed(&rig.capture, &CaptureControl::sharingChanged);
        window.destroy();
        QTRY_VERIFY_WITH_TIMEOUT(!rig.engine.isSharing(), 5000);
        QCOMPARE(rig.share->state(), ScreenShare::State::Idle);
        QCOMPARE(rig.log.size(), linesBefore + 1);
        QVERIFY2(rig.log.last().contains(QStringLiteral("window was closed")), qPrintable(rig.log.last()));
        QCOMPARE(changed.size(), 1);
        QCOMPARE(changed.at(0).at(0).toBool(), false);
        QVERIFY(rig.capture.isReady() && rig.capture.isRunning());
        QTRY_VERIFY_WITH_TIMEOUT(TestPatternCamera::readStamp(rig.nextFrame()).valid, 5000);
        // Still in the call: sharing can be asked for again.
        QVERIFY(rig.share->canShare());
    }

    // Stopping and the call's end both bring the camera back; a paused camera stays paused.
    void stoppingOrTheCallsEndBringTheCameraBack()
    {
        DesktopKit::VirtualDisplay display;
        QVERIFY2(display.start(), "Xvfb did not start");
        TestWindow window(display.name, QRect(0, 0, 640, 480), "Whole");
        window.paint(quadrants(QSize(640, 480)));
        Rig rig(display.name);
        QSignalSpy picker(rig.share.get(), &ScreenShare::pickerWanted);

        rig.share->request();
        // The whole screen, which the window covers.
        rig.share->choose(picker.at(0).at(0).value<QList<ScreenTarget>>().value(0));
        QVERIFY(Rig::showsQuadrants(rig.nextFrame(), QRect(0, 0, 320, 240)));
        rig.share->stop();
        QVERIFY(!rig.engine.isSharing());
        QCOMPARE(rig.share->state(), ScreenShare::State::Idle);
        QTRY_VERIFY_WITH_TIMEOUT(TestPatternCamera::readStamp(rig.nextFrame()).valid, 5000);

        // Shared while paused: the screen goes out; after it, the camera stays paused.
        rig.capture.pauseCapture();
        rig.share->request();
        rig.share->choose(picker.at(1).at(0).value<QList<ScreenTarget>>().value(0));
        QVERIFY(rig.capture.isRunning());
        QVERIFY(Rig::showsQuadrants(rig.nextFrame(), QRect(0, 0, 320, 240)));
        rig.share->setInCall(false);
        QVERIFY(!rig.engine.isSharing());
        QVERIFY(!rig.capture.isRunning());
        QVERIFY(!rig.share->canShare());
        rig.share->request();
        QCOMPARE(picker.size(), 2);
    }

    // A screen wider than 8192 pixels is read in bounded tiles, all of it; a window that
    // changes size before every frame, or lies partly off the screen, gives frames or none,
    // never a crash or a growing segment.
    void hugeScreensAndRestlessWindowsStayBounded()
    {
        DesktopKit::VirtualDisplay display;
        QVERIFY2(display.start(QStringLiteral("10240x1536x24")), "Xvfb did not start");
        // A known picture at the far right, beyond the first 8192 columns.
        TestWindow marker(display.name, QRect(8704, 0, 1536, 1536), "Marker");
        marker.paint(quadrants(QSize(1536, 1536)));

        ScreenTarget screen;
        xcb_connection_t *c = marker.c;
        screen.window = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        screen.name = QStringLiteral("Screen");
        X11ScreenSource whole(display.name, screen, 75);
        whole.setFormat(2);
        QVERIFY(whole.start());
        QSignalSpy frames(&whole, &CameraDevice::frameReady);
        QVERIFY(whole.captureFrame());
        QCOMPARE(whole.sourceSize(), QSize(10240, 1536));
        QVERIFY(whole.segmentBytes() <= qsizetype(X11ScreenSource::MaxTileWidth) * X11ScreenSource::MaxTileHeight * 4);
        QVideoFrame frame = frames.last().at(0).value<QVideoFrame>();
        QCOMPARE(frame.size(), QSize(640, 480));
        QVERIFY(frame.map(QVideoFrame::ReadOnly));
        const QImage picture = QImage(frame.bits(0), 640, 480, int(frame.bytesPerLine(0)), QImage::Format_RGB32).copy();
        frame.unmap();
        // 10240 x 1536 fits as 640 x 96, centred: the marker is its last 96 columns.
        const QRect placed(0, (480 - 96) / 2, 640, 96);
        QVERIFY2(Rig::showsQuadrants(picture, QRect(placed.right() - 95, placed.top(), 96, 96)),
                 "the right-hand part of a wide screen is missing");
        whole.stop();
        // At its own size (for a peer that codes video) it is fitted into 1920 x 1080 instead.
        whole.setFormat(int(whole.formats().size()) - 1);
        QVERIFY(whole.start());
        QVERIFY(whole.captureFrame());
        frame = frames.last().at(0).value<QVideoFrame>();
        QCOMPARE(frame.size(), QSize(1920, 288));
        QVERIFY(frame.map(QVideoFrame::ReadOnly));
        const QImage own = QImage(frame.bits(0), 1920, 288, int(frame.bytesPerLine(0)), QImage::Format_RGB32).copy();
        frame.unmap();
        QVERIFY(Rig::showsQuadrants(own, QRect(1920 - 288, 0, 288, 288)));
        whole.stop();

        TestWindow restless(display.name, QRect(100, 100, 300, 200), "Restless");
        X11ScreenSource source(display.name, ScreenTarget{ScreenTarget::Kind::Window, restless.window, QStringLiteral("Restless"), {}}, 75);
        // At its own size, the frame follows the window within bounds.
        source.setFormat(int(source.formats().size()) - 1);
        QVERIFY(source.start());
        QSignalSpy restlessFrames(&source, &CameraDevice::frameReady);
        QSignalSpy failed(&source, &CameraDevice::failed);
        const QList<QSize> sizes{QSize(1, 1), QSize(30000, 20), QSize(20, 30000), QSize(640, 480), QSize(12000, 12000),
                                 QSize(333, 77)};
        int given = 0;
        for (int i = 0; i < 120; ++i) {
            restless.resize(sizes.at(i % sizes.size()));
            if (i % 3 == 0)
                restless.sync();
            given += source.captureFrame() ? 1 : 0;
            QVERIFY(source.segmentBytes() <= qsizetype(X11ScreenSource::MaxTileWidth) * X11ScreenSource::MaxTileHeight * 4);
        }
        QVERIFY(failed.isEmpty());
        QVERIFY2(given > 20, qPrintable(QStringLiteral("only %1 frames of 120").arg(given)));
        for (const QList<QVariant> &args : std::as_const(restlessFrames)) {
            const QSize size = args.at(0).value<QVideoFrame>().size();
            QVERIFY2(size.width() >= 2 && size.height() >= 2 && size.width() <= 1920 && size.height() <= 1080
                         && size.width() % 2 == 0 && size.height() % 2 == 0,
                     qPrintable(QStringLiteral("a frame of %1 x %2").arg(size.width()).arg(size.height())));
        }
    }

    // Where a window manager lists the windows it manages, those are the windows offered:
    // one it does not list (a tooltip, a frame of its own) is not, however it is titled.
    void theWindowManagersListDecidesWhichWindowsAreOffered()
    {
        DesktopKit::VirtualDisplay display;
        QVERIFY2(display.start(), "Xvfb did not start");
        TestWindow listed(display.name, QRect(0, 0, 200, 100), "Listed");
        TestWindow unlisted(display.name, QRect(300, 0, 200, 100), "Unlisted");
        const auto offered = [&] {
            QStringList names;
            for (const ScreenTarget &t : X11Targets::list(display.name)) {
                if (t.kind == ScreenTarget::Kind::Window)
                    names.append(t.name);
            }
            return names;
        };
        QVERIFY(offered().contains(QStringLiteral("Unlisted")));

        xcb_connection_t *c = listed.c;
        std::unique_ptr<xcb_intern_atom_reply_t, decltype(&std::free)> clientList(
            xcb_intern_atom_reply(c, xcb_intern_atom(c, 0, 16, "_NET_CLIENT_LIST"), nullptr), &std::free);
        QVERIFY(clientList);
        const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, root, clientList->atom, XCB_ATOM_WINDOW, 32, 1, &listed.window);
        listed.sync();
        QCOMPARE(offered(), QStringList{QStringLiteral("Listed")});
    }

    // With the desktop's portal on the bus, its picker is used, never ZELMO's own list; the
    // stream it hands over (a known picture of 16:9) is read through a real PipeWire daemon
    // and fitted whole into the call's frame; the desktop ending the session, or its stream
    // stopping, ends the sharing with one line in the log, and a refusal shares nothing.
    void thePortalsSessionDecidesWhatIsShared()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pipewire")).isEmpty())
            QSKIP("pipewire is not installed (Debian package pipewire): the portal's stream has no daemon to come from");
        QTemporaryDir runtime;
        QProcess daemon;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("PIPEWIRE_RUNTIME_DIR"), runtime.path());
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), runtime.path());
        daemon.setProcessEnvironment(environment);
        daemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        daemon.start(QStringLiteral("pipewire"), {});
        const QString socket = runtime.filePath(QStringLiteral("pipewire-0"));
        if (!daemon.waitForStarted(5000) || !QTest::qWaitFor([&] { return QFile::exists(socket); }, 10000))
            QSKIP("the PipeWire daemon does not start on this machine: the portal's stream cannot be read");
        auto stopDaemon = qScopeGuard([&] {
            daemon.terminate();
            if (!daemon.waitForFinished(3000))
                daemon.kill();
        });

        PipeWirePicture screen(socket, quadrants(QSize(640, 360)));
        QString why;
        QVERIFY2(screen.start(&why), qPrintable(why));

        DesktopKit::PrivateBus bus;
        QVERIFY2(bus.start(), "dbus-daemon did not start");
        FakeScreenCast portal(bus.connect(QStringLiteral("portal")), socket);
        portal.node = screen.node();
        QVERIFY(portal.registerOnBus());

        Settings settings;
        settings.DriverNum = qint16(TestDeviceProvider(false).cameraNames().indexOf(TestPatternCamera::deviceName()));
        VideoEngine engine(std::make_shared<TestDeviceProvider>(false), QString());
        CaptureControl capture(settings, engine);
        capture.startCapture();
        capture.setInCall(true);
        QStringList log;
        // An X display too: the portal goes first all the same.
        ScreenShare share({capture, [&log](const QString &line) { log << line; }, QStringLiteral(":99"),
                           bus.connect(QStringLiteral("zelmo")), 75});
        QSignalSpy available(&share, &ScreenShare::availabilityChanged);
        QVERIFY(available.wait(5000));
        QVERIFY(share.usesPortal());
        share.setInCall(true);
        QSignalSpy picker(&share, &ScreenShare::pickerWanted);
        QSignalSpy problems(&share, &ScreenShare::problem);

        // The user says no in the desktop's dialog: nothing shared, the camera stays.
        portal.startAnswer = 1;
        share.request();
        QTRY_COMPARE(share.state(), ScreenShare::State::Idle);
        QCOMPARE(problems.size(), 1);
        QVERIFY(!engine.isSharing());
        QTRY_VERIFY(portal.closed.contains(portal.session));

        portal.startAnswer = 0;
        share.request();
        QTRY_COMPARE(share.state(), ScreenShare::State::Sharing);
        QVERIFY(picker.isEmpty());
        QVERIFY(portal.calls.contains(QStringLiteral("OpenPipeWireRemote")));
        QVERIFY(engine.isSharing());
        int linesBefore = int(log.size());
        QVERIFY(log.last().contains(QStringLiteral("through the desktop")));
        // 640 x 360 fits the 320 x 240 frame as 320 x 180, with black bars above and below.
        const auto showsScreen = [&engine] {
            const QImage frame = Rig::nextFrameOf(engine, 500);
            return frame.size() == QSize(320, 240) && Rig::showsQuadrants(frame, QRect(0, 30, 320, 180))
                   && near(frame.pixelColor(160, 12), Qt::black) && near(frame.pixelColor(160, 227), Qt::black);
        };
        QVERIFY2(QTest::qWaitFor(showsScreen, 10000),
                 qPrintable(QStringLiteral("%1 links, %2 frames sent").arg(screen.links()).arg(screen.framesSent())));

        portal.endSession();
        QTRY_VERIFY(!engine.isSharing());
        QCOMPARE(share.state(), ScreenShare::State::Idle);
        QCOMPARE(log.size(), linesBefore + 1);
        QVERIFY2(log.last().contains(QStringLiteral("ended the session")), qPrintable(log.last()));
        QTRY_VERIFY_WITH_TIMEOUT(TestPatternCamera::readStamp(Rig::nextFrameOf(engine, 2000)).valid, 5000);

        // Shared again, until the desktop's stream stops by itself.
        share.request();
        QTRY_COMPARE(share.state(), ScreenShare::State::Sharing);
        QVERIFY(QTest::qWaitFor(showsScreen, 10000));
        linesBefore = int(log.size());
        screen.stop();
        QTRY_VERIFY_WITH_TIMEOUT(!engine.isSharing(), 5000);
        QCOMPARE(share.state(), ScreenShare::State::Idle);
        QCOMPARE(log.size(), linesBefore + 1);
        QVERIFY2(log.last().contains(QStringLiteral("stopped sending")), qPrintable(log.last()));
        QTRY_VERIFY(portal.closed.count(portal.session) == 1);
    }

    // Stopping while the desktop has not answered yet (its dialog still open, say) shares
    // nothing and leaves no session open at the desktop: the session is closed as soon as
    // its handle is known, even when it comes after the stop.
    void stoppingWhileThePortalIsAskedClosesItsSession_data()
    {
        QTest::addColumn<QString>("pending");
        QTest::newRow("creating the session") << QStringLiteral("CreateSession");
        QTest::newRow("selecting the sources") << QStringLiteral("SelectSources");
        QTest::newRow("starting") << QStringLiteral("Start");
    }

    void stoppingWhileThePortalIsAskedClosesItsSession()
    {
        QFETCH(QString, pending);
        DesktopKit::PrivateBus bus;
        QVERIFY2(bus.start(), "dbus-daemon did not start");
        FakeScreenCast portal(bus.connect(QStringLiteral("portal")), QString());
        QVERIFY(portal.registerOnBus());
        Settings settings;
        VideoEngine engine(std::make_shared<TestDeviceProvider>(false), QString());
        CaptureControl capture(settings, engine);
        ScreenShare share({capture, [](const QString &) {}, QString(), bus.connect(QStringLiteral("zelmo")), 75});
        QSignalSpy available(&share, &ScreenShare::availabilityChanged);
        QVERIFY(available.wait(5000));
        share.setInCall(true);

        portal.holdAnswerTo = pending;
        share.request();
        QTRY_VERIFY(portal.holds());
        share.stop();
        QCOMPARE(share.state(), ScreenShare::State::Idle);
        portal.release();
        QTRY_VERIFY(portal.closed.contains(portal.session));
        QCOMPARE(portal.closed.count(portal.session), 1);
        // Nothing more is asked of the desktop, and nothing is shared.
        QCOMPARE(portal.calls.last(), QStringLiteral("Close"));
        QCOMPARE(portal.calls.count(pending), 1);
        QVERIFY(!portal.calls.contains(QStringLiteral("OpenPipeWireRemote")));
        QCOMPARE(share.state(), ScreenShare::State::Idle);
        QVERIFY(!engine.isSharing());
    }

    // Through the windows during a call: the self view's button, ZELMO's own list, the
    // window's picture at the other end, and Stop Sharing bringing the camera back there.
    void theOtherSideSeesTheSharedWindow()
    {
        DesktopKit::VirtualDisplay display;
        QVERIFY2(display.start(QStringLiteral("800x600x24")), "Xvfb did not start");
        TestWindow window(display.name, QRect(100, 100, 480, 360), "Document");
        window.paint(quadrants(QSize(480, 360)));
        qputenv("DISPLAY", display.name.toLocal8Bit());
        RunningProgram ann(QStringLiteral("Ann"), RunningProgram::Options{.windows = true});
        qunsetenv("DISPLAY");
        RunningProgram bob(QStringLiteral("Bob"), RunningProgram::Options{.autoAccept = true});
        frmSelf *self = ann.windowOf<frmSelf>();
        QVERIFY(self->cmdShare()->isHidden());
        QVERIFY(!ann.item("Menu_ViewShare")->isEnabled());

        QVERIFY(ann.callAndSeeFrames(bob));
        QVERIFY(ann.item("Menu_ViewShare")->isEnabled());
        ann.shell->mainController().toggleSelfView();
        QTRY_VERIFY(self->cmdShare()->isVisible());
        QVERIFY(!self->lblSharing()->isVisible());
        QTest::mouseClick(self->cmdShare(), Qt::LeftButton);
        ScreenPickerDialog *picker = nullptr;
        QTRY_VERIFY((picker = ann.main()->findChild<ScreenPickerDialog *>()) && picker->isVisible());
        auto *shareButton = picker->findChild<QPushButton *>(QStringLiteral("cmdShare"));
        QVERIFY(!shareButton->isEnabled());
        const QList<QListWidgetItem *> rows =
            picker->list()->findItems(QStringLiteral("Document"), Qt::MatchContains);
        QCOMPARE(rows.size(), 1);
        rows.first()->setSelected(true);
        QTest::mouseClick(shareButton, Qt::LeftButton);

        QTRY_VERIFY(self->lblSharing()->isVisible() && self->cmdStopShare()->isVisible());
        QVERIFY(self->cmdShare()->isHidden());
        QVERIFY(ann.item("Menu_ViewShare")->text().contains(QStringLiteral("haring")));
        QTRY_VERIFY_WITH_TIMEOUT(Rig::showsQuadrants(bob->videoEngine().incomingImage(),
                                                     bob->videoEngine().incomingImage().rect()),
                                 10000);
        // Between two programs that code video, the window goes at its own size.
        QCOMPARE(bob->videoEngine().incomingImage().size(), QSize(480, 360));
        QVERIFY(ann.inCall() && bob.inCall());

        QTest::mouseClick(self->cmdStopShare(), Qt::LeftButton);
        QTRY_VERIFY(!self->lblSharing()->isVisible());
        QTRY_VERIFY_WITH_TIMEOUT(TestPatternCamera::readStamp(bob->videoEngine().incomingImage()).valid, 10000);
        QVERIFY(ann.inCall() && bob.inCall());

        // A call that ends while the list is open takes the list with it.
        QTest::mouseClick(self->cmdShare(), Qt::LeftButton);
        QPointer<ScreenPickerDialog> open;
        QTRY_VERIFY((open = ann.main()->findChild<ScreenPickerDialog *>()) && open->isVisible());
        ann->calls().hangUp();
        QTRY_VERIFY(!open || !open->isVisible());
    }
};

QTEST_MAIN(TestScreenShare)
#include "tst_screenshare.moc"
