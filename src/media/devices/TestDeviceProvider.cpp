#include "media/devices/TestDeviceProvider.h"

#include "media/devices/QtDeviceProvider.h"
#include "media/picture/TestPatternCamera.h"
#include "media/sound/TestSpeaker.h"

#include <algorithm>

TestDeviceProvider::TestDeviceProvider(bool withRealCameras)
    : m_withRealCameras(withRealCameras)
{
}

QStringList TestDeviceProvider::cameraNames() const
{
    QStringList names;
    if (m_withRealCameras)
        names = QtDeviceProvider().cameraNames();
    names.append(TestPatternCamera::deviceName());
    return names;
}

std::unique_ptr<CameraDevice> TestDeviceProvider::openCamera(int index)
{
    const int real = m_withRealCameras ? int(QtDeviceProvider().cameraNames().size()) : 0;
    if (index >= 0 && index < real)
        return QtDeviceProvider().openCamera(index);
    if (index == real) {
        auto camera = std::make_unique<TestPatternCamera>();
        m_camera = camera.get();
        return camera;
    }
    return nullptr;
}

TestSpeaker *TestDeviceProvider::speaker() const
{
    return m_speaker.data();
}

TestPatternCamera *TestDeviceProvider::patternCamera() const
{
    return m_camera.data();
}

bool TestDeviceProvider::hasAudioInput() const
{
    return m_audioPresent;
}

bool TestDeviceProvider::hasAudioOutput() const
{
    return m_audioPresent;
}

namespace {

bool listed(const QList<DeviceProvider::SoundDevice> &devices, const QByteArray &id)
{
    return std::any_of(devices.begin(), devices.end(), [&id](const auto &d) { return d.id == id; });
}

} // namespace

QList<DeviceProvider::SoundDevice> TestDeviceProvider::audioInputs() const
{
    return m_audioPresent ? m_inputs : QList<SoundDevice>();
}

QList<DeviceProvider::SoundDevice> TestDeviceProvider::audioOutputs() const
{
    return m_audioPresent ? m_outputs : QList<SoundDevice>();
}

QByteArray TestDeviceProvider::defaultAudioInput() const
{
    return m_audioPresent ? m_defaultInput : QByteArray();
}

QByteArray TestDeviceProvider::defaultAudioOutput() const
{
    return m_audioPresent ? m_defaultOutput : QByteArray();
}

std::unique_ptr<AudioInputDevice> TestDeviceProvider::openAudioInput(const QByteArray &id, int rate)
{
    const QByteArray which = id.isEmpty() ? m_defaultInput : id;
    if (!m_audioPresent || !listed(m_inputs, which) || (m_halfDuplex && m_speaker && m_speaker->isStarted()))
        return nullptr;
    m_openedInput = which;
    auto microphone = std::make_unique<TestMicrophone>(m_signal, m_toneHz, rate);
    microphone->setRecording(m_recording);
    return microphone;
}

std::unique_ptr<AudioOutputDevice> TestDeviceProvider::openAudioOutput(const QByteArray &id, int rate)
{
    const QByteArray which = id.isEmpty() ? m_defaultOutput : id;
    if (!m_audioPresent || !listed(m_outputs, which))
        return nullptr;
    auto speaker = std::make_unique<TestSpeaker>(rate);
    m_speaker = speaker.get();
    m_openedOutput = which;
    return speaker;
}

void TestDeviceProvider::watchAudioDevices(std::function<void()> changed)
{
    m_changed = std::move(changed);
}

void TestDeviceProvider::addAudioDevice(bool input, const SoundDevice &device)
{
    (input ? m_inputs : m_outputs).append(device);
    if (m_changed)
        m_changed();
}

void TestDeviceProvider::removeAudioDevice(bool input, const QByteArray &id)
{
    QList<SoundDevice> &devices = input ? m_inputs : m_outputs;
    devices.removeIf([&id](const SoundDevice &d) { return d.id == id; });
    QByteArray &fallback = input ? m_defaultInput : m_defaultOutput;
    if (fallback == id)
        fallback = devices.isEmpty() ? QByteArray() : devices.first().id;
    if (m_changed)
        m_changed();
}

void TestDeviceProvider::setDefaultAudioDevice(bool input, const QByteArray &id)
{
    (input ? m_defaultInput : m_defaultOutput) = id;
    if (m_changed)
        m_changed();
}

void TestDeviceProvider::setMicrophoneRecording(std::shared_ptr<const std::vector<qint16>> recording)
{
    m_recording = std::move(recording);
}

void TestDeviceProvider::setMicrophoneSignal(TestMicrophone::Signal signal, double toneHz)
{
    m_signal = signal;
    m_toneHz = toneHz;
}
