#include "messages/MessageMedia.h"

#include "media/AudioBlock.h"
#include "media/AudioControl.h"
#include "media/AudioSendQueue.h"
#include "media/CaptureControl.h"
#include "media/VideoEngine.h"
#include "messages/QuickMessageProtocol.h"

#include <algorithm>
#include <vector>

namespace Proto = QuickMessageProtocol;

MessageMedia::MessageMedia(Context context, QObject *parent)
    : QObject(parent)
    , m_(context)
{
}

// ---- Pictures ----

bool MessageMedia::canGrab() const
{
    return m_.capture.isReady();
}

QImage MessageMedia::grabThumbnail()
{
    VideoEngine &video = m_.video;
    video.grabFrameNoStop();
    std::vector<uchar> frame(static_cast<size_t>(VideoEngine::MaxFrameBytes));
    int width = 0;
    int height = 0;
    const int w = Proto::ThumbnailWidth;
    const int h = Proto::ThumbnailHeight;
    std::vector<uchar> rgb(size_t(w * h * 3));
    if (video.getFrame(frame.data(), int(frame.size()), &width, &height) <= 0
        || video.downSampleImg(frame.data(), width, height, rgb.data(), w, h, int(rgb.size())) <= 0) {
        return {};
    }
    QImage thumb(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y)
        std::copy_n(rgb.data() + size_t(y * w * 3), w * 3, thumb.scanLine(y));
    return thumb;
}

void MessageMedia::holdCamera(bool on)
{
    m_cameraHolders = std::max(0, m_cameraHolders + (on ? 1 : -1));
    m_.video.useCamera(VideoEngine::MessageUse, m_cameraHolders > 0);
}

void MessageMedia::afterNextFrame(QObject *receiver, std::function<void()> action)
{
    connect(&m_.video, &VideoEngine::frameArrived, receiver, std::move(action), Qt::SingleShotConnection);
}

QByteArray MessageMedia::compressThumbnail(const QImage &picture, int quality)
{
    const int w = picture.width();
    const int h = picture.height();
    std::vector<uchar> rgb(size_t(w * h * 3));
    for (int y = 0; y < h; ++y)
        std::copy_n(picture.constScanLine(y), w * 3, rgb.data() + size_t(y * w * 3));
    std::vector<uchar> compressed(static_cast<size_t>(Proto::MaxPictureBytes));
    const int size = m_.video.compressStill(rgb.data(), w, h, quality, compressed.data(), Proto::MaxPictureBytes);
    return size > 0 ? QByteArray(reinterpret_cast<const char *>(compressed.data()), size) : QByteArray();
}

QImage MessageMedia::thumbnail(const QByteArray &picture)
{
    if (picture.isEmpty())
        return {};
    const int w = Proto::ThumbnailWidth;
    const int h = Proto::ThumbnailHeight;
    QImage image(w, h, QImage::Format_RGB888);
    std::vector<uchar> rgb(size_t(w * h * 3));
    int width = 0;
    int height = 0;
    const int length = int(std::min<qsizetype>(picture.size(), Proto::MaxPictureBytes));
    if (m_.video.unCompressStill(reinterpret_cast<const uchar *>(picture.constData()), length, &width, &height,
                                 rgb.data(), int(rgb.size()), w, h)
        <= 0)
        return {};
    for (int y = 0; y < h; ++y)
        std::copy_n(rgb.data() + size_t(y * w * 3), w * 3, image.scanLine(y));
    return image;
}

// ---- Sound ----

bool MessageMedia::hasAudioDevice() const
{
    return m_.audio.hasAudio();
}

bool MessageMedia::startRecording(QObject *owner)
{
    if (m_recorder && m_recorder != owner)
        emit recordingTaken(m_recorder);
    m_recorder = owner;
    m_.queue.reset();
    m_.queue.setHold(true);
    m_.audio.setMessageRecording(true);
    return m_.audio.openMicrophone();
}

QList<QByteArray> MessageMedia::takeRecording()
{
    if (m_.audio.isMicOpen())
        m_.audio.closeMicrophone();
    AudioSendQueue &queue = m_.queue;
    QList<QByteArray> clip;
    for (int i = queue.audioSendIndex(); i < queue.audioRecordIndex(); ++i)
        clip.append(queue.block(i).bytes());
    queue.reset();
    queue.setHold(false);
    m_.audio.setMessageRecording(false);
    return clip;
}

int MessageMedia::recordIndex() const
{
    return m_.queue.audioRecordIndex();
}

int MessageMedia::recordedBytes() const
{
    const AudioSendQueue &queue = m_.queue;
    int bytes = 0;
    for (int i = queue.audioSendIndex(); i < queue.audioRecordIndex(); ++i)
        bytes += std::clamp<qint32>(queue.block(i).count, 0, AudioBlock::DataBytes);
    return bytes;
}

bool MessageMedia::playClip(const QList<QByteArray> &blocks, int maxBlockBytes)
{
    return m_.audio.playClip(blocks, maxBlockBytes);
}

void MessageMedia::stopClip()
{
    m_.audio.stopClip();
}
