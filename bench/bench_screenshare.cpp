// Sharing a screen: X11 capture of a 1920 x 1080 screen fitted into the call's 640 x 480 at
// the call's rate (13 frames a second), as CPU of one core for this process (capture and
// scaling) and for the X server (its copy into the shared segment); and the time from the
// user's choice to the first frame. Then the screen at its own size as two programs that
// code video send it: captured, coded at what 400 kbit/s leaves after the sound, decoded,
// with the frame rate, the rate, and how close the drawn 10-pixel text is to the screen's
// (beside the same text fitted into 640 x 480 as a JPEG picture, blown up again).
// Prints figures beside their targets; never a test.
//   bench_screenshare [--seconds N]

#include "core/Settings.h"
#include "media/CaptureControl.h"
#include "media/MediaSession.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/picture/TestPatternCamera.h"
#include "media/picture/Vp8Decoder.h"
#include "media/picture/Vp8Encoder.h"
#include "media/picture/YuvPicture.h"
#include "media/picture/FrameConverter.h"
#include "media/VideoEngine.h"
#include "share/ScreenFit.h"
#include "share/ScreenShare.h"
#include "share/X11ScreenSource.h"
#include "support/DesktopKit.h"

#include <QApplication>
#include <QBuffer>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QSignalSpy>

#include <sys/resource.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <functional>

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

// Text of a document's size over the whole screen, so the scaling has real work; scrolled
// up by `scroll` lines. Returns the picture put on the screen.
QImage paintScreen(const QString &display, int scroll = 0)
{
    xcb_connection_t *c = xcb_connect(display.toLocal8Bit().constData(), nullptr);
    xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    QImage page(1920, 1080, QImage::Format_RGB32);
    page.fill(Qt::white);
    QPainter painter(&page);
    QFont font;
    font.setPixelSize(10);
    painter.setFont(font);
    for (int line = 0, y = 12; y < 1080; ++line, y += 13)
        painter.drawText(4, y, QStringLiteral("Line %1: the quick brown fox jumps over the lazy dog 0123456789 ")
                                   .arg(line + scroll)
                                   .repeated(5));
    painter.end();
    const xcb_gcontext_t gc = xcb_generate_id(c);
    xcb_create_gc(c, gc, screen->root, 0, nullptr);
    for (int y = 0; y < 1080; y += 32)
        xcb_put_image(c, XCB_IMAGE_FORMAT_Z_PIXMAP, screen->root, gc, 1920, quint16(std::min(32, 1080 - y)), 0,
                      qint16(y), 0, 24, quint32(page.bytesPerLine() * std::min(32, 1080 - y)), page.constScanLine(y));
    std::free(xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
    xcb_disconnect(c);
    return page;
}

// Peak signal to noise of the grey levels of `shown` against `source` in `area`, in dB.
double greyPsnr(const QImage &source, const QImage &shown, QRect area)
{
    double sum = 0;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        for (int x = area.left(); x <= area.right(); ++x) {
            const double d = qGray(source.pixel(x, y)) - qGray(shown.pixel(x, y));
            sum += d * d;
        }
    }
    const double mse = sum / double(area.width() * area.height());
    return mse <= 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// The page as the published formats carry it: fitted into 640 x 480, a JPEG picture at the
// quality a call starts at, shown at the screen's size again.
QImage throughPublishedFormats(const QImage &page)
{
    QImage frame(640, 480, QImage::Format_RGB32);
    frame.fill(Qt::black);
    QPainter painter(&frame);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    const QRect placed(0, 60, 640, 360);
    painter.drawImage(placed, page);
    painter.end();
    QBuffer jpeg;
    jpeg.open(QIODevice::WriteOnly);
    frame.save(&jpeg, "JPEG", 30);
    QImage back;
    back.loadFromData(jpeg.data(), "JPEG");
    return back.copy(placed).scaled(page.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
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

    // At its own size, as two programs that code video send it.
    const int videoKbps = 400 - MediaSession::SoundShareBps / 1000;
    X11ScreenSource own(display.name, targets.first(), MediaSession::TickMs);
    own.setFormat(int(own.formats().size()) - 1);
    Vp8Encoder encoder(videoKbps);
    encoder.setScreenContent(true);
    Vp8Decoder decoder;
    YuvPicture yuv;
    QElapsedTimer clock;
    clock.start();
    qint64 lastSent = -1;
    int sent = 0;
    int drawn = 0;
    qint64 bytes = 0;
    int largest = 0;
    QSize frameSize;
    QObject::connect(&own, &CameraDevice::frameReady, [&](const QVideoFrame &frame) {
        const qint64 now = clock.elapsed();
        if (lastSent >= 0 && now - lastSent < MediaSession::SharpScreenFrameMs)
            return;
        lastSent = now;
        frameSize = frame.size();
        if (!FrameConverter::toYuvPicture(frame, frame.size(), yuv))
            return;
        const Vp8Encoder::Frame coded = encoder.encode(yuv, now);
        if (coded.data.isEmpty())
            return;
        ++sent;
        bytes += coded.data.size();
        largest = std::max(largest, int(coded.data.size()));
        drawn += decoder.decode(coded.data) == Vp8Decoder::Result::Picture ? 1 : 0;
    });
    const auto phase = [&](int ms, const std::function<void()> &each) {
        sent = drawn = largest = 0;
        bytes = 0;
        const double cpuBefore = cpuSeconds();
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < ms) {
            each();
            QTest::qWait(500);
        }
        const double s = double(t.nsecsElapsed()) / 1e9;
        return std::array<double, 3>{sent / s, bytes * 8.0 / s / 1000.0, 100.0 * (cpuSeconds() - cpuBefore) / s};
    };
    const QImage page = paintScreen(display.name);
    own.start();
    // The first key frame is paid for before the still page is measured.
    QTest::qWait(3000);
    const auto still = phase(seconds * 1000, [] {});
    const QImage picture = decoder.picture();
    const QRect text(0, 0, 600, 140); // ten lines of 10-pixel text
    const double sharpPsnr = picture.size() == page.size() ? greyPsnr(page, picture, text) : 0.0;
    const double publishedPsnr = greyPsnr(page, throughPublishedFormats(page), text);
    int scroll = 0;
    const auto moving = phase(seconds * 1000, [&] { paintScreen(display.name, ++scroll); });
    own.stop();

    std::printf("The screen at its own size between two programs that code video, %d kbit/s for the picture:\n",
                videoKbps);
    std::printf("  frame size          %d x %d   (target 1920 x 1080)\n", frameSize.width(), frameSize.height());
    std::printf("  still page:  frames/s %5.1f, %6.1f kbit/s, CPU %5.1f %% (capture, coding and decoding)\n",
                still[0], still[1], still[2]);
    const bool met = frameSize == QSize(1920, 1080) && moving[0] >= 5.0 && moving[1] <= 400.0 && still[1] <= 400.0;
    std::printf("  scrolling twice a second: frames/s %5.1f (target >= 5), %6.1f kbit/s (target within 400), "
                "CPU %5.1f %%, largest frame %d bytes: %s\n",
                moving[0], moving[1], moving[2], largest, met ? "met" : "not met");
    std::printf("  10-pixel text, grey PSNR against the screen: %.1f dB drawn (%s); %.1f dB through the published "
                "formats at 640 x 480\n",
                sharpPsnr, sharpPsnr >= 25.0 ? "readable: 25 dB or more" : "below 25 dB", publishedPsnr);
    picture.save(QStringLiteral("bench_screenshare_drawn.png"));
    return 0;
}
