#pragma once

#include "media/devices/DeviceProvider.h"

class SoundServerWatch;

// The machine's cameras (QMediaDevices::videoInputs) and sound devices. Which sound
// devices are the defaults comes from the sound server itself once devices are watched:
// Qt's own idea of them is the one it had at start.
class QtDeviceProvider : public DeviceProvider
{
public:
    QtDeviceProvider();
    ~QtDeviceProvider() override;

    QStringList cameraNames() const override;
    std::unique_ptr<CameraDevice> openCamera(int index) override;
    bool hasAudioInput() const override;
    bool hasAudioOutput() const override;
    QList<SoundDevice> audioInputs() const override;
    QList<SoundDevice> audioOutputs() const override;
    QByteArray defaultAudioInput() const override;
    QByteArray defaultAudioOutput() const override;
    std::unique_ptr<AudioInputDevice> openAudioInput(const QByteArray &id, int rate) override;
    std::unique_ptr<AudioOutputDevice> openAudioOutput(const QByteArray &id, int rate) override;
    void watchAudioDevices(std::function<void()> changed) override;

private:
    std::unique_ptr<SoundServerWatch> m_watch;
};
