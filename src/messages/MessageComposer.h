#pragma once

#include "core/PeerChannel.h"
#include "messages/MessageSender.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QObject>
#include <QString>

#include <functional>

class MessageMedia;
class QTimer;
struct Settings;

// What the compose window does, without the window: the thumbnail grabbed from the
// camera, the sound clip recorded from the microphone, the size shown, and sending it all
// through a sender of its own. The window shows its state after each changed().
//
// The picture and the clip come through the message media, which records one clip at a
// time, so several compose windows and a call never share a recorded clip.
class MessageComposer : public QObject
{
    Q_OBJECT

public:
    static constexpr int ProgressIntervalMs = 250;
    // Recording stops when the send queue's record index reaches this.
    static constexpr int LastRecordIndex = 60;
    static constexpr int PictureQuality = 85;

    struct Context
    {
        MessageMedia &media;
        // Who sends: the user's details and number.
        const Settings &settings;
        std::function<qint32()> userNumber;
        // The message's client endpoint is handed to this before it connects (to go the
        // encrypted way where it can); empty: plain.
        std::function<void(IPPort &)> prepareClient = {};
    };

    explicit MessageComposer(Context context, QObject *parent = nullptr);
    ~MessageComposer() override;

    // The recipient's address: host and the base port it listens on.
    void setRecipient(const QString &host, int port);
    QString recipientHost() const { return m_host; }
    int recipientPort() const { return m_port; }

    // The window has loaded: the first picture is grabbed.
    void load();

    // ---- Picture ----
    // Grabs the camera's current frame as the thumbnail; without a camera it only makes
    // canRefresh() false.
    void refresh();
    bool canRefresh() const { return m_canRefresh; }
    // Takes a picture (shrunk to 80 x 60 if needed) as the thumbnail, compressed as a
    // grabbed one is. False when it cannot be compressed.
    bool useThumbnail(const QImage &picture);
    // A thumbnail compressed elsewhere (a saved picture, a test's), sent as it is.
    void setPicture(const QByteArray &compressed, const QImage &shown = {});
    QByteArray picture() const { return m_picture; }
    QImage thumbnail() const { return m_thumbnail; }
    bool imageChecked() const { return m_imageChecked; }
    bool imageCheckable() const { return !m_picture.isEmpty(); }
    void setImageChecked(bool checked);

    // ---- Sound ----
    bool hasAudioDevice() const;
    void record();
    // Stops recording (the clip is kept); otherwise cuts a playing clip short.
    void stop();
    void play();
    bool isRecording() const { return m_recording; }
    // While recording, the send queue's record index; else the blocks held plus one.
    int recordIndex() const;
    QList<QByteArray> clip() const { return m_clip; }
    int soundBytes() const { return m_soundBytes; }
    bool audioChecked() const { return m_audioChecked; }
    bool audioCheckable() const { return m_recorded; }
    void setAudioChecked(bool checked);

    // "MsgSize: " and the checked parts' size in whole thousands of bytes, "Kb".
    int messageSize() const;
    QString sizeText() const;

    // ---- Sending ----
    void send(const QString &text);
    bool sendStarted() const { return m_sender->state() != MessageSender::State::Idle; }
    MessageSender &sender() { return *m_sender; }
    // Cancel: a recording is stopped first.
    void cancel();

signals:
    void changed();
    void statusChanged(const QString &text);
    void busyChanged(bool busy);
    void invalidAddress(const QString &text);
    // The message is delivered; the window closes.
    void finished();

private:
    void onProgress();

    Context m_;
    MessageSender *m_sender;
    QTimer *m_tmrAudioProg;
    QString m_host;
    int m_port = PortPlan::PublishedBase;

    QByteArray m_picture;
    QImage m_thumbnail;
    bool m_imageChecked = false;
    bool m_canRefresh = true;
    bool m_waitingForFrame = false;

    QList<QByteArray> m_clip;
    int m_soundBytes = 0;
    bool m_recording = false;
    bool m_recorded = false;
    bool m_audioChecked = false;
};
