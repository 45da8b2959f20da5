#pragma once

#include <QAudioFormat>
#include <QByteArray>
#include <QHash>
#include <QList>
#include <QObject>
#include <QString>

class QAudioSink;

// Plays the program's short wave sounds by file name ("ringin.wav", ...), asynchronously,
// and silently when the sound or the output device is missing. Whether a sound may be
// played at all (sound devices idle) is the caller's decision.
//
// The sounds go straight to an audio sink: the platform's sound-effect class keeps a
// loader thread that can hang the program at exit.
class SoundPlayer : public QObject
{
    Q_OBJECT

public:
    explicit SoundPlayer(QObject *parent = nullptr);
    ~SoundPlayer() override;

    void play(const QString &fileName);
    // Tests and demos without a sound server can turn real output off; requests are
    // still announced.
    void setMuted(bool muted);
    // Sounds being played right now.
    int playing() const { return int(m_sinks.size()); }

    // A PCM wave file's format and samples; an invalid format when the bytes are not one.
    struct Wave
    {
        QAudioFormat format;
        QByteArray samples;
    };
    static Wave readWave(const QByteArray &file);

signals:
    void playRequested(const QString &fileName);

private:
    void stopAll();
    void dropFinished();

    QHash<QString, Wave> m_waves;
    QList<QAudioSink *> m_sinks;
    // Sinks that have played to the end, deleted from the event loop. Never deleteLater:
    // a sink's own destructor runs pending events, and a deferred delete of that sink
    // still waiting there (a sound that ended just before quitting) deletes it twice.
    QList<QAudioSink *> m_finished;
    bool m_muted = false;
};
