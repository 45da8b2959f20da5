#include "media/engine/CameraFormat.h"
#include "media/engine/DeviceProvider.h"
#include "media/engine/TestDeviceProvider.h"
#include "media/engine/TestPatternCamera.h"
#include "media/engine/VideoEngine.h"

#include <QBuffer>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QVideoFrame>

#include <cstring>
#include <memory>
#include <vector>

using Bytes = std::vector<uchar>;

namespace {

struct Colour
{
    int r, g, b;   // what the picture should show
    int y, u, v;   // the same colour in limited-range BT.601
};

// Pure red, green, blue and white with their textbook limited-range YUV values.
const Colour Quadrant[4] = {
    {255, 0, 0, 81, 90, 240},
    {0, 255, 0, 145, 54, 34},
    {0, 0, 255, 41, 240, 110},
    {255, 255, 255, 235, 128, 128},
};

int quadrantOf(int x, int y, int w, int h)
{
    return (x >= w / 2 ? 1 : 0) + (y >= h / 2 ? 2 : 0);
}

QImage quadrantImage(QSize size)
{
    QImage image(size, QImage::Format_RGB888);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < size.width(); ++x) {
            const Colour &c = Quadrant[quadrantOf(x, y, size.width(), size.height())];
            image.setPixel(x, y, qRgb(c.r, c.g, c.b));
        }
    return image;
}

// A frame as a camera would deliver it, filled through map() like a driver's buffer.
QVideoFrame cameraFrame(QVideoFrameFormat::PixelFormat format, QSize size)
{
    const int w = size.width();
    const int h = size.height();
    if (format == QVideoFrameFormat::Format_Jpeg) {
        QByteArray jpeg;
        QBuffer buffer(&jpeg);
        buffer.open(QIODevice::WriteOnly);
        quadrantImage(size).save(&buffer, "JPG", 90);
        QVideoFrame frame(QVideoFrameFormat(size, format));
        if (!frame.map(QVideoFrame::WriteOnly) || frame.mappedBytes(0) < jpeg.size())
            return {};
        std::memcpy(frame.bits(0), jpeg.constData(), size_t(jpeg.size()));
        frame.unmap();
        return frame;
    }
    QVideoFrame frame(QVideoFrameFormat(size, format));
    if (!frame.map(QVideoFrame::WriteOnly))
        return {};
    auto at = [&](int plane, int x, int y) { return frame.bits(plane) + qsizetype(y) * frame.bytesPerLine(plane) + x; };
    switch (format) {
    case QVideoFrameFormat::Format_YUYV:
    case QVideoFrameFormat::Format_UYVY:
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; x += 2) {
                const Colour &c = Quadrant[quadrantOf(x, y, w, h)];
                uchar *p = at(0, x * 2, y);
                if (format == QVideoFrameFormat::Format_YUYV) {
                    p[0] = uchar(c.y), p[1] = uchar(c.u), p[2] = uchar(c.y), p[3] = uchar(c.v);
                } else {
                    p[0] = uchar(c.u), p[1] = uchar(c.y), p[2] = uchar(c.v), p[3] = uchar(c.y);
                }
            }
        break;
    case QVideoFrameFormat::Format_NV12:
    case QVideoFrameFormat::Format_NV21:
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Colour &c = Quadrant[quadrantOf(x, y, w, h)];
                *at(0, x, y) = uchar(c.y);
                if (x % 2 == 0 && y % 2 == 0) {
                    uchar *uv = at(1, x, y / 2);
                    const bool nv12 = format == QVideoFrameFormat::Format_NV12;
                    uv[0] = uchar(nv12 ? c.u : c.v);
                    uv[1] = uchar(nv12 ? c.v : c.u);
                }
            }
        break;
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YV12:
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Colour &c = Quadrant[quadrantOf(x, y, w, h)];
                *at(0, x, y) = uchar(c.y);
                if (x % 2 == 0 && y % 2 == 0) {
                    const bool i420 = format == QVideoFrameFormat::Format_YUV420P;
                    *at(i420 ? 1 : 2, x / 2, y / 2) = uchar(c.u);
                    *at(i420 ? 2 : 1, x / 2, y / 2) = uchar(c.v);
                }
            }
        break;
    default: {
        // 32-bit RGB: the format name gives the byte order in memory.
        const QString name = QVideoFrameFormat::pixelFormatToString(format).left(4);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const Colour &c = Quadrant[quadrantOf(x, y, w, h)];
                uchar *p = at(0, x * 4, y);
                for (int i = 0; i < 4; ++i) {
                    const QChar k = name.at(i);
                    p[i] = uchar(k == u'R' ? c.r : k == u'G' ? c.g : k == u'B' ? c.b : 255);
                }
            }
        break;
    }
    }
    frame.unmap();
    return frame;
}

QImage rgbImage(const Bytes &rgb, int w, int h)
{
    QImage image(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        std::memcpy(image.scanLine(y), rgb.data() + size_t(y) * w * 3, size_t(w) * 3);
    return image;
}

Bytes rgbBytes(const QImage &source)
{
    const QImage image = source.convertToFormat(QImage::Format_RGB888);
    Bytes rgb(size_t(image.width()) * image.height() * 3);
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(rgb.data() + size_t(y) * image.width() * 3, image.constScanLine(y), size_t(image.width()) * 3);
    return rgb;
}

QByteArray packet(const char *kind, const QByteArray &body)
{
    return QByteArray(kind) + QByteArray::number(body.size()).rightJustified(5, '0') + body;
}

bool near(QRgb pixel, int r, int g, int b, int tolerance)
{
    return std::abs(qRed(pixel) - r) <= tolerance && std::abs(qGreen(pixel) - g) <= tolerance
           && std::abs(qBlue(pixel) - b) <= tolerance;
}

std::shared_ptr<DeviceProvider> patternOnly()
{
    return std::make_shared<TestDeviceProvider>(false);
}

} // namespace

class TestVideoEngine : public QObject
{
    Q_OBJECT

private:
    QByteArray jpegOf(VideoEngine &engine, const QImage &image, int quality = 30)
    {
        const Bytes rgb = rgbBytes(image);
        Bytes out(60000);
        const int n = engine.compressStill(rgb.data(), image.width(), image.height(), quality, out.data(), int(out.size()));
        return QByteArray(reinterpret_cast<const char *>(out.data()), n);
    }

private slots:
    void receivedVideoFramesAreDecodedAndOddOnesRefused()
    {
        VideoEngine engine(patternOnly(), QString());
        QVERIFY(engine.initialize());
        QSignalSpy drawn(&engine, &VideoEngine::frameDrawn);
        Bytes out(29000);
        int type = -1;

        const QImage frame = TestPatternCamera::renderFrame(77, 123456, QSize(320, 240));
        const QByteArray jpeg = jpegOf(engine, frame);
        QVERIFY(jpeg.size() > 100);
        const QByteArray good = packet("KJP", jpeg);
        QCOMPARE(engine.processData(reinterpret_cast<const uchar *>(good.constData()), int(good.size()), out.data(),
                                    int(out.size()), &type),
                 int(jpeg.size()));
        QCOMPARE(type, int(VideoEngine::PacketVideo));
        QCOMPARE(drawn.count(), 1);
        const QImage shown = drawn.at(0).at(0).value<QImage>();
        QCOMPARE(shown.size(), QSize(320, 240));
        const TestPatternCamera::Stamp stamp = TestPatternCamera::readStamp(shown);
        QVERIFY(stamp.valid);
        QCOMPARE(stamp.frameNumber, 77u);
        int w = 0, h = 0;
        engine.getImageSize(&w, &h);
        QCOMPARE(QSize(w, h), QSize(320, 240));

        // A 160 x 120 frame changes the reported size.
        const QByteArray small = packet("KJP", jpegOf(engine, TestPatternCamera::renderFrame(1, 2, QSize(160, 120))));
        engine.processData(reinterpret_cast<const uchar *>(small.constData()), int(small.size()), out.data(),
                           int(out.size()), &type);
        QCOMPARE(type, int(VideoEngine::PacketVideo));
        engine.getImageSize(&w, &h);
        QCOMPARE(QSize(w, h), QSize(160, 120));

        // Refused: a truncated JPEG, a size no sender captures at, garbage, an empty body, a
        // packet shorter than its header. None is drawn and the last size stays.
        const QByteArray truncated = packet("KJP", jpeg.left(jpeg.size() / 2));
        const QByteArray qcif = packet("KJP", jpegOf(engine, TestPatternCamera::renderFrame(1, 2, QSize(176, 144))));
        const QByteArray garbage = packet("KJP", QByteArray(3000, '\x5a'));
        const QByteArray empty = packet("KJP", QByteArray());
        for (const QByteArray &bad : {truncated, qcif, garbage, empty, good.left(5)}) {
            type = -1;
            QCOMPARE(engine.processData(reinterpret_cast<const uchar *>(bad.constData()), int(bad.size()), out.data(),
                                        int(out.size()), &type),
                     0);
            QCOMPARE(type, int(VideoEngine::PacketNone));
        }
        QCOMPARE(drawn.count(), 2);
        engine.getImageSize(&w, &h);
        QCOMPARE(QSize(w, h), QSize(160, 120));

        // The declared length is what counts: a good frame cut short by the caller is refused.
        type = -1;
        engine.processData(reinterpret_cast<const uchar *>(good.constData()), int(good.size()) - 40, out.data(),
                           int(out.size()), &type);
        QCOMPARE(type, int(VideoEngine::PacketNone));

        engine.flushEvents();
        QVERIFY(engine.incomingImage().isNull());
        engine.getImageSize(&w, &h);
        QCOMPARE(QSize(w, h), QSize(0, 0));
    }

    void audioAndTextBodiesAreCopiedWithinTheirBuffer()
    {
        VideoEngine engine(patternOnly(), QString());
        for (const char *kind : {"AUD", "TXT"}) {
            const int expected = kind[0] == 'A' ? VideoEngine::PacketAudio : VideoEngine::PacketText;
            QByteArray body(132, '\0');
            for (int i = 0; i < body.size(); ++i)
                body[i] = char(i * 7 + 1);
            // The packet buffer holds more than the length given; only `length` bytes count.
            const QByteArray wire = packet(kind, body) + QByteArray("<E>trailing");
            Bytes out(200, 0xee);
            int type = -1;
            QCOMPARE(engine.processData(reinterpret_cast<const uchar *>(wire.constData()), 8 + 132, out.data(), 200, &type),
                     132);
            QCOMPARE(type, expected);
            QCOMPARE(QByteArray(reinterpret_cast<const char *>(out.data()), 132), body);
            QCOMPARE(out[132], uchar(0xee));

            // A body one byte too long for the output is refused untouched.
            Bytes tight(131, 0xee);
            type = -1;
            QCOMPARE(engine.processData(reinterpret_cast<const uchar *>(wire.constData()), 8 + 132, tight.data(), 131,
                                        &type),
                     0);
            QCOMPARE(type, int(VideoEngine::PacketNone));
            QVERIFY(std::all_of(tight.begin(), tight.end(), [](uchar c) { return c == 0xee; }));

            // The header alone: an empty body is legal and copies nothing.
            type = -1;
            QCOMPARE(engine.processData(reinterpret_cast<const uchar *>(wire.constData()), 8, out.data(), 200, &type), 0);
            QCOMPARE(type, expected);
            type = -1;
            QCOMPARE(engine.processData(reinterpret_cast<const uchar *>(wire.constData()), 7, out.data(), 200, &type), 0);
            QCOMPARE(type, int(VideoEngine::PacketNone));
        }
        const QByteArray unknown = packet("XYZ", "hello");
        Bytes out(100, 0xee);
        int type = -1;
        QCOMPARE(engine.processData(reinterpret_cast<const uchar *>(unknown.constData()), int(unknown.size()), out.data(),
                                    100, &type),
                 0);
        QCOMPARE(type, int(VideoEngine::PacketNone));
        QCOMPARE(out[0], uchar(0xee));
        // No type pointer and no packet must not crash either.
        QCOMPARE(engine.processData(nullptr, 20, out.data(), 100, nullptr), 0);
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
        const int before = engine.getFrameNum();
        engine.videoSink()->setVideoFrame(frame);
        QTRY_COMPARE(engine.getFrameNum(), before + 1);

        Bytes buffer(VideoEngine::MaxFrameBytes + 16, 0xee);
        int w = 0, h = 0;
        const int bytes = engine.getFrame(buffer.data(), VideoEngine::MaxFrameBytes, &w, &h);
        QCOMPARE(QSize(w, h), captureSize);
        QCOMPARE(bytes, w * h * 3);
        QCOMPARE(buffer[size_t(bytes)], uchar(0xee));
        const QImage picture = rgbImage(buffer, w, h);
        for (int q = 0; q < 4; ++q) {
            const int x = (q % 2 ? 3 : 1) * w / 4;
            const int y = (q / 2 ? 3 : 1) * h / 4;
            const Colour &c = Quadrant[q];
            const QRgb p = picture.pixel(x, y);
            QVERIFY2(near(p, c.r, c.g, c.b, tolerance),
                     qPrintable(QStringLiteral("quadrant %1 shows %2,%3,%4").arg(q).arg(qRed(p)).arg(qGreen(p)).arg(qBlue(p))));
        }
        // Too small a buffer gets nothing.
        QCOMPARE(engine.getFrame(buffer.data(), w * h * 3 - 1, &w, &h), 0);
    }

    void wideFramesAreCroppedNotSquashed()
    {
        VideoEngine engine(patternOnly(), QString());
        // 1280 x 720 with black bars beside a 960 x 720 (4:3) quadrant picture.
        QVideoFrame frame(QVideoFrameFormat(QSize(1280, 720), QVideoFrameFormat::Format_BGRX8888));
        QVERIFY(frame.map(QVideoFrame::WriteOnly));
        const QImage inner = quadrantImage(QSize(960, 720)).convertToFormat(QImage::Format_RGB32);
        for (int y = 0; y < 720; ++y) {
            uchar *line = frame.bits(0) + qsizetype(y) * frame.bytesPerLine(0);
            std::memset(line, 0, 1280 * 4);
            std::memcpy(line + 160 * 4, inner.constScanLine(y), 960 * 4);
        }
        frame.unmap();
        engine.videoSink()->setVideoFrame(frame);
        QTRY_COMPARE(engine.getFrameNum(), 1);
        Bytes buffer(VideoEngine::MaxFrameBytes);
        int w = 0, h = 0;
        QCOMPARE(engine.getFrame(buffer.data(), int(buffer.size()), &w, &h), 320 * 240 * 3);
        const QImage picture = rgbImage(buffer, w, h);
        QVERIFY(near(picture.pixel(1, 60), 255, 0, 0, 8));
        QVERIFY(near(picture.pixel(318, 200), 255, 255, 255, 8));
    }

    void undecodableFramesCountButGiveNoPicture()
    {
        VideoEngine engine(patternOnly(), QString());
        QVideoFrame frame(QVideoFrameFormat(QSize(320, 240), QVideoFrameFormat::Format_Jpeg));
        QVERIFY(frame.map(QVideoFrame::WriteOnly));
        std::memset(frame.bits(0), 0x42, size_t(frame.mappedBytes(0)));
        frame.unmap();
        engine.videoSink()->setVideoFrame(frame);
        QTRY_COMPARE(engine.getFrameNum(), 1);
        Bytes buffer(VideoEngine::MaxFrameBytes);
        int w = -1, h = -1;
        QCOMPARE(engine.getFrame(buffer.data(), int(buffer.size()), &w, &h), 0);
        QCOMPARE(w, 0);
        QCOMPARE(h, 0);
    }

    void frameNumberWrapsAndPauseTakesNothing()
    {
        VideoEngine engine(patternOnly(), QString());
        QVERIFY(engine.setCaptureFormat(-1, QSize(160, 120)));
        // Every delivery is a new frame, as from a camera (the content is never looked at).
        const QVideoFrameFormat format(QSize(160, 120), QVideoFrameFormat::Format_BGRX8888);
        for (int i = 0; i < 4100; ++i)
            engine.videoSink()->setVideoFrame(QVideoFrame(format));
        QTRY_COMPARE(engine.getFrameNum(), 4100 % 4096);
        const QVideoFrame frame = cameraFrame(QVideoFrameFormat::Format_BGRX8888, QSize(160, 120));

        engine.setCapStatus(false);
        engine.videoSink()->setVideoFrame(frame);
        engine.videoSink()->setVideoFrame(QVideoFrame());
        QCoreApplication::processEvents();
        QCOMPARE(engine.getFrameNum(), 4);
        engine.setCapStatus(true);
        engine.videoSink()->setVideoFrame(QVideoFrame()); // a stopping camera's empty frame
        engine.videoSink()->setVideoFrame(frame);
        QTRY_COMPARE(engine.getFrameNum(), 5);
    }

    void stampSurvivesLowQualityCoding_data()
    {
        QTest::addColumn<QSize>("size");
        QTest::addColumn<int>("quality");
        QTest::newRow("160x120 q15") << QSize(160, 120) << 15;
        QTest::newRow("320x240 q15") << QSize(320, 240) << 15;
        QTest::newRow("640x480 q12") << QSize(640, 480) << 12;
    }

    void stampSurvivesLowQualityCoding()
    {
        QFETCH(QSize, size);
        QFETCH(int, quality);
        VideoEngine engine(patternOnly(), QString());
        const quint32 numbers[][2] = {{0, 0}, {1, 0xffffffffu}, {4095, 0x12345678u}, {0xdeadbeefu, 0x80000001u}};
        for (const auto &n : numbers) {
            const QImage frame = TestPatternCamera::renderFrame(n[0], n[1], size);
            const QByteArray jpeg = jpegOf(engine, frame, quality);
            QVERIFY(!jpeg.isEmpty());
            Bytes decoded(VideoEngine::MaxFrameBytes);
            int w = 0, h = 0;
            QCOMPARE(engine.unCompressStill(reinterpret_cast<const uchar *>(jpeg.constData()), int(jpeg.size()), &w, &h,
                                            decoded.data(), int(decoded.size())),
                     size.width() * size.height() * 3);
            const TestPatternCamera::Stamp stamp = TestPatternCamera::readStamp(rgbImage(decoded, w, h));
            QVERIFY(stamp.valid);
            QCOMPARE(stamp.frameNumber, n[0]);
            QCOMPARE(stamp.msecs, n[1]);
        }
        // A 640 x 480 frame halved for an older peer still carries its stamp.
        if (size == QSize(640, 480)) {
            Bytes rgb = rgbBytes(TestPatternCamera::renderFrame(99, 1234, size));
            QCOMPARE(engine.downSampleImg(rgb.data(), 640, 480, rgb.data(), 320, 240, int(rgb.size())), 320 * 240 * 3);
            const TestPatternCamera::Stamp stamp = TestPatternCamera::readStamp(rgbImage(rgb, 320, 240));
            QVERIFY(stamp.valid);
            QCOMPARE(stamp.frameNumber, 99u);
        }
    }

    void damagedOrForeignPicturesCarryNoStamp()
    {
        QImage frame = TestPatternCamera::renderFrame(5, 6, QSize(320, 240));
        QVERIFY(TestPatternCamera::readStamp(frame).valid);
        // One cell flipped.
        QImage flipped = frame;
        const int cell = 320 / TestPatternCamera::StampColumns;
        const bool white = qGray(frame.pixel(cell * 3 + cell / 2, cell + cell / 2)) > 128;
        for (int y = cell; y < 2 * cell; ++y)
            for (int x = 3 * cell; x < 4 * cell; ++x)
                flipped.setPixel(x, y, white ? qRgb(0, 0, 0) : qRgb(255, 255, 255));
        QVERIFY(!TestPatternCamera::readStamp(flipped).valid);
        QVERIFY(!TestPatternCamera::readStamp(frame.mirrored(true, false)).valid);
        QImage black(320, 240, QImage::Format_RGB32);
        black.fill(Qt::black);
        QVERIFY(!TestPatternCamera::readStamp(black).valid);
        QVERIFY(!TestPatternCamera::readStamp(QImage()).valid);
        QVERIFY(!TestPatternCamera::readStamp(QImage(10, 4, QImage::Format_RGB32)).valid);
    }

    void testPatternCaptureRunsPausesAndResumes()
    {
        VideoEngine engine(patternOnly(), QString());
        QCOMPARE(engine.driverNames(), QStringList{QStringLiteral("Test Pattern")});
        QVERIFY(!engine.driverConnect(1));
        QVERIFY(engine.driverConnect(0));
        QCOMPARE(engine.driverGetName(), QStringLiteral("Test Pattern"));
        int w = 0, h = 0;
        QVERIFY(engine.getVideoSettings(&w, &h));
        QCOMPARE(QSize(w, h), QSize(320, 240));

        QSignalSpy preview(&engine, &VideoEngine::previewFrame);
        engine.preview(true);
        QCOMPARE(engine.initCapture(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(engine.getFrameNum() >= 3, 5000);
        Bytes buffer(VideoEngine::MaxFrameBytes);
        QCOMPARE(engine.getFrame(buffer.data(), int(buffer.size()), &w, &h), 320 * 240 * 3);
        const TestPatternCamera::Stamp first = TestPatternCamera::readStamp(rgbImage(buffer, w, h));
        QVERIFY(first.valid);
        QVERIFY(!preview.isEmpty());
        QVERIFY(TestPatternCamera::readStamp(preview.last().at(0).value<QImage>()).valid);

        // The stamp's time is close to now.
        const quint32 now = quint32(QDateTime::currentMSecsSinceEpoch());
        QVERIFY(now - first.msecs < 5000);

        // Paused: frames pushed by anyone are not taken. Resumed by a grab.
        engine.setCapStatus(false);
        const int paused = engine.getFrameNum();
        engine.videoSink()->setVideoFrame(cameraFrame(QVideoFrameFormat::Format_BGRX8888, QSize(320, 240)));
        QCoreApplication::processEvents();
        QCOMPARE(engine.getFrameNum(), paused);
        engine.grabFrameNoStop();
        QTRY_VERIFY_WITH_TIMEOUT(engine.getFrameNum() >= (paused + 3) % 4096, 5000);
        QCOMPARE(engine.getFrame(buffer.data(), int(buffer.size()), &w, &h), 320 * 240 * 3);
        const TestPatternCamera::Stamp later = TestPatternCamera::readStamp(rgbImage(buffer, w, h));
        QVERIFY(later.valid);
        QVERIFY(later.frameNumber > first.frameNumber);

        // A mirrored self view; the frames to send stay unmirrored.
        engine.setPreviewMirror(true);
        preview.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!preview.isEmpty(), 5000);
        const QImage mirrored = preview.last().at(0).value<QImage>();
        QVERIFY(!TestPatternCamera::readStamp(mirrored).valid);
        QVERIFY(TestPatternCamera::readStamp(mirrored.mirrored(true, false)).valid);

        // 640 x 480: the self view is halved when asked, the frame is full size.
        QVERIFY(engine.setCaptureFormat(-1, QSize(640, 480)));
        engine.previewScale(true);
        preview.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!preview.isEmpty(), 5000);
        QCOMPARE(preview.last().at(0).value<QImage>().size(), QSize(320, 240));
        const int at = engine.getFrameNum();
        QTRY_VERIFY_WITH_TIMEOUT(engine.getFrameNum() != at, 5000);
        QCOMPARE(engine.getFrame(buffer.data(), int(buffer.size()), &w, &h), 640 * 480 * 3);

        engine.closeCapture();
        QCOMPARE(engine.getFrame(buffer.data(), int(buffer.size()), &w, &h), 0);
        engine.driverDisconnect();
        QVERIFY(engine.driverGetName().isEmpty());
        QVERIFY(!engine.getVideoSettings(&w, &h));
        QCOMPARE(engine.initCapture(), 1);
    }

    void formatChoiceIsKeptPerDriver()
    {
        QTemporaryDir dir;
        {
            VideoEngine engine(patternOnly(), dir.path());
            QVERIFY(engine.driverConnect(0));
            QCOMPARE(engine.driverFormats().size(), 3);
            QCOMPARE(engine.chosenFormat(), -1);
            QVERIFY(!engine.setCaptureFormat(0, QSize(176, 144)));
            QVERIFY(!engine.setCaptureFormat(3, QSize(320, 240)));
            QVERIFY(engine.setCaptureFormat(2, QSize(160, 120)));
            engine.setPreviewMirror(true);
        }
        QVERIFY(QFile::exists(dir.filePath(QStringLiteral("capture.ini"))));
        VideoEngine engine(patternOnly(), dir.path());
        QVERIFY(engine.driverConnect(0));
        QCOMPARE(engine.chosenFormat(), 2);
        QCOMPARE(engine.driverFormats().at(2).resolution, QSize(640, 480));
        QCOMPARE(engine.captureSize(), QSize(160, 120));
        QVERIFY(engine.previewMirror());
        // The camera runs at its chosen 640 x 480; frames are taken at 160 x 120.
        QCOMPARE(engine.initCapture(), 0);
        QTRY_VERIFY_WITH_TIMEOUT(engine.getFrameNum() >= 1, 5000);
        Bytes buffer(VideoEngine::MaxFrameBytes);
        int w = 0, h = 0;
        QCOMPARE(engine.getFrame(buffer.data(), int(buffer.size()), &w, &h), 160 * 120 * 3);
    }

    void damagedCaptureFileGivesDefaults()
    {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("capture.ini")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("[Test Pattern]\nFormat=nonsense\nCaptureSize=99999x-4\nMirror=yes\n=\n[\n");
        file.write(QByteArray(200000, 'x'));
        file.close();
        VideoEngine engine(patternOnly(), dir.path());
        QVERIFY(engine.driverConnect(0));
        QCOMPARE(engine.chosenFormat(), -1);
        QCOMPARE(engine.captureSize(), QSize(320, 240));
        QVERIFY(!engine.previewMirror());
        // And the next choice rewrites it into a readable file.
        QVERIFY(engine.setCaptureFormat(1, QSize(640, 480)));
        VideoEngine again(patternOnly(), dir.path());
        QVERIFY(again.driverConnect(0));
        QCOMPARE(again.chosenFormat(), 1);
        QCOMPARE(again.captureSize(), QSize(640, 480));
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
        // Only high resolutions: the fast one, not the one at 5 fps.
        const QList<CameraFormat> hd{{QSize(1920, 1080), F::Format_YUYV, 5}, {QSize(1280, 720), F::Format_Jpeg, 30}};
        QCOMPARE(VideoEngine::pickFormat(hd, QSize(640, 480)), 1);
        // Nothing big enough: the largest.
        const QList<CameraFormat> tiny{{QSize(160, 120), F::Format_YUYV, 30}, {QSize(176, 144), F::Format_YUYV, 30}};
        QCOMPARE(VideoEngine::pickFormat(tiny, QSize(640, 480)), 1);
        QCOMPARE(VideoEngine::pickFormat({}, QSize(640, 480)), -1);
    }

    void machineWithoutCamerasConnectsNothing()
    {
        auto machine = DeviceProvider::create(false);
        if (!machine->cameraNames().isEmpty())
            QSKIP("This machine has a camera");
        VideoEngine engine(machine, QString());
        QCOMPARE(engine.driverCount(), 0);
        QVERIFY(!engine.driverConnect(0));
        QCOMPARE(engine.initCapture(), 1);
        int w = -1, h = -1;
        QVERIFY(!engine.getVideoSettings(&w, &h));
        QCOMPARE(w, 0);
        Bytes buffer(VideoEngine::MaxFrameBytes);
        QCOMPARE(engine.getFrame(buffer.data(), int(buffer.size()), &w, &h), 0);
        engine.grabFrameNoStop();
        engine.setCapStatus(true);
        QCOMPARE(engine.getFrameNum(), 0);

        // With test devices the same machine offers the test pattern.
        VideoEngine test(DeviceProvider::create(true), QString());
        QCOMPARE(test.driverNames(), QStringList{QStringLiteral("Test Pattern")});
    }

    void inPlaceHalvingMatchesACopy()
    {
        VideoEngine engine(patternOnly(), QString());
        Bytes frame = rgbBytes(TestPatternCamera::renderFrame(3, 4, QSize(640, 480)));
        Bytes separate(320 * 240 * 3);
        QCOMPARE(engine.downSampleImg(frame.data(), 640, 480, separate.data(), 320, 240, int(separate.size())),
                 320 * 240 * 3);
        QCOMPARE(engine.downSampleImg(frame.data(), 640, 480, frame.data(), 320, 240, int(frame.size())), 320 * 240 * 3);
        QVERIFY(std::equal(separate.begin(), separate.end(), frame.begin()));
    }
};

QTEST_MAIN(TestVideoEngine)
#include "tst_videoengine.moc"
