#include "media/devices/QtDeviceProvider.h"

#include "media/sound/QtAudioInput.h"
#include "media/sound/QtAudioOutput.h"
#include "media/picture/QtCameraDevice.h"
#include "media/sound/SoundServerWatch.h"

#include <QMediaDevices>

namespace {

QList<DeviceProvider::SoundDevice> describe(const QList<QAudioDevice> &devices)
{
    QList<DeviceProvider::SoundDevice> out;
    for (const QAudioDevice &d : devices)
        out.append({d.id(), d.description()});
    return out;
}

QAudioDevice find(const QList<QAudioDevice> &devices, const QByteArray &id)
{
    for (const QAudioDevice &d : devices) {
        if (d.id() == id)
            return d;
    }
    return {};
}

// The server's word once it is known and Qt lists the device; Qt's otherwise; else the first.
QByteArray pickDefault(const QList<QAudioDevice> &devices, const QByteArray &serverDefault,
                       const QAudioDevice &qtDefault)
{
    if (!serverDefault.isEmpty() && !find(devices, serverDefault).isNull())
        return serverDefault;
    if (!find(devices, qtDefault.id()).isNull())
        return qtDefault.id();
    return devices.isEmpty() ? QByteArray() : devices.first().id();
}

} // namespace

QtDeviceProvider::QtDeviceProvider() = default;
QtDeviceProvider::~QtDeviceProvider() = default;

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
    return !QMediaDevices::defaultAudioInput().isNull() || !QMediaDevices::audioInputs().isEmpty();
}

bool QtDeviceProvider::hasAudioOutput() const
{
    return !QMediaDevices::defaultAudioOutput().isNull() || !QMediaDevices::audioOutputs().isEmpty();
}

QList<DeviceProvider::SoundDevice> QtDeviceProvider::audioInputs() const
{
    return describe(QMediaDevices::audioInputs());
}

QList<DeviceProvider::SoundDevice> QtDeviceProvider::audioOutputs() const
{
    return describe(QMediaDevices::audioOutputs());
}

QByteArray QtDeviceProvider::defaultAudioInput() const
{
    return pickDefault(QMediaDevices::audioInputs(), m_watch ? m_watch->defaultSource() : QByteArray(),
                       QMediaDevices::defaultAudioInput());
}

QByteArray QtDeviceProvider::defaultAudioOutput() const
{
    return pickDefault(QMediaDevices::audioOutputs(), m_watch ? m_watch->defaultSink() : QByteArray(),
                       QMediaDevices::defaultAudioOutput());
}

std::unique_ptr<AudioInputDevice> QtDeviceProvider::openAudioInput(const QByteArray &id, int rate)
{
    const QAudioDevice device = find(QMediaDevices::audioInputs(), id.isEmpty() ? defaultAudioInput() : id);
    if (device.isNull())
        return nullptr;
    return std::make_unique<QtAudioInput>(device, rate);
}

std::unique_ptr<AudioOutputDevice> QtDeviceProvider::openAudioOutput(const QByteArray &id, int rate)
{
    const QAudioDevice device = find(QMediaDevices::audioOutputs(), id.isEmpty() ? defaultAudioOutput() : id);
    if (device.isNull())
        return nullptr;
    return std::make_unique<QtAudioOutput>(device, rate);
}

void QtDeviceProvider::watchAudioDevices(std::function<void()> changed)
{
    if (!m_watch) {
        m_watch = std::make_unique<SoundServerWatch>();
        m_watch->start();
    }
    m_watch->disconnect();
    QObject::connect(m_watch.get(), &SoundServerWatch::changed, m_watch.get(), std::move(changed));
}
