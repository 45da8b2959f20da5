#pragma once

#include "media/AudioSettings.h"

#include <QObject>

#include <functional>

class AudioEngine;
class AudioRoute;
class DeviceProvider;

// The sound choices of the Audio tab beyond compression and volume: echo cancellation,
// noise suppression and automatic level of the microphone's sound, and the pinned
// devices. Each applies at once and is written to its own file in the profile.
class AudioSetup : public QObject
{
    Q_OBJECT

public:
    AudioSetup(AudioEngine &engine, DeviceProvider &devices, QString settingsPath,
               std::function<void(const QString &)> logLine, QObject *parent = nullptr);

    // Reads the file, applies the choices and starts following the devices.
    void start();

    const AudioSettings &settings() const { return m_settings; }
    void setEchoCancellation(bool on);
    void setNoiseSuppression(bool on);
    void setAutomaticLevel(bool on);
    // Empty: the system's default.
    void pinMicrophone(const QByteArray &id);
    void pinSpeaker(const QByteArray &id);

    AudioRoute &route() { return *m_route; }
    AudioEngine &engine() { return m_engine; }

signals:
    // The choices could not be written; the text says why.
    void saveFailed(const QString &text);

private:
    void applyProcessing();
    void save();

    AudioEngine &m_engine;
    QString m_path;
    AudioSettings m_settings;
    AudioRoute *m_route;
};
