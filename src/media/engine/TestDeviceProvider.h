#pragma once

#include "media/engine/DeviceProvider.h"
#include "media/engine/TestMicrophone.h"

#include <QPointer>

class TestPatternCamera;
class TestSpeaker;

// The machine's cameras followed by the "Test Pattern" camera, and a test microphone and
// test speaker instead of the sound devices. Half-duplex mode imitates a sound card that
// cannot record while it plays: the microphone fails to open while a speaker is open.
class TestDeviceProvider : public DeviceProvider
{
public:
    // withRealCameras false leaves the machine's cameras out (deterministic tests).
    explicit TestDeviceProvider(bool withRealCameras = true);

    QStringList cameraNames() const override;
    std::unique_ptr<CameraDevice> openCamera(int index) override;
    bool hasAudioInput() const override;
    bool hasAudioOutput() const override;
    std::unique_ptr<AudioInputDevice> openAudioInput() override;
    std::unique_ptr<AudioOutputDevice> openAudioOutput() override;

    void setMicrophoneSignal(TestMicrophone::Signal signal, double toneHz = 440.0);
    void setHalfDuplex(bool on) { m_halfDuplex = on; }
    void setAudioPresent(bool present) { m_audioPresent = present; }
    // The pattern camera opened last, while it exists.
    TestPatternCamera *patternCamera() const;

private:
    bool m_withRealCameras;
    bool m_halfDuplex = false;
    bool m_audioPresent = true;
    TestMicrophone::Signal m_signal = TestMicrophone::Speech;
    double m_toneHz = 440.0;
    QPointer<TestSpeaker> m_speaker;
    QPointer<TestPatternCamera> m_camera;
};
