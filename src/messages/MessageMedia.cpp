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
    m_.video.grabFrameNoStop();
    return VideoEngine::scaledPicture(m_.video.latestPicture(),
                                      QSize(Proto::ThumbnailWidth, Proto::ThumbnailHeight));
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
    return m_.video.compressPicture(picture, quality, Proto::MaxPictureBytes);
}

QImage MessageMedia::thumbnail(const QByteArray &picture)
{
    const QByteArrayView jpeg(picture.constData(), std::min<qsizetype>(picture.size(), Proto::MaxPictureBytes));
    return m_.video.decodeStill(jpeg, QSize(Proto::ThumbnailWidth, Proto::ThumbnailHeight));
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
