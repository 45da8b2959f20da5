#pragma once

#include <QByteArray>
#include <QList>
#include <QStringList>

#include <functional>
#include <memory>

class AudioInputDevice;
class AudioOutputDevice;
class CameraDevice;

// Where the engines get their cameras, microphone and speaker from. The program uses the
// machine's devices; with test devices, synthetic ones that need no hardware.
class DeviceProvider
{
public:
    virtual ~DeviceProvider() = default;

    virtual QStringList cameraNames() const = 0;
    // nullptr when there is no camera with that index.
    virtual std::unique_ptr<CameraDevice> openCamera(int index) = 0;

    // A sound device as the user picks it: the sound system's name for it and its
    // description.
    struct SoundDevice
    {
        QByteArray id;
        QString description;
        bool operator==(const SoundDevice &) const = default;
    };

    virtual bool hasAudioInput() const = 0;
    virtual bool hasAudioOutput() const = 0;
    // The sound devices there are now, and the ones the system uses by default (empty
    // when there is none).
    virtual QList<SoundDevice> audioInputs() const = 0;
    virtual QList<SoundDevice> audioOutputs() const = 0;
    virtual QByteArray defaultAudioInput() const = 0;
    virtual QByteArray defaultAudioOutput() const = 0;
    // Not yet started; nullptr when there is no such device. An empty id opens the
    // system's default. The device takes and gives samples at `rate` a second.
    virtual std::unique_ptr<AudioInputDevice> openAudioInput(const QByteArray &id, int rate) = 0;
    virtual std::unique_ptr<AudioOutputDevice> openAudioOutput(const QByteArray &id, int rate) = 0;
    // Called on the caller's thread whenever sound devices come or go or the defaults
    // change; from then on the provider watches for that.
    virtual void watchAudioDevices(std::function<void()> changed) = 0;

    // The machine's devices, or with testDevices the test devices (plus the real cameras).
    static std::shared_ptr<DeviceProvider> create(bool testDevices);
};
