#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QPointer>

class AudioControl;
class AudioSendQueue;
class CaptureControl;
class VideoEngine;

// The pictures and sound clips of quick messages: the camera's picture as a thumbnail, a
// thumbnail compressed and shown again, a clip recorded from the microphone through the
// program's send queue (held, never sent, while it records) and clips played. One clip is
// recorded at a time: whoever starts recording stops the one who recorded before.
class MessageMedia : public QObject
{
    Q_OBJECT

public:
    struct Context
    {
        const CaptureControl &capture;
        VideoEngine &video;
        AudioControl &audio;
        AudioSendQueue &queue;
    };

    explicit MessageMedia(Context context, QObject *parent = nullptr);

    // ---- Pictures ----
    // Whether the camera can give a picture now.
    bool canGrab() const;
    // The camera's current frame at thumbnail size; a null image while there is none yet.
    QImage grabThumbnail();
    // A picture as a thumbnail's compressed bytes at this quality; empty when it cannot be
    // compressed.
    QByteArray compressThumbnail(const QImage &picture, int quality);
    // The thumbnail of a received message: at most the protocol's picture bytes decoded,
    // its size only; a null image for anything else.
    QImage thumbnail(const QByteArray &picture);

    // ---- Sound ----
    bool hasAudioDevice() const;
    // Starts a recording for `owner`, stopping the one who recorded before. False when the
    // microphone would not open (nothing records then).
    bool startRecording(QObject *owner);
    // Ends the recording: the microphone closes and the clip comes out of the send queue.
    QList<QByteArray> takeRecording();
    // While recording: the send queue's record index, and the bytes recorded so far.
    int recordIndex() const;
    int recordedBytes() const;
    bool playClip(const QList<QByteArray> &blocks, int maxBlockBytes);
    void stopClip();

signals:
    // Another recording started: `owner`, who recorded before, should stop.
    void recordingTaken(QObject *owner);

private:
    Context m_;
    QPointer<QObject> m_recorder;
};
