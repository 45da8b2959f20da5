#pragma once

#include "media/engine/DeviceProvider.h"

// The machine's cameras (QMediaDevices::videoInputs) and default sound devices.
class QtDeviceProvider : public DeviceProvider
{
public:
    QStringList cameraNames() const override;
    std::unique_ptr<CameraDevice> openCamera(int index) override;
    bool hasAudioInput() const override;
    bool hasAudioOutput() const override;
    std::unique_ptr<AudioInputDevice> openAudioInput() override;
    std::unique_ptr<AudioOutputDevice> openAudioOutput() override;
};
