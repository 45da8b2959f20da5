#include "messages/MessageComposer.h"

#include "core/ProgramState.h"
#include "media/AudioBlock.h"
#include "media/AudioControl.h"
#include "media/AudioSendQueue.h"
#include "media/engine/VideoEngine.h"
#include "messages/MessageService.h"
#include "messages/QuickMessageProtocol.h"

#include <QDateTime>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace Proto = QuickMessageProtocol;

MessageComposer::MessageComposer(MessageService &service, QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_sender(new MessageSender(this))
    , m_tmrAudioProg(new QTimer(this))
{
    m_tmrAudioProg->setObjectName(QStringLiteral("tmrAudioProg"));
    m_tmrAudioProg->setInterval(ProgressIntervalMs);
    connect(m_tmrAudioProg, &QTimer::timeout, this, &MessageComposer::onProgress);

    connect(m_sender, &MessageSender::statusChanged, this, &MessageComposer::statusChanged);
    connect(m_sender, &MessageSender::busyChanged, this, &MessageComposer::busyChanged);
    connect(m_sender, &MessageSender::invalidAddress, this, &MessageComposer::invalidAddress);
    connect(m_sender, &MessageSender::pictureSent, this, [this] { setImageChecked(false); });
    connect(m_sender, &MessageSender::audioSent, this, [this] { setAudioChecked(false); });
    connect(m_sender, &MessageSender::delivered, this, &MessageComposer::finished);
}

MessageComposer::~MessageComposer()
{
    // The window that listens is going too.
    blockSignals(true);
    if (m_recording)
        stop();
    m_sender->close();
}

void MessageComposer::setRecipient(const QString &host, int port)
{
    m_host = host;
    m_port = port;
}

void MessageComposer::load()
{
    refresh();
}

// ---- Picture ----

void MessageComposer::refresh()
{
    if (!m_service.state().captureReady) {
        m_canRefresh = false;
        emit changed();
        return;
    }
    m_canRefresh = true;
    VideoEngine &video = m_service.video();
    video.grabFrameNoStop();
    std::vector<uchar> frame(static_cast<size_t>(VideoEngine::MaxFrameBytes));
    int width = 0;
    int height = 0;
    const int w = Proto::ThumbnailWidth;
    const int h = Proto::ThumbnailHeight;
    QImage thumb(w, h, QImage::Format_RGB888);
    std::vector<uchar> rgb(size_t(w * h * 3));
    // No frame yet (the camera is starting): the picture stays as it was.
    if (video.getFrame(frame.data(), int(frame.size()), &width, &height) <= 0
        || video.downSampleImg(frame.data(), width, height, rgb.data(), w, h, int(rgb.size())) <= 0) {
        emit changed();
        return;
    }
    for (int y = 0; y < h; ++y)
        std::copy_n(rgb.data() + size_t(y * w * 3), w * 3, thumb.scanLine(y));
    useThumbnail(thumb);
}

bool MessageComposer::useThumbnail(const QImage &picture)
{
    const int w = Proto::ThumbnailWidth;
    const int h = Proto::ThumbnailHeight;
    const QImage shown = picture.convertToFormat(QImage::Format_RGB888)
                             .scaled(w, h, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    std::vector<uchar> rgb(size_t(w * h * 3));
    for (int y = 0; y < h; ++y)
        std::copy_n(shown.constScanLine(y), w * 3, rgb.data() + size_t(y * w * 3));
    std::vector<uchar> compressed(static_cast<size_t>(Proto::MaxPictureBytes));
    const int size = m_service.video().compressStill(rgb.data(), w, h, PictureQuality, compressed.data(),
                                                     Proto::MaxPictureBytes);
    if (size <= 0) {
        emit changed();
        return false;
    }
    setPicture(QByteArray(reinterpret_cast<const char *>(compressed.data()), size), shown);
    return true;
}

void MessageComposer::setPicture(const QByteArray &compressed, const QImage &shown)
{
    m_picture = compressed.left(Proto::MaxPictureBytes);
    m_thumbnail = shown.isNull() ? m_service.thumbnail(m_picture) : shown;
    m_imageChecked = !m_picture.isEmpty();
    emit changed();
}

void MessageComposer::setImageChecked(bool checked)
{
    m_imageChecked = checked && !m_picture.isEmpty();
    emit changed();
}

// ---- Sound ----

bool MessageComposer::hasAudioDevice() const
{
    return m_service.state().hasAudio;
}

void MessageComposer::record()
{
    if (!hasAudioDevice())
        return;
    m_service.beginRecording(this);
    AudioSendQueue &queue = m_service.audioSendQueue();
    queue.reset();
    queue.setHold(true);
    m_service.state().messageRecording = true;
    m_clip.clear();
    m_soundBytes = 0;
    m_recording = true;
    m_recorded = true;
    m_audioChecked = true;
    m_tmrAudioProg->start();
    if (!m_service.audioControl().openMicrophone()) {
        // The microphone would not open: there is nothing to record.
        stop();
        m_recorded = false;
        m_audioChecked = false;
    }
    emit changed();
}

void MessageComposer::stop()
{
    if (!m_recording) {
        m_service.stopClip();
        return;
    }
    m_tmrAudioProg->stop();
    if (m_service.state().micState != 1)
        m_service.audioControl().closeMicrophone();
    takeClip();
    emit changed();
}

void MessageComposer::takeClip()
{
    AudioSendQueue &queue = m_service.audioSendQueue();
    m_clip.clear();
    for (int i = queue.audioSendIndex(); i < queue.audioRecordIndex(); ++i)
        m_clip.append(queue.block(i).bytes());
    queue.reset();
    queue.setHold(false);
    m_service.state().messageRecording = false;
    m_recording = false;
    m_soundBytes = 0;
    for (const QByteArray &block : std::as_const(m_clip))
        m_soundBytes += int(block.size());
}

int MessageComposer::recordedBytes() const
{
    const AudioSendQueue &queue = m_service.audioSendQueue();
    int bytes = 0;
    for (int i = queue.audioSendIndex(); i < queue.audioRecordIndex(); ++i)
        bytes += std::clamp<qint32>(queue.block(i).count, 0, AudioBlock::DataBytes);
    return bytes;
}

void MessageComposer::onProgress()
{
    if (!m_recording)
        return;
    // Every block recorded so far counts, however many arrived since the last tick.
    m_soundBytes = recordedBytes();
    if (m_service.audioSendQueue().audioRecordIndex() >= LastRecordIndex)
        stop();
    emit changed();
}

void MessageComposer::play()
{
    if (m_recording)
        stop();
    m_service.playClip(m_clip, AudioBlock::DataBytes);
}

int MessageComposer::recordIndex() const
{
    return m_recording ? m_service.audioSendQueue().audioRecordIndex() : int(m_clip.size()) + 1;
}

void MessageComposer::setAudioChecked(bool checked)
{
    m_audioChecked = checked && m_recorded;
    emit changed();
}

int MessageComposer::messageSize() const
{
    return (m_imageChecked ? int(m_picture.size()) : 0) + (m_audioChecked ? m_soundBytes : 0);
}

QString MessageComposer::sizeText() const
{
    return QStringLiteral("MsgSize: ") + QString::number(messageSize() / 1000) + QStringLiteral("Kb");
}

// ---- Sending ----

void MessageComposer::send(const QString &text)
{
    if (sendStarted())
        return;
    if (m_recording)
        stop();
    ProgramState &st = m_service.state();
    MessageSender::Outgoing out;
    out.head.userNumber = st.userNumber;
    out.head.name = st.settings.Name;
    out.head.email = st.settings.EMail;
    out.head.location = st.settings.Location;
    out.head.sentAt = QLocale::system().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    out.head.text = text;
    if (m_imageChecked)
        out.picture = m_picture;
    out.sendAudio = m_audioChecked;
    if (m_audioChecked)
        out.audioBlocks = m_clip;
    m_sender->send(m_host, m_port, std::move(out));
    emit changed();
}

void MessageComposer::cancel()
{
    if (m_recording)
        stop();
}
