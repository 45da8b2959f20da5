#include "media/picture/TestPatternCamera.h"

#include "media/picture/TexturedScene.h"

#include <algorithm>

#include <QDateTime>
#include <QPainter>
#include <QVideoFrame>

#include <libyuv.h>

#include <array>
#include <cstring>

namespace {

const QList<QSize> &patternSizes()
{
    static const QList<QSize> sizes{QSize(160, 120), QSize(320, 240), QSize(640, 480)};
    return sizes;
}

constexpr int DataBits = 64;
constexpr int CheckBits = 16;
static_assert(DataBits + CheckBits == TestPatternCamera::StampColumns * TestPatternCamera::StampRows);

// The 80 cell values, most significant bit first: frame number, time stamp, check sum.
std::array<bool, DataBits + CheckBits> stampBits(quint32 frameNumber, quint32 msecs)
{
    uchar bytes[8];
    for (int i = 0; i < 4; ++i) {
        bytes[i] = uchar(frameNumber >> (24 - 8 * i));
        bytes[4 + i] = uchar(msecs >> (24 - 8 * i));
    }
    const quint16 check = qChecksum(QByteArrayView(reinterpret_cast<const char *>(bytes), 8));
    std::array<bool, DataBits + CheckBits> bits{};
    for (int i = 0; i < 32; ++i) {
        bits[i] = (frameNumber >> (31 - i)) & 1;
        bits[32 + i] = (msecs >> (31 - i)) & 1;
    }
    for (int i = 0; i < 16; ++i)
        bits[64 + i] = (check >> (15 - i)) & 1;
    return bits;
}

// BT.601 in video range, chroma the mean of each 2 x 2 block: what a camera's YUV looks like.
void toVideoRangeYuv(const QImage &rgb, QVideoFrame &frame)
{
    libyuv::ARGBToI420(rgb.constBits(), int(rgb.bytesPerLine()), frame.bits(0), int(frame.bytesPerLine(0)),
                       frame.bits(1), int(frame.bytesPerLine(1)), frame.bits(2), int(frame.bytesPerLine(2)),
                       rgb.width(), rgb.height());
}

} // namespace

TestPatternCamera::TestPatternCamera(QObject *parent)
    : CameraDevice(parent)
{
    m_timer.setTimerType(Qt::PreciseTimer);
    m_timer.setInterval(1000 / FramesPerSecond);
    connect(&m_timer, &QTimer::timeout, this, &TestPatternCamera::produce);
}

TestPatternCamera::~TestPatternCamera() = default;

QString TestPatternCamera::deviceName()
{
    return QStringLiteral("Test Pattern");
}

QString TestPatternCamera::name() const
{
    return deviceName();
}

QList<CameraFormat> TestPatternCamera::formats() const
{
    QList<CameraFormat> list;
    for (const QSize &size : patternSizes())
        list.append(CameraFormat{size, m_pixelFormat, float(m_framesPerSecond)});
    return list;
}

void TestPatternCamera::setPixelFormat(QVideoFrameFormat::PixelFormat format)
{
    m_pixelFormat = format == QVideoFrameFormat::Format_YUV420P ? format : QVideoFrameFormat::Format_BGRX8888;
}

void TestPatternCamera::setScene(Scene scene)
{
    m_scene = scene;
    if (scene != Scene::Textured)
        m_textured.reset();
}

void TestPatternCamera::setFramesPerSecond(int fps)
{
    m_framesPerSecond = std::clamp(fps, 1, 60);
    m_timer.setInterval(1000 / m_framesPerSecond);
}

void TestPatternCamera::setFormat(int index)
{
    m_format = (index >= 0 && index < patternSizes().size()) ? index : -1;
}

bool TestPatternCamera::start()
{
    m_active = true;
    if (!m_onDemand && !m_timer.isActive())
        m_timer.start();
    return true;
}

void TestPatternCamera::stop()
{
    m_active = false;
    m_timer.stop();
}

bool TestPatternCamera::isActive() const
{
    return m_active;
}

void TestPatternCamera::setOnDemand(bool on)
{
    m_onDemand = on;
    if (on)
        m_timer.stop();
    else if (m_active && !m_timer.isActive())
        m_timer.start();
}

void TestPatternCamera::deliverFrame()
{
    if (m_active)
        produce();
}

void TestPatternCamera::produce()
{
    const QSize size = patternSizes().value(m_format, QSize(320, 240));
    QVideoFrameFormat format(size, m_pixelFormat);
    format.setFrameRate(m_framesPerSecond);
    if (m_pixelFormat == QVideoFrameFormat::Format_YUV420P)
        format.setColorRange(QVideoFrameFormat::ColorRange_Video);
    QVideoFrame frame(format);
    if (!frame.map(QVideoFrame::WriteOnly))
        return;
    const quint32 msecs = quint32(QDateTime::currentMSecsSinceEpoch());
    if (m_scene == Scene::Textured && (!m_textured || m_textured->size() != size))
        m_textured = std::make_unique<TexturedScene>(size);
    auto paint = [&](QImage &image) {
        if (m_textured) {
            m_textured->paint(image, m_frameNumber);
            paintStamp(image, m_frameNumber, msecs);
        } else {
            paintFrame(image, m_frameNumber, msecs);
        }
    };
    if (m_pixelFormat == QVideoFrameFormat::Format_YUV420P) {
        if (m_canvas.size() != size)
            m_canvas = QImage(size, QImage::Format_RGB32);
        paint(m_canvas);
        toVideoRangeYuv(m_canvas, frame);
    } else {
        // Painted straight into the frame's buffer, as a camera's driver fills it.
        QImage image(frame.bits(0), size.width(), size.height(), frame.bytesPerLine(0), QImage::Format_RGB32);
        paint(image);
    }
    ++m_frameNumber;
    frame.unmap();
    emit frameReady(frame);
}

QImage TestPatternCamera::renderFrame(quint32 frameNumber, quint32 msecs, QSize size)
{
    if (size.width() < StampColumns || size.height() < 2 * StampRows)
        return {};
    QImage image(size, QImage::Format_RGB32);
    paintFrame(image, frameNumber, msecs);
    return image;
}

void TestPatternCamera::paintFrame(QImage &image, quint32 frameNumber, quint32 msecs)
{
    const QSize size = image.size();
    const int w = size.width();
    const int h = size.height();
    const int cell = w / StampColumns;
    const int stampHeight = cell * StampRows;

    QPainter painter(&image);
    painter.fillRect(image.rect(), QColor(32, 32, 48));
    // Colour bars drifting to the right, one bar width every 2.5 seconds.
    static const QColor bars[] = {Qt::white, Qt::yellow, Qt::cyan, Qt::green,
                                  Qt::magenta, Qt::red, Qt::blue, QColor(16, 16, 16)};
    const int barWidth = std::max(1, w / 8);
    const int shift = int((frameNumber * barWidth / (FramesPerSecond * 5 / 2)) % w);
    for (int i = -1; i < 9; ++i) {
        const int x = i * barWidth + shift - barWidth;
        painter.fillRect(QRect(x, stampHeight, barWidth, h - stampHeight), bars[(i + 8) % 8]);
    }
    // A ball bouncing across the lower part, so motion is obvious even when bars are cut.
    const int ball = std::max(4, h / 8);
    const int travelX = std::max(1, w - ball);
    const int travelY = std::max(1, h - stampHeight - ball);
    const int px = int((frameNumber * 3) % (2 * travelX));
    const int py = int((frameNumber * 2) % (2 * travelY));
    const int bx = px < travelX ? px : 2 * travelX - px;
    const int by = stampHeight + (py < travelY ? py : 2 * travelY - py);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 128, 0));
    painter.drawEllipse(QRect(bx, by, ball, ball));
    painter.end();
    paintStamp(image, frameNumber, msecs);
}

void TestPatternCamera::paintStamp(QImage &image, quint32 frameNumber, quint32 msecs)
{
    const int cell = image.width() / StampColumns;
    QPainter painter(&image);
    // White cell for 1, black for 0, filling the full cell.
    const auto bits = stampBits(frameNumber, msecs);
    for (int r = 0; r < StampRows; ++r) {
        for (int c = 0; c < StampColumns; ++c) {
            const bool on = bits[size_t(r * StampColumns + c)];
            painter.fillRect(QRect(c * cell, r * cell, cell, cell), on ? Qt::white : Qt::black);
        }
    }
    painter.end();
}

TestPatternCamera::Stamp TestPatternCamera::readStamp(const QImage &image)
{
    Stamp stamp;
    if (image.isNull() || image.width() < StampColumns || image.height() < 2 * StampRows)
        return stamp;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    const double cell = double(rgb.width()) / StampColumns;
    if (cell * StampRows > rgb.height())
        return stamp;

    std::array<bool, DataBits + CheckBits> bits{};
    for (int r = 0; r < StampRows; ++r) {
        for (int c = 0; c < StampColumns; ++c) {
            // The middle half of the cell, away from edges blurred by coding.
            const int x0 = int(c * cell + cell / 4);
            const int x1 = std::max(x0 + 1, int(c * cell + cell * 3 / 4));
            const int y0 = int(r * cell + cell / 4);
            const int y1 = std::max(y0 + 1, int(r * cell + cell * 3 / 4));
            long sum = 0;
            int n = 0;
            for (int y = y0; y < y1 && y < rgb.height(); ++y) {
                const QRgb *line = reinterpret_cast<const QRgb *>(rgb.constScanLine(y));
                for (int x = x0; x < x1 && x < rgb.width(); ++x) {
                    sum += qGray(line[x]);
                    ++n;
                }
            }
            bits[size_t(r * StampColumns + c)] = n > 0 && sum / n >= 128;
        }
    }
    quint32 frame = 0;
    quint32 msecs = 0;
    for (int i = 0; i < 32; ++i) {
        frame = (frame << 1) | quint32(bits[size_t(i)]);
        msecs = (msecs << 1) | quint32(bits[size_t(32 + i)]);
    }
    // The check sum cells (and every other cell) must be exactly what this stamp makes.
    if (stampBits(frame, msecs) != bits)
        return stamp;
    stamp.valid = true;
    stamp.frameNumber = frame;
    stamp.msecs = msecs;
    return stamp;
}
