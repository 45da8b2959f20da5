#include "media/picture/CameraFormat.h"
#include "media/picture/CaptureProfile.h"
#include "media/picture/FrameConverter.h"
#include "media/devices/TestDeviceProvider.h"
#include "media/picture/TestPatternCamera.h"
#include "media/MediaSession.h"
#include "media/VideoEngine.h"
#include "support/TestSupport.h"

#include <QBuffer>
#include <QVideoFrame>

#include <cstring>

using Stamp = TestPatternCamera::Stamp;

namespace {

// A picture coded as the send loop codes a frame.
QByteArray jpegOf(VideoEngine &engine, const QImage &picture, int quality = 30)
{
    return engine.compressPicture(picture, quality, MediaSession::MaxFrameLength);
}

struct Colour
{
    int r, g, b; // what the picture should show
    int y, u, v; // the same colour in limited-range BT.601
};

const Colour Quadrant[4] = {
    {255, 0, 0, 81, 90, 240}, {0, 255, 0, 145, 54, 34}, {0, 0, 255, 41, 240, 110}, {255, 255, 255, 235, 128, 128}};
const Colour Bar = {0, 0, 0, 16, 128, 128};

// What every camera frame shows: four coloured quadrants in a centred 4:3 area, with black
// bars beside it when the frame is wider.
const Colour &colourAt(int x, int y, int w, int h)
{
    const int inner = std::min(w, h * 4 / 3);
    const int left = (w - inner) / 2;
    if (x < left || x >= left + inner)
        return Bar;
    return Quadrant[(x - left >= inner / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0)];
}

// A frame as a camera would deliver it, filled through map() like a driver's buffer.
QVideoFrame cameraFrame(QVideoFrameFormat::PixelFormat format, QSize size)
{
    using F = QVideoFrameFormat;
    const int w = size.width();
    const int h = size.height();
    QVideoFrame frame(F(size, format));
    if (!frame.map(QVideoFrame::WriteOnly))
        return {};
    if (format == F::Format_Jpeg) {
        QImage image(size, QImage::Format_RGB32);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                image.setPixel(x, y, qRgb(colourAt(x, y, w, h).r, colourAt(x, y, w, h).g, colourAt(x, y, w, h).b));
        QBuffer jpeg;
        if (!jpeg.open(QIODevice::WriteOnly) || !image.save(&jpeg, "JPG", 90) || frame.mappedBytes(0) < jpeg.size())
            return {};
        std::memcpy(frame.bits(0), jpeg.data().constData(), size_t(jpeg.size()));
        frame.unmap();
        return frame;
    }
    const QString order = F::pixelFormatToString(format).left(4); // byte order of 32-bit RGB
    auto at = [&](int plane, int x, int y) { return frame.bits(plane) + qsizetype(y) * frame.bytesPerLine(plane) + x; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Colour &c = colourAt(x, y, w, h);
            const bool first = format == F::Format_YUYV || format == F::Format_NV12 || format == F::Format_YUV420P;
            switch (format) {
            case F::Format_YUYV:
            case F::Format_UYVY: // Y U Y V or U Y V Y: each pixel owns a luma and half the chroma
                at(0, 2 * x, y)[first ? 0 : 1] = uchar(c.y);
                at(0, 2 * x, y)[first ? 1 : 0] = uchar(x % 2 ? c.v : c.u);
                break;
            case F::Format_NV12:
            case F::Format_NV21:
                *at(0, x, y) = uchar(c.y);
                *at(1, x, y / 2) = uchar((x % 2 == 0) == first ? c.u : c.v);
                break;
            case F::Format_YUV420P:
            case F::Format_YV12:
                *at(0, x, y) = uchar(c.y);
                *at(first ? 1 : 2, x / 2, y / 2) = uchar(c.u);
                *at(first ? 2 : 1, x / 2, y / 2) = uchar(c.v);
                break;
            default:
                for (int i = 0; i < 4; ++i) {
                    const QChar k = order.at(i);
                    at(0, 4 * x, y)[i] = uchar(k == u'R' ? c.r : k == u'G' ? c.g : k == u'B' ? c.b : 255);
                }
            }
        }
    frame.unmap();
    return frame;
}

std::shared_ptr<DeviceProvider> patternOnly()
{
    return std::make_shared<TestDeviceProvider>(false);
}

} // namespace

class TestVideoEngine : public QObject
{
    Q_OBJECT

private slots:
    void receivedVideoIsDrawnOnlyAtTheSendSizes()
    {
        VideoEngine engine(patternOnly(), QString());
        QVERIFY(engine.initialize());
        QSignalSpy drawn(&engine, &VideoEngine::frameDrawn);
        QByteArray good;
        // At every send size the stamp survives even the lowest qualities, whatever it carries.
        const std::pair<QSize, int> sends[] = {{QSize(160, 120), 15}, {QSize(640, 480), 12}, {QSize(320, 240), 15}};
        const quint32 numbers[][2] = {{0, 0}, {1, 0xffffffffu}, {4095, 0x12345678u}, {0xdeadbeefu, 0x80000001u}};
        for (const auto &[size, quality] : sends)
            for (const auto &n : numbers) {
                good = jpegOf(engine, TestPatternCamera::renderFrame(n[0], n[1], size), quality);
                const QImage picture = engine.drawFrame(good);
                QCOMPARE(picture.size(), size);
                QCOMPARE(drawn.last().at(0).value<QImage>(), picture);
                const Stamp stamp = TestPatternCamera::readStamp(picture);
                QVERIFY(stamp.valid);
                QCOMPARE(std::pair(stamp.frameNumber, stamp.msecs), std::pair(n[0], n[1]));
            }
        // Refused: truncated, a size no sender captures at, garbage, an empty body, a few
        // bytes, and a good frame short of its end. None is drawn; the size stays.
        const QByteArray qcif = jpegOf(engine, TestPatternCamera::renderFrame(1, 2, QSize(176, 144)));
        for (const QByteArray &bad : {good.left(good.size() / 2), qcif, QByteArray(3000, '\x5a'), QByteArray(),
                                      good.left(5), good.chopped(40)})
            QVERIFY(engine.drawFrame(bad).isNull());
        QCOMPARE(drawn.count(), 12);
        QCOMPARE(engine.incomingImage().size(), QSize(320, 240));
    }

    void cameraPixelFormatsBecomeRgbAtTheCaptureSize_data()
    {
        QTest::addColumn<int>("format");
        QTest::addColumn<QSize>("frameSize");
        QTest::addColumn<QSize>("captureSize");
        QTest::addColumn<int>("tolerance");
        using F = QVideoFrameFormat;
        QTest::newRow("YUYV 640x480 to 320x240") << int(F::Format_YUYV) << QSize(640, 480) << QSize(320, 240) << 6;
        QTest::newRow("UYVY 320x240") << int(F::Format_UYVY) << QSize(320, 240) << QSize(320, 240) << 6;
        QTest::newRow("NV12 640x480 to 160x120") << int(F::Format_NV12) << QSize(640, 480) << QSize(160, 120) << 6;
        QTest::newRow("NV21 320x240") << int(F::Format_NV21) << QSize(320, 240) << QSize(320, 240) << 6;
        QTest::newRow("I420 640x480") << int(F::Format_YUV420P) << QSize(640, 480) << QSize(640, 480) << 6;
        QTest::newRow("YV12 320x240") << int(F::Format_YV12) << QSize(320, 240) << QSize(320, 240) << 6;
        QTest::newRow("RGB32 (BGRX) 320x240") << int(F::Format_BGRX8888) << QSize(320, 240) << QSize(320, 240) << 0;
        QTest::newRow("ARGB32 (BGRA) 640x480") << int(F::Format_BGRA8888) << QSize(640, 480) << QSize(320, 240) << 1;
        QTest::newRow("XRGB 320x240") << int(F::Format_XRGB8888) << QSize(320, 240) << QSize(320, 240) << 0;
        QTest::newRow("RGBA 160x120 to 640x480") << int(F::Format_RGBA8888) << QSize(160, 120) << QSize(640, 480) << 1;
        QTest::newRow("JPEG 640x480") << int(F::Format_Jpeg) << QSize(640, 480) << QSize(320, 240) << 24;
        // Wide frames are cropped to 4:3, not squashed: the bars do not reach the picture's edges.
        QTest::newRow("BGRX 1280x720 cropped") << int(F::Format_BGRX8888) << QSize(1280, 720) << QSize(320, 240) << 8;
    }

    void cameraPixelFormatsBecomeRgbAtTheCaptureSize()
    {
        QFETCH(int, format);
        QFETCH(QSize, frameSize);
        QFETCH(QSize, captureSize);
        QFETCH(int, tolerance);
        VideoEngine engine(patternOnly(), QString());
        QVERIFY(engine.setCaptureFormat(-1, captureSize));
        const QVideoFrame frame = cameraFrame(QVideoFrameFormat::PixelFormat(format), frameSize);
        QVERIFY(frame.isValid());
        engine.videoSink()->setVideoFrame(frame);
        QTRY_COMPARE(engine.getFrameNum(), 1);

        const QImage picture = engine.latestPicture();
        QCOMPARE(picture.size(), captureSize);
        const int w = picture.width();
        const int h = picture.height();
        // Each quadrant's middle, and its outer edge.
        for (int q = 0; q < 4; ++q)
            for (const int x : {q % 2 ? 3 * w / 4 : w / 4, q % 2 ? w - 2 : 1}) {
                const int y = (q / 2 ? 3 : 1) * h / 4;
                const QRgb p = picture.pixel(x, y);
                const Colour &c = Quadrant[q];
                QVERIFY2(std::abs(qRed(p) - c.r) <= tolerance && std::abs(qGreen(p) - c.g) <= tolerance
                             && std::abs(qBlue(p) - c.b) <= tolerance,
                         qPrintable(QStringLiteral("(%1,%2) shows %3,%4,%5").arg(x).arg(y).arg(qRed(p)).arg(qGreen(p)).arg(qBlue(p))));
            }
    }

    void aLargeSelfViewIsShownAtHalfSizeWithItsColoursInPlace()
    {
        using F = QVideoFrameFormat;
        for (const auto format : {F::Format_YUV420P, F::Format_YV12, F::Format_NV12, F::Format_NV21, F::Format_YUYV})
            for (const bool mirror : {false, true}) {
                VideoEngine engine(patternOnly(), QString());
                QVERIFY(engine.setCaptureFormat(-1, QSize(640, 480)));
                engine.previewScale(true);
                engine.setPreviewMirror(mirror);
                QSignalSpy preview(&engine, &VideoEngine::previewFrame);
                engine.preview(true);
                engine.videoSink()->setVideoFrame(cameraFrame(format, QSize(640, 480)));
                QTRY_VERIFY(!preview.isEmpty());
                const QImage shown = preview.last().at(0).value<QImage>();
                QCOMPARE(shown.size(), QSize(320, 240));
                for (int q = 0; q < 4; ++q) {
                    const bool right = (q % 2 == 1) != mirror;
                    const QRgb p = shown.pixel(right ? 240 : 80, q / 2 ? 180 : 60);
                    const Colour &c = Quadrant[q];
                    QVERIFY2(std::abs(qRed(p) - c.r) <= 6 && std::abs(qGreen(p) - c.g) <= 6 && std::abs(qBlue(p) - c.b) <= 6,
                             qPrintable(QStringLiteral("%1%2, quadrant %3: %4,%5,%6")
                                            .arg(F::pixelFormatToString(format), mirror ? u" mirrored" : u"")
                                            .arg(q).arg(qRed(p)).arg(qGreen(p)).arg(qBlue(p))));
                }
            }
    }

    void fullAndLimitedRangeFramesShowTheSameGrey()
    {
        // A mid grey tells the two ranges apart where saturated colours would clip alike.
        using F = QVideoFrameFormat;
        for (const auto format : {F::Format_YUYV, F::Format_UYVY, F::Format_NV12, F::Format_YUV420P})
            for (const bool full : {false, true}) {
                F surface(QSize(64, 48), format);
                surface.setColorRange(full ? F::ColorRange_Full : F::ColorRange_Video);
                QVideoFrame frame(surface);
                QVERIFY(frame.map(QVideoFrame::WriteOnly));
                // Grey 60: luma 60 in full range, 16 + 60 * 219 / 255 = 67.5 in video range.
                const uchar luma = full ? 60 : 67;
                const bool packed = format == F::Format_YUYV || format == F::Format_UYVY;
                const bool yFirst = format == F::Format_YUYV;
                for (int plane = 0; plane < frame.planeCount(); ++plane)
                    for (qsizetype i = 0; i < frame.mappedBytes(plane); ++i)
                        frame.bits(plane)[i] = packed ? ((i % 2 == 0) == yFirst ? luma : 128) : plane == 0 ? luma : 128;
                frame.unmap();
                const QImage picture = FrameConverter::toPicture(frame, QSize(64, 48));
                QVERIFY(!picture.isNull());
                const QRgb p = picture.pixel(32, 24);
                QVERIFY2(std::abs(qRed(p) - 60) <= 2 && std::abs(qGreen(p) - 60) <= 2 && std::abs(qBlue(p) - 60) <= 2,
                         qPrintable(QStringLiteral("%1 %2: %3,%4,%5").arg(F::pixelFormatToString(format),
                                                                           full ? u"full" : u"video")
                                        .arg(qRed(p)).arg(qGreen(p)).arg(qBlue(p))));
            }
    }

    // A frame of odd height holds a row of chroma less than its size asks for: its planes
    // are refused rather than read past their end; the same frame one row shorter reads.
    void planesShortOfTheFramesSizeAreRefused()
    {
        using F = QVideoFrameFormat;
        FrameConverter::Planes planes;
        for (const auto format : {F::Format_NV12, F::Format_NV21}) {
            for (const int h : {47, 46}) {
                const QVideoFrame frame(F(QSize(64, h), format));
                QCOMPARE(FrameConverter::toPlanes(frame, QSize(64, h), planes), h % 2 == 0);
            }
        }
    }

    void aYuvCameraFrameArrivesAsTheSamePictureAsAnRgbOne()
    {
        VideoEngine engine(patternOnly(), QString());
        QVERIFY(engine.initialize());
        QSignalSpy drawn(&engine, &VideoEngine::frameDrawn);
        // Captured, coded as the sender codes it and drawn as the receiver draws it.
        auto arrived = [&](QVideoFrameFormat::PixelFormat format) {
            engine.videoSink()->setVideoFrame(cameraFrame(format, QSize(320, 240)));
            const QImage taken = engine.latestPicture();
            return taken.isNull() || engine.drawFrame(jpegOf(engine, taken)).isNull() ? QImage()
                                                                                : drawn.last().at(0).value<QImage>();
        };
        const QImage rgb = arrived(QVideoFrameFormat::Format_BGRX8888);
        QCOMPARE(rgb.size(), QSize(320, 240));
        for (const auto format : {QVideoFrameFormat::Format_YUYV, QVideoFrameFormat::Format_NV12,
                                  QVideoFrameFormat::Format_YUV420P}) {
            const QImage yuv = arrived(format);
            const double error = TestSupport::meanError(yuv, rgb);
            QVERIFY2(error < 2, qPrintable(QStringLiteral("%1: %2").arg(QVideoFrameFormat::pixelFormatToString(format)).arg(error)));
        }
    }

    void frameNumbersWrapAndPausedOrUndecodableFramesGiveNoPicture()
    {
        VideoEngine engine(patternOnly(), QString());
        QVERIFY(engine.setCaptureFormat(-1, QSize(160, 120)));
        // A camera's JPEG that does not decode still counts, but gives no picture.
        QVideoFrame broken(QVideoFrameFormat(QSize(320, 240), QVideoFrameFormat::Format_Jpeg));
        QVERIFY(broken.map(QVideoFrame::WriteOnly));
        std::memset(broken.bits(0), 0x42, size_t(broken.mappedBytes(0)));
        broken.unmap();
        engine.videoSink()->setVideoFrame(broken);
        QTRY_COMPARE(engine.getFrameNum(), 1);
        QVERIFY(engine.latestPicture().isNull());

        // Every delivery is a new frame (the content is never looked at).
        const QVideoFrameFormat format(QSize(160, 120), QVideoFrameFormat::Format_BGRX8888);
        for (int i = 1; i < 4100; ++i)
            engine.videoSink()->setVideoFrame(QVideoFrame(format));
        QTRY_COMPARE(engine.getFrameNum(), 4100 % 4096);

        const QVideoFrame frame = cameraFrame(QVideoFrameFormat::Format_BGRX8888, QSize(160, 120));
        engine.setCapStatus(false);
        engine.videoSink()->setVideoFrame(frame);
        QCoreApplication::processEvents();
        QCOMPARE(engine.getFrameNum(), 4);
        engine.setCapStatus(true);
        engine.videoSink()->setVideoFrame(QVideoFrame()); // a stopping camera's empty frame
        engine.videoSink()->setVideoFrame(frame);
        QTRY_COMPARE(engine.getFrameNum(), 5);
        QCOMPARE(engine.latestPicture().size(), QSize(160, 120));
    }

    void testPatternIsMirroredOnlyInTheSelfViewAndStopsWhenClosed()
    {
        VideoEngine engine(patternOnly(), QString());
        QVERIFY(engine.driverConnect(0));
        QSignalSpy preview(&engine, &VideoEngine::previewFrame);
        engine.preview(true);
        engine.setPreviewMirror(true);
        QCOMPARE(engine.initCapture(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(engine.getFrameNum() >= 2 && !preview.isEmpty(), 5000);
        const Stamp sent = TestPatternCamera::readStamp(engine.latestPicture());
        QVERIFY(sent.valid);
        QVERIFY(quint32(QDateTime::currentMSecsSinceEpoch()) - sent.msecs < 5000);
        const QImage shown = preview.last().at(0).value<QImage>();
        QVERIFY(!TestPatternCamera::readStamp(shown).valid);
        QVERIFY(TestPatternCamera::readStamp(shown.mirrored(true, false)).valid);

        // Closed or without a driver: no frame, not even a stale one.
        engine.closeCapture();
        QVERIFY(engine.latestPicture().isNull());
        engine.driverDisconnect();
        QCOMPARE(engine.initCapture(), 1);
        engine.grabFrameNoStop();
        QVERIFY(engine.latestPicture().isNull());
    }

    void captureChoiceFileSurvivesDamageAndOddNames()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("capture.ini"));
        TestSupport::writeBytes(path, "[Test Pattern]\nFormat=nonsense\nCaptureSize=99999x-4\nMirror=yes\n=\n[\n"
                                          + QByteArray(200000, 'x'));
        {
            VideoEngine engine(patternOnly(), dir.path());
            QVERIFY(engine.driverConnect(0));
            QCOMPARE(engine.chosenFormat(), -1);
            QCOMPARE(engine.captureSize(), QSize(320, 240));
            QVERIFY(!engine.previewMirror());
            QVERIFY(!engine.setCaptureFormat(0, QSize(176, 144)));
            QVERIFY(!engine.setCaptureFormat(int(engine.driverFormats().size()), QSize(320, 240)));
            QVERIFY(engine.setCaptureFormat(1, QSize(160, 120)));
        }
        VideoEngine again(patternOnly(), dir.path());
        QVERIFY(again.driverConnect(0));
        QCOMPARE(again.chosenFormat(), 1);
        QCOMPARE(again.captureSize(), QSize(160, 120));

        // Driver names with brackets, line breaks or accents read back their own choice only.
        const QStringList names{QStringLiteral("HD Cam [USB] (046d:0825)"), QStringLiteral(" Cam\nFormat=evil "),
                                QStringLiteral("Kamera \u00e4\u00f6")};
        CaptureProfile writer(path);
        for (int i = 0; i < names.size(); ++i)
            writer.setEntry(names[i], {QStringLiteral("640x480;YUYV;%1").arg(i), QSize(160, 120), false});
        QVERIFY(writer.save());
        const CaptureProfile profile(path);
        for (int i = 0; i < names.size(); ++i)
            QCOMPARE(profile.entry(names[i]).formatKey, QStringLiteral("640x480;YUYV;%1").arg(i));
        QVERIFY(profile.entry(QStringLiteral("Cam")).formatKey.isEmpty());
    }

    void automaticFormatCoversTheCaptureSize()
    {
        using F = QVideoFrameFormat;
        const QList<CameraFormat> webcam{
            {QSize(1280, 720), F::Format_Jpeg, 30}, {QSize(640, 480), F::Format_YUYV, 30},
            {QSize(640, 480), F::Format_Jpeg, 30},  {QSize(320, 240), F::Format_YUYV, 30},
            {QSize(640, 360), F::Format_YUYV, 30},  {QSize(1920, 1080), F::Format_YUYV, 5},
            {QSize(352, 288), F::Format_YUYV, 30},  {QSize(160, 120), F::Format_YUYV, 30}};
        QCOMPARE(VideoEngine::pickFormat(webcam, QSize(320, 240)), 3);
        QCOMPARE(VideoEngine::pickFormat(webcam, QSize(640, 480)), 1);
        QCOMPARE(VideoEngine::pickFormat(webcam, QSize(160, 120)), 7);
        // Only high resolutions: the fast one, not the one at 5 fps. Nothing big enough: the largest.
        QCOMPARE(VideoEngine::pickFormat({{QSize(1920, 1080), F::Format_YUYV, 5}, {QSize(1280, 720), F::Format_Jpeg, 30}},
                                         QSize(640, 480)),
                 1);
        QCOMPARE(VideoEngine::pickFormat({{QSize(160, 120), F::Format_YUYV, 30}, {QSize(176, 144), F::Format_YUYV, 30}},
                                         QSize(640, 480)),
                 1);
        QCOMPARE(VideoEngine::pickFormat({}, QSize(640, 480)), -1);
    }
};

QTEST_MAIN(TestVideoEngine)
#include "tst_videoengine.moc"
