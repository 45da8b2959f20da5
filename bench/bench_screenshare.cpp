// Sharing a screen: X11 capture of a 1920 x 1080 screen fitted into the call's 640 x 480 at
// the call's rate (13 frames a second), as CPU of one core for this process (capture and
// scaling) and for the X server (its copy into the shared segment); and the time from the
// user's choice to the first frame. Prints figures beside their targets; never a test.
//   bench_screenshare [--seconds N]

#include "core/Settings.h"
#include "media/CaptureControl.h"
#include "media/MediaSession.h"
#include "media/engine/TestDeviceProvider.h"
#include "media/engine/TestPatternCamera.h"
#include "media/engine/VideoEngine.h"
#include "share/ScreenShare.h"
#include "share/X11ScreenSource.h"
#include "support/DesktopKit.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QSignalSpy>

#include <sys/resource.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <cstdio>

namespace {

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

// User and system time of another process, from /proc.
double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    return (fields.value(11).toDouble() + fields.value(12).toDouble()) / double(sysconf(_SC_CLK_TCK));
}

// Text of a document's size over the whole screen, so the scaling has real work.
void paintScreen(const QString &display)
{
    xcb_connection_t *c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    QImage page(1920, 1080, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    QFont font;
    font.setPixelSize(10);
    painter.setFont(font);
    for (int y = 12; y < 1080; y += 13)
        painter.drawText(4, y, QStringLiteral("The quick brown fox jumps over the lazy dog 0123456789 ").repeated(6));
    painter.end();
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, screen->root, 0, nullptr);
    for (int y = 0; y < 1080; y += 32)
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, gc, 1920, quint16(std::min(32, 1080 - y)), 0,
                      qint16(y), 0, 24, quint32(page.bytesPerLine() * std::min(32, 1080 - y)), page.constScanLine(y));
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    int seconds = 10;
    const QStringList args = app.arguments();
    if (const qsizetype i = args.indexOf(QStringLiteral("--seconds")); i > 0 && i + 1 < args.size())
        seconds = std::max(1, args.at(i + 1).toInt());

    DesktopKit::VirtualDisplay display;
    if (!display.start(QStringLiteral("1920x1080x24"))) {
        std::fprintf(stderr, "bench_screenshare: Xvfb did not start\n");
        return 1;
    }
    paintScreen(display.name);

    // From the choice to the first frame, as the program does it.
    Settings settings;
    settings.DriverNum = qint16(TestDeviceProvider(false).cameraNames().indexOf(TestPatternCamera::deviceName()));
    VideoEngine engine(std::make_shared<TestDeviceProvider>(false), QString());
    engine.setCaptureFormat(-1, QSize(640, 480));
    CaptureControl capture(settings, engine);
    capture.startCapture();
    capture.setInCall(true);
    ScreenShare share({capture, [](const QString &) {}, display.name, QDBusConnection(QString()), MediaSession::TickMs});
    share.setInCall(true);
    QList<ScreenTarget> targets;
    QObject::connect(&share, &ScreenShare::pickerWanted, [&](const QList<ScreenTarget> &t) { targets = t; });
    share.request();
    if (targets.isEmpty()) {
        std::fprintf(stderr, "bench_screenshare: no screen to share\n");
        return 1;
    }
    QSignalSpy arrived(&engine, &VideoEngine::frameArrived);
    QElapsedTimer choice;
    choice.start();
    share.choose(targets.first());
    arrived.wait(5000);
    const double firstFrameMs = double(choice.nsecsElapsed()) / 1e6;
    share.stop();

    // The capture alone, at the call's rate, for a while.
    X11ScreenSource source(display.name, targets.first(), MediaSession::TickMs);
    source.setFormat(2);
    int frames = 0;
    QObject::connect(&source, &CameraDevice::frameReady, [&frames] { ++frames; });
    source.start();
    QElapsedTimer wall;
    const double cpu0 = cpuSeconds();
    const double server0 = processCpuSeconds(display.server.processId());
    wall.start();
    QTest::qWait(seconds * 1000);
    const double elapsed = double(wall.nsecsElapsed()) / 1e9;
    const double cpu = cpuSeconds() - cpu0;
    const double server = processCpuSeconds(display.server.processId()) - server0;
    source.stop();

    std::printf("X11 capture of 1920 x 1080 into 640 x 480 at the call's rate (%d ms), %d s:\n", MediaSession::TickMs,
                seconds);
    std::printf("  frames/s            %6.1f   (target 13)\n", frames / elapsed);
    std::printf("  CPU of one core     %6.1f %% (target < 10 %%: capture and scaling in this process)\n",
                100.0 * cpu / elapsed);
    std::printf("  X server's CPU      %6.1f %% (its copy into the shared segment)\n", 100.0 * server / elapsed);
    std::printf("  segment             %6.1f MB\n", double(source.segmentBytes()) / 1e6);
    std::printf("Choice to first frame %6.1f ms (target < 1000 ms)\n", firstFrameMs);
    return 0;
}
