#pragma once

#include <QHash>
#include <QObject>
#include <QString>

class QSoundEffect;

// Plays the program's short wave sounds by file name ("ringin.wav", ...), asynchronously,
// and silently when the sound or the output device is missing. Whether a sound may be
// played at all (sound devices idle) is the caller's decision.
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

signals:
    void playRequested(const QString &fileName);

private:
    QHash<QString, QSoundEffect *> m_effects;
    bool m_muted = false;
};
