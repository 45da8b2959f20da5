#include "media/VideoEngine.h"

#include "media/picture/CameraDevice.h"
#include "media/picture/CaptureProfile.h"
#include "media/devices/DeviceProvider.h"
#include "media/picture/FrameConverter.h"
#include "media/picture/VideoCodec.h"

#include <QDir>

#include <algorithm>
#include <cstring>
#include <limits>

namespace {

constexpr QSize DefaultCaptureSize(320, 240);
constexpr int MaxDimension = 8192;

bool sizeOk(int w, int h)
{
    return w > 0 && h > 0 && w <= MaxDimension && h <= MaxDimension;
}

// A still is never larger than a frame of the largest capture size: a header cannot make
// the decoder take more memory than that.
constexpr qint64 MaxStillPixels = 640 * 480;

// A line of text as a picture: its own width, one line high, well inside this.
constexpr size_t MaxTextPictureBytes = size_t(MaxDimension) * 64 * 3;

// The codec reads rows that lie end to end; a picture pads each row to four bytes. Such a
// picture is copied into `spare`, any other read in place.
const uchar *packedRows(const QImage &picture, std::vector<uchar> &spare)
{
    const size_t rowBytes = size_t(picture.width()) * 3;
    if (picture.format() == QImage::Format_RGB888 && size_t(picture.bytesPerLine()) == rowBytes)
        return picture.constBits();
    const QImage rgb = picture.convertToFormat(QImage::Format_RGB888);
    spare.resize(rowBytes * size_t(rgb.height()));
    for (int y = 0; y < rgb.height(); ++y)
        std::memcpy(spare.data() + rowBytes * size_t(y), rgb.constScanLine(y), rowBytes);
    return spare.data();
}

QImage fromPackedRows(const uchar *rgb, int width, int height)
{
    QImage picture(width, height, QImage::Format_RGB888);
    const size_t rowBytes = size_t(width) * 3;
    for (int y = 0; y < height; ++y)
        std::memcpy(picture.scanLine(y), rgb + rowBytes * size_t(y), rowBytes);
    return picture;
}

} // namespace

VideoEngine::VideoEngine(std::shared_ptr<DeviceProvider> devices, const QString &profileDir, QObject *parent)
    : QObject(parent)
    , m_devices(std::move(devices))
    , m_profile(std::make_unique<CaptureProfile>(
          profileDir.isEmpty() ? QString() : QDir(profileDir).filePath(profileFileName())))
    , m_captureSize(DefaultCaptureSize)
{
}

VideoEngine::~VideoEngine()
{
    releaseShared(true);
    driverDisconnect();
}

QVideoSink *VideoEngine::videoSink()
{
    if (!m_sink) {
        m_sink = std::make_unique<QVideoSink>();
        connect(m_sink.get(), &QVideoSink::videoFrameChanged, this, &VideoEngine::onFrame);
    }
    return m_sink.get();
}

QString VideoEngine::profileFileName()
{
    return QStringLiteral("capture.ini");
}

QList<QSize> VideoEngine::captureSizes()
{
    return {QSize(160, 120), QSize(320, 240), QSize(640, 480)};
}

VideoCodec &VideoEngine::codec()
{
    if (!m_codec)
        m_codec = std::make_unique<VideoCodec>();
    return *m_codec;
}

bool VideoEngine::initialize()
{
    codec();
    return true;
}

void VideoEngine::terminate()
{
    releaseShared();
    driverDisconnect();
    m_codec.reset();
}

void VideoEngine::setCompType(int type)
{
    m_compType = type;
}

void VideoEngine::flushEvents()
{
    m_vp8.reset();
    m_incoming = QImage();
}

// ---- Receive side ------------------------------------------------------------------------

QImage VideoEngine::drawFrame(QByteArrayView frame)
{
    const auto *body = reinterpret_cast<const uchar *>(frame.data());
    const int bodyLength = int(std::min<qsizetype>(frame.size(), std::numeric_limits<int>::max()));
    if (bodyLength <= 0)
        return {};
    // Only the sizes a sender captures at: the window showing the frame follows its size.
    const QImage image = codec().decodePicture(body, bodyLength, captureSizes());
    if (image.isNull())
        return {};
    m_incoming = image;
    emit frameDrawn(m_incoming);
    return m_incoming;
}

QImage VideoEngine::drawVp8Frame(QByteArrayView frame)
{
    if (m_vp8.decode(frame) != Vp8Decoder::Result::Picture)
        return {};
    m_incoming = m_vp8.picture();
    emit frameDrawn(m_incoming);
    return m_incoming;
}

// ---- Coding ------------------------------------------------------------------------------

QByteArray VideoEngine::compressPicture(const QImage &picture, int quality, int maxLength)
{
    if (picture.isNull() || maxLength <= 0 || !sizeOk(picture.width(), picture.height()))
        return {};
    std::vector<uchar> spare;
    QByteArray jpeg(maxLength, Qt::Uninitialized);
    const int n = codec().compressStill(packedRows(picture, spare), picture.width(), picture.height(), quality,
                                        reinterpret_cast<uchar *>(jpeg.data()), maxLength);
    jpeg.truncate(std::max(n, 0));
    return jpeg;
}

QImage VideoEngine::decodeStill(QByteArrayView jpeg, QSize expect)
{
    const int length = int(std::min<qsizetype>(jpeg.size(), std::numeric_limits<int>::max()));
    int w = 0;
    int h = 0;
    const auto *data = reinterpret_cast<const uchar *>(jpeg.data());
    // The header's size bounds the picture before anything is decoded.
    if (length <= 0 || !codec().pictureSize(data, length, &w, &h) || !sizeOk(w, h)
        || (!expect.isEmpty() && QSize(w, h) != expect) || qint64(w) * h > MaxStillPixels)
        return {};
    std::vector<uchar> rgb(size_t(w) * size_t(h) * 3);
    if (codec().unCompressStill(data, length, &w, &h, rgb.data(), int(rgb.size()), expect.width(), expect.height())
        <= 0)
        return {};
    return fromPackedRows(rgb.data(), w, h);
}

QImage VideoEngine::scaledPicture(const QImage &picture, QSize size)
{
    if (picture.isNull() || !sizeOk(picture.width(), picture.height()) || !sizeOk(size.width(), size.height()))
        return {};
    if (picture.size() == size)
        return picture;
    std::vector<uchar> spare;
    std::vector<uchar> scaled(size_t(size.width()) * size_t(size.height()) * 3);
    if (VideoCodec::downSampleImg(packedRows(picture, spare), picture.width(), picture.height(), scaled.data(),
                                  size.width(), size.height(), int(scaled.size()))
        <= 0)
        return {};
    return fromPackedRows(scaled.data(), size.width(), size.height());
}

QImage VideoEngine::textPicture(const QString &text)
{
    std::vector<uchar> rgb(MaxTextPictureBytes);
    int w = 0;
    int h = 0;
    if (VideoCodec::textToImage(rgb.data(), int(rgb.size()), &w, &h, text) <= 0)
        return {};
    return fromPackedRows(rgb.data(), w, h);
}

bool VideoEngine::burnPicture(QImage &frame, const QImage &image, QPoint at)
{
    if (frame.isNull() || image.isNull() || frame.format() != QImage::Format_RGB888)
        return false;
    // The frame is written in place only when its rows lie end to end, as the codec expects.
    if (frame.bytesPerLine() != qsizetype(frame.width()) * 3)
        return false;
    std::vector<uchar> spare;
    const uchar *rows = packedRows(image, spare);
    return VideoCodec::burnImage(frame.bits(), frame.width(), frame.height(), rows, image.width(), image.height(),
                                 at.x(), at.y());
}

// ---- Capture -----------------------------------------------------------------------------

QStringList VideoEngine::driverNames() const
{
    return m_devices ? m_devices->cameraNames() : QStringList();
}

int VideoEngine::driverCount() const
{
    return int(driverNames().size());
}

bool VideoEngine::driverConnect(int index)
{
    driverDisconnect();
    if (!m_devices || index < 0)
        return false;
    std::unique_ptr<CameraDevice> camera = m_devices->openCamera(index);
    if (!camera)
        return false;
    m_camera = std::move(camera);
    m_driverIndex = index;
    m_driverName = m_camera->name();
    m_formats = m_camera->formats();
    // While a screen is shared, a camera that still hands over frames is not heard.
    connect(m_camera.get(), &CameraDevice::frameReady, this, [this](const QVideoFrame &frame) {
        if (!m_shared)
            onFrame(frame);
    });
    connect(m_camera.get(), &CameraDevice::failed, this, [this](const QString &reason) {
        m_captureInitialized = false;
        if (m_camera)
            m_camera->stop();
        emit captureFailed(reason);
    });

    const CaptureProfile::Entry entry = m_profile->entry(m_driverName);
    m_chosenFormat = -1;
    if (!entry.formatKey.isEmpty()) {
        for (int i = 0; i < m_formats.size(); ++i) {
            if (m_formats.at(i).key() == entry.formatKey) {
                m_chosenFormat = i;
                break;
            }
        }
    }
    m_captureSize = captureSizes().contains(entry.captureSize) ? entry.captureSize : DefaultCaptureSize;
    m_mirror = entry.mirror;
    return true;
}

QString VideoEngine::driverGetName() const
{
    return m_camera ? m_driverName : QString();
}

void VideoEngine::driverDisconnect()
{
    closeCapture();
    if (m_camera) {
        m_camera->disconnect(this);
        m_camera.reset();
    }
    m_driverIndex = -1;
    m_driverName.clear();
    m_formats.clear();
    m_chosenFormat = -1;
}

void VideoEngine::startCamera()
{
    if (!m_camera || !cameraWanted() || m_shared)
        return;
    m_camera->setFormat(activeFormat());
    if (!m_camera->start())
        m_captureInitialized = false;
}

void VideoEngine::useCamera(CameraUse use, bool on)
{
    const bool wanted = cameraWanted();
    m_cameraUses = on ? (m_cameraUses | use) : (m_cameraUses & ~use);
    if (wanted == cameraWanted() || !m_camera || !m_captureInitialized)
        return;
    if (cameraWanted()) {
        if (m_capStatus && !m_camera->isActive()) {
            startCamera();
            // Found only now that the camera is first needed: the same trouble as a
            // camera failing while it runs.
            if (!m_captureInitialized)
                emit captureFailed(QString());
        }
    } else {
        m_camera->stop();
        // Nobody saw it and it will not go: the next use starts from a fresh frame.
        forgetLatestFrame();
    }
}

int VideoEngine::initCapture()
{
    if (!m_camera)
        return 1;
    m_captureInitialized = true;
    if (m_capStatus)
        startCamera();
    return m_captureInitialized ? 0 : 2;
}

void VideoEngine::setCapStatus(bool on)
{
    m_capStatus = on;
    if (!m_camera || !m_captureInitialized)
        return;
    if (on) {
        if (!m_camera->isActive())
            startCamera();
    } else {
        m_camera->stop();
    }
}

void VideoEngine::preview(bool on)
{
    const bool starting = on && !m_preview;
    const bool changed = on != m_preview;
    m_preview = on;
    useCamera(SelfViewUse, on);
    if (changed)
        emit previewChanged(on);
    // A self view shown again starts from the newest frame, not the one it was hidden with.
    if (starting && (m_latestFrame.isValid() || m_latestConverted)) {
        m_previewClock.invalidate();
        showPreview();
    }
}

void VideoEngine::previewRate(int ms)
{
    m_previewRateMs = std::max(0, ms);
}

void VideoEngine::previewScale(bool on)
{
    m_previewScale = on;
}

bool VideoEngine::getVideoSettings(int *width, int *height) const
{
    const bool connected = m_camera != nullptr || m_shared != nullptr;
    if (width)
        *width = connected ? m_captureSize.width() : 0;
    if (height)
        *height = connected ? m_captureSize.height() : 0;
    return connected;
}

void VideoEngine::closeCapture()
{
    if (m_camera)
        m_camera->stop();
    m_captureInitialized = false;
    forgetLatestFrame();
}

void VideoEngine::forgetLatestFrame()
{
    m_latestFrame = QVideoFrame();
    m_latestImage = QImage();
    m_latestConverted = false;
    m_frameSinceStart = false;
}

void VideoEngine::grabFrameNoStop()
{
    // Frames are kept continuously; after a pause, delivery has to be restarted.
    if (!m_camera || !m_captureInitialized)
        return;
    m_capStatus = true;
    if (!m_camera->isActive())
        startCamera();
}

int VideoEngine::getFrameNum() const
{
    return int(m_frameCount % FrameNumberModulo);
}

void VideoEngine::onFrame(const QVideoFrame &frame)
{
    // A stopping camera hands over an empty frame; a paused capture takes nothing.
    if (!frame.isValid() || !m_capStatus)
        return;
    m_latestFrame = frame;
    m_latestImage = QImage();
    m_latestConverted = false;
    m_frameSinceStart = true;
    ++m_frameCount;

    if (m_preview)
        showPreview();
    emit frameArrived();
}

void VideoEngine::showPreview()
{
    if (m_previewRateMs > 0 && m_previewClock.isValid() && m_previewClock.elapsed() < m_previewRateMs)
        return;
    m_previewClock.start();
    // Straight from the camera's pixels to the window system's, whatever the sender needs.
    const bool shrink = m_previewScale && m_captureSize.width() > 320;
    // A shared screen is shown the way round the others see it, or its text reads backwards.
    const bool mirror = m_mirror && !m_shared;
    QImage picture;
    if (m_latestFrame.isValid()) {
        // A screen shared at its own size is shown whole, fitted into the self view.
        const QSize target = isSharpSharing() ? m_latestFrame.size() : m_captureSize;
        const QSize shown = target.scaled(shrink ? QSize(320, 240) : m_captureSize, Qt::KeepAspectRatio);
        picture = FrameConverter::toShownPicture(m_latestFrame, target, shown, mirror);
    } else {
        const QImage latest = latestPicture();
        const QSize shown = shrink ? QSize(320, 240) : latest.size();
        picture = FrameConverter::resized(latest, shown, mirror);
    }
    if (!picture.isNull())
        emit previewFrame(picture);
}

QImage VideoEngine::latestPicture()
{
    // One conversion per frame, whoever asks first: the self view and the sender share it.
    if (!m_latestConverted && m_latestFrame.isValid()) {
        m_latestImage = FrameConverter::toRgb888(m_latestFrame, m_captureSize);
        m_latestConverted = true;
    }
    return m_latestImage;
}

bool VideoEngine::latestYuv(QSize size, YuvPicture &out)
{
    if (m_latestFrame.isValid())
        return FrameConverter::toYuvPicture(m_latestFrame, size, out);
    return false;
}

bool VideoEngine::latestIsPlanar() const
{
    return m_latestFrame.isValid() && m_latestFrame.size() == m_captureSize && m_captureSize.width() % 16 == 0
           && FrameConverter::givesPlanes(m_latestFrame.pixelFormat());
}

QByteArray VideoEngine::compressLatest(int quality, int maxLength)
{
    if (maxLength <= 0 || !latestIsPlanar() || !FrameConverter::toPlanes(m_latestFrame, m_captureSize, m_planes))
        return {};
    VideoCodec::Planes planes;
    planes.width = m_planes.width;
    planes.height = m_planes.height;
    planes.y = m_planes.y.data();
    planes.u = m_planes.u.data();
    planes.v = m_planes.v.data();
    planes.yStride = m_planes.width;
    planes.chromaStride = (m_planes.width + 1) / 2;
    QByteArray jpeg(maxLength, Qt::Uninitialized);
    const int n = codec().compressPlanes(planes, quality, reinterpret_cast<uchar *>(jpeg.data()), maxLength);
    jpeg.truncate(std::max(n, 0));
    return jpeg;
}

bool VideoEngine::hasFrame() const
{
    return m_frameSinceStart;
}

// ---- Sharing a screen --------------------------------------------------------------------

bool VideoEngine::shareSource(std::unique_ptr<CameraDevice> source)
{
    if (!source)
        return false;
    releaseShared();
    // Nothing of the camera's is shown or sent once the user chose to share.
    if (m_camera)
        m_camera->stop();
    forgetLatestFrame();
    m_shared = std::move(source);
    connect(m_shared.get(), &CameraDevice::frameReady, this, &VideoEngine::onFrame);
    connect(m_shared.get(), &CameraDevice::failed, this, [this](const QString &reason) {
        releaseShared();
        resumeCamera();
        emit sharingEnded(reason);
    });
    startShared();
    if (!m_shared->isActive()) {
        releaseShared();
        resumeCamera();
        return false;
    }
    return true;
}

void VideoEngine::endSharing()
{
    if (!m_shared)
        return;
    releaseShared();
    resumeCamera();
}

void VideoEngine::setSharpSharing(bool on)
{
    if (on == m_sharpSharing)
        return;
    m_sharpSharing = on;
    if (!m_shared)
        return;
    forgetLatestFrame();
    startShared();
}

void VideoEngine::startShared()
{
    if (!m_shared)
        return;
    m_shared->stop();
    const QList<CameraFormat> formats = m_shared->formats();
    const QSize wanted = m_sharpSharing ? MaxSharedSize : m_captureSize;
    int index = -1;
    for (int i = 0; i < formats.size(); ++i) {
        if (formats.at(i).resolution == wanted)
            index = i;
    }
    m_shared->setFormat(index);
    m_shared->start();
}

void VideoEngine::releaseShared(bool now)
{
    if (!m_shared)
        return;
    m_shared->disconnect(this);
    m_shared->stop();
    // The source may be the one telling that it failed: it goes once its signal returned.
    if (now)
        m_shared.reset();
    else
        m_shared.release()->deleteLater();
    forgetLatestFrame();
}

void VideoEngine::resumeCamera()
{
    if (m_camera && m_captureInitialized && m_capStatus && cameraWanted() && !m_camera->isActive())
        startCamera();
}

// ---- Formats -----------------------------------------------------------------------------

QList<CameraFormat> VideoEngine::driverFormats() const
{
    return m_formats;
}

int VideoEngine::chosenFormat() const
{
    return m_chosenFormat;
}

int VideoEngine::activeFormat() const
{
    if (m_chosenFormat >= 0 && m_chosenFormat < m_formats.size())
        return m_chosenFormat;
    return pickFormat(m_formats, m_captureSize);
}

bool VideoEngine::setCaptureFormat(int formatIndex, QSize captureSize)
{
    if (!captureSizes().contains(captureSize) || formatIndex < -1 || formatIndex >= m_formats.size())
        return false;
    const int before = activeFormat();
    m_chosenFormat = formatIndex;
    const bool resized = captureSize != m_captureSize;
    if (resized) {
        m_captureSize = captureSize;
        if (m_latestConverted)
            m_latestImage = FrameConverter::fit(m_latestImage, m_captureSize);
    }
    if (m_shared && resized)
        startShared();
    if (!m_camera)
        return true;
    saveChoice();
    if (activeFormat() != before && m_captureInitialized && m_capStatus) {
        m_camera->stop();
        startCamera();
    }
    return true;
}

void VideoEngine::setPreviewMirror(bool on)
{
    m_mirror = on;
    saveChoice();
}

void VideoEngine::saveChoice()
{
    if (!m_camera)
        return;
    CaptureProfile::Entry entry;
    if (m_chosenFormat >= 0 && m_chosenFormat < m_formats.size())
        entry.formatKey = m_formats.at(m_chosenFormat).key();
    entry.captureSize = m_captureSize;
    entry.mirror = m_mirror;
    m_profile->setEntry(m_driverName, entry);
    m_profile->save();
}

int VideoEngine::pickFormat(const QList<CameraFormat> &formats, QSize captureSize)
{
    if (formats.isEmpty())
        return -1;
    auto covers = [&](const CameraFormat &f) {
        return f.resolution.width() >= captureSize.width() && f.resolution.height() >= captureSize.height();
    };
    auto area = [](const CameraFormat &f) { return qint64(f.resolution.width()) * f.resolution.height(); };
    auto is43 = [](const CameraFormat &f) { return f.resolution.width() * 3 == f.resolution.height() * 4; };
    auto better = [&](const CameraFormat &a, const CameraFormat &b) {
        // true when a is preferable to b
        if (area(a) != area(b))
            return area(a) < area(b);
        if (is43(a) != is43(b))
            return is43(a);
        const bool aJpeg = a.pixelFormat == QVideoFrameFormat::Format_Jpeg;
        const bool bJpeg = b.pixelFormat == QVideoFrameFormat::Format_Jpeg;
        if (aJpeg != bJpeg)
            return !aJpeg;
        return a.maxFps > b.maxFps;
    };
    for (const float minFps : {15.0f, 0.0f}) {
        int best = -1;
        for (int i = 0; i < formats.size(); ++i) {
            const CameraFormat &f = formats.at(i);
            if (!covers(f) || f.maxFps < minFps)
                continue;
            if (best < 0 || better(f, formats.at(best)))
                best = i;
        }
        if (best >= 0)
            return best;
    }
    // Nothing covers the size: the largest there is, scaled up.
    int best = 0;
    for (int i = 1; i < formats.size(); ++i) {
        if (area(formats.at(i)) > area(formats.at(best)))
            best = i;
    }
    return best;
}
