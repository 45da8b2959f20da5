#include "media/AudioSetup.h"

#include "media/AudioRoute.h"
#include "media/AudioEngine.h"

AudioSetup::AudioSetup(AudioEngine &engine, DeviceProvider &devices, QString settingsPath,
                       std::function<void(const QString &)> logLine, QObject *parent)
    : QObject(parent)
    , m_engine(engine)
    , m_path(std::move(settingsPath))
    , m_route(new AudioRoute(devices, engine, logLine, this))
{
    connect(&m_engine, &AudioEngine::voiceProcessingFailed, this, [logLine](const QString &reason) {
        if (logLine)
            logLine(QStringLiteral("The microphone's sound is not processed: ") + reason);
    });
}

void AudioSetup::start()
{
    m_settings.load(m_path);
    applyProcessing();
    m_route->pinInput(m_settings.Microphone);
    m_route->pinOutput(m_settings.Speaker);
    m_route->start();
}

void AudioSetup::applyProcessing()
{
    m_engine.setVoiceProcessing({m_settings.EchoCancellation, m_settings.NoiseSuppression, m_settings.AutomaticLevel});
}

void AudioSetup::setEchoCancellation(bool on)
{
    m_settings.EchoCancellation = on;
    applyProcessing();
    save();
}

void AudioSetup::setNoiseSuppression(bool on)
{
    m_settings.NoiseSuppression = on;
    applyProcessing();
    save();
}

void AudioSetup::setAutomaticLevel(bool on)
{
    m_settings.AutomaticLevel = on;
    applyProcessing();
    save();
}

void AudioSetup::pinMicrophone(const QByteArray &id)
{
    m_settings.Microphone = id;
    m_route->pinInput(id);
    save();
}

void AudioSetup::pinSpeaker(const QByteArray &id)
{
    m_settings.Speaker = id;
    m_route->pinOutput(id);
    save();
}

void AudioSetup::save()
{
    QString error;
    if (!m_settings.save(m_path, &error))
        emit saveFailed(tr("Could not save the sound choices: %1").arg(error));
}
