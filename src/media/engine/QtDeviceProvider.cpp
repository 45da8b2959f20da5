#include "media/engine/QtDeviceProvider.h"

#include "media/engine/QtAudioInput.h"
#include "media/engine/QtAudioOutput.h"
#include "media/engine/QtCameraDevice.h"

#include <QMediaDevices>

QStringList QtDeviceProvider::cameraNames() const
{
    QStringList names;
    for (const QCameraDevice &device : QMediaDevices::videoInputs())
        names.append(device.description());
    return names;
}

std::unique_ptr<CameraDevice> QtDeviceProvider::openCamera(int index)
{
    const QList<QCameraDevice> devices = QMediaDevices::videoInputs();
    if (index < 0 || index >= devices.size())
        return nullptr;
    return std::make_unique<QtCameraDevice>(devices.at(index));
}

bool QtDeviceProvider::hasAudioInput() const
{
    return !QMediaDevices::defaultAudioInput().isNull();
}

bool QtDeviceProvider::hasAudioOutput() const
{
    return !QMediaDevices::defaultAudioOutput().isNull();
}

std::unique_ptr<AudioInputDevice> QtDeviceProvider::openAudioInput()
{
    const QAudioDevice device = QMediaDevices::defaultAudioInput();
    if (device.isNull())
        return nullptr;
    return std::make_unique<QtAudioInput>(device);
}

std::unique_ptr<AudioOutputDevice> QtDeviceProvider::openAudioOutput()
{
    const QAudioDevice device = QMediaDevices::defaultAudioOutput();
    if (device.isNull())
        return nullptr;
    return std::make_unique<QtAudioOutput>(device);
}
