#include "media/engine/TestDeviceProvider.h"

#include "media/engine/QtDeviceProvider.h"
#include "media/engine/TestPatternCamera.h"
#include "media/engine/TestSpeaker.h"

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

std::unique_ptr<AudioInputDevice> TestDeviceProvider::openAudioInput()
{
    if (!m_audioPresent || (m_halfDuplex && m_speaker && m_speaker->isStarted()))
        return nullptr;
    return std::make_unique<TestMicrophone>(m_signal, m_toneHz);
}

std::unique_ptr<AudioOutputDevice> TestDeviceProvider::openAudioOutput()
{
    if (!m_audioPresent)
        return nullptr;
    auto speaker = std::make_unique<TestSpeaker>();
    m_speaker = speaker.get();
    return speaker;
}

void TestDeviceProvider::setMicrophoneSignal(TestMicrophone::Signal signal, double toneHz)
{
    m_signal = signal;
    m_toneHz = toneHz;
}
