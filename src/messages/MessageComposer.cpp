#include "messages/MessageComposer.h"

#include "core/Settings.h"
#include "media/AudioBlock.h"
#include "messages/MessageMedia.h"
#include "messages/QuickMessageProtocol.h"

#include <QDateTime>
#include <QLocale>
#include <QTimer>

#include <algorithm>
#include <vector>

namespace Proto = QuickMessageProtocol;

MessageComposer::MessageComposer(Context context, QObject *parent)
    : QObject(parent)
    , m_(std::move(context))
    , m_sender(new MessageSender(this))
    , m_tmrAudioProg(new QTimer(this))
{
    m_tmrAudioProg->setObjectName(QStringLiteral("tmrAudioProg"));
    m_tmrAudioProg->setInterval(ProgressIntervalMs);
    connect(m_tmrAudioProg, &QTimer::timeout, this, &MessageComposer::onProgress);

    if (m_.prepareClient)
        m_.prepareClient(m_sender->ippMessage());
    connect(m_sender, &MessageSender::statusChanged, this, &MessageComposer::statusChanged);
    connect(m_sender, &MessageSender::busyChanged, this, &MessageComposer::busyChanged);
    connect(m_sender, &MessageSender::invalidAddress, this, &MessageComposer::invalidAddress);
    connect(m_sender, &MessageSender::pictureSent, this, [this] { setImageChecked(false); });
    connect(m_sender, &MessageSender::audioSent, this, [this] { setAudioChecked(false); });
    connect(m_sender, &MessageSender::delivered, this, &MessageComposer::finished);
    connect(&m_.media, &MessageMedia::recordingTaken, this, [this](QObject *owner) {
        if (owner == this)
            stop();
    });
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
    if (!m_.media.canGrab()) {
        m_canRefresh = false;
        emit changed();
        return;
    }
    m_canRefresh = true;
    // No frame yet (the camera is starting): the picture stays as it was.
    const QImage thumb = m_.media.grabThumbnail();
    if (thumb.isNull()) {
        emit changed();
        return;
    }
    useThumbnail(thumb);
}

bool MessageComposer::useThumbnail(const QImage &picture)
{
    const QImage shown = picture.convertToFormat(QImage::Format_RGB888)
                             .scaled(Proto::ThumbnailWidth, Proto::ThumbnailHeight, Qt::IgnoreAspectRatio,
                                     Qt::SmoothTransformation);
    const QByteArray compressed = m_.media.compressThumbnail(shown, PictureQuality);
    if (compressed.isEmpty()) {
        emit changed();
        return false;
    }
    setPicture(compressed, shown);
    return true;
}

void MessageComposer::setPicture(const QByteArray &compressed, const QImage &shown)
{
    m_picture = compressed.left(Proto::MaxPictureBytes);
    m_thumbnail = shown.isNull() ? m_.media.thumbnail(m_picture) : shown;
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
    return m_.media.hasAudioDevice();
}

void MessageComposer::record()
{
    if (!hasAudioDevice())
        return;
    m_clip.clear();
    m_soundBytes = 0;
    m_recording = true;
    m_recorded = true;
    m_audioChecked = true;
    m_tmrAudioProg->start();
    if (!m_.media.startRecording(this)) {
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
        m_.media.stopClip();
        return;
    }
    m_tmrAudioProg->stop();
    m_clip = m_.media.takeRecording();
    m_recording = false;
    m_soundBytes = 0;
    for (const QByteArray &block : std::as_const(m_clip))
        m_soundBytes += int(block.size());
    emit changed();
}

void MessageComposer::onProgress()
{
    if (!m_recording)
        return;
    // Every block recorded so far counts, however many arrived since the last tick.
    m_soundBytes = m_.media.recordedBytes();
    if (m_.media.recordIndex() >= LastRecordIndex)
        stop();
    emit changed();
}

void MessageComposer::play()
{
    if (m_recording)
        stop();
    m_.media.playClip(m_clip, AudioBlock::DataBytes);
}

int MessageComposer::recordIndex() const
{
    return m_recording ? m_.media.recordIndex() : int(m_clip.size()) + 1;
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
    MessageSender::Outgoing out;
    out.head.userNumber = m_.userNumber ? m_.userNumber() : -1;
    out.head.name = m_.settings.Name;
    out.head.email = m_.settings.EMail;
    out.head.location = m_.settings.Location;
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
