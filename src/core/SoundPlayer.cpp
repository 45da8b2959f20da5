#include "core/SoundPlayer.h"

#include <QAudioDevice>
#include <QFile>
#include <QMediaDevices>
#include <QRegularExpression>
#include <QSoundEffect>
#include <QUrl>

SoundPlayer::SoundPlayer(QObject *parent)
    : QObject(parent)
{
    // The resources live in a static library; nothing else would pull them into the program.
    Q_INIT_RESOURCE(resources);
}

SoundPlayer::~SoundPlayer()
{
    // An effect destroyed while it plays can race the sound server's thread; stop first.
    for (QSoundEffect *effect : std::as_const(m_effects))
        effect->stop();
}

void SoundPlayer::setMuted(bool muted)
{
    m_muted = muted;
    if (muted) {
        for (QSoundEffect *effect : std::as_const(m_effects))
            effect->stop();
    }
}

void SoundPlayer::play(const QString &fileName)
{
    emit playRequested(fileName);
    if (m_muted)
        return;
    // Only plain names of the program's own sounds; nothing that could leave the folder.
    static const QRegularExpression plainName(QStringLiteral("^[A-Za-z0-9_-]+\\.wav$"));
    if (!plainName.match(fileName).hasMatch())
        return;
    const QString resource = QStringLiteral(":/sounds/") + fileName;
    if (!QFile::exists(resource) || QMediaDevices::defaultAudioOutput().isNull())
        return;
    QSoundEffect *effect = m_effects.value(fileName);
    if (!effect) {
        effect = new QSoundEffect(this);
        effect->setSource(QUrl(QStringLiteral("qrc") + resource));
        m_effects.insert(fileName, effect);
    }
    // Loading is asynchronous; a play requested meanwhile starts once the sound is loaded.
    effect->play();
}
