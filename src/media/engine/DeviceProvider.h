#pragma once

#include <QStringList>

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

    virtual bool hasAudioInput() const = 0;
    virtual bool hasAudioOutput() const = 0;
    // Not yet started; nullptr when there is no such device.
    virtual std::unique_ptr<AudioInputDevice> openAudioInput() = 0;
    virtual std::unique_ptr<AudioOutputDevice> openAudioOutput() = 0;

    // The machine's devices, or with testDevices the test devices (plus the real cameras).
    static std::shared_ptr<DeviceProvider> create(bool testDevices);
};
