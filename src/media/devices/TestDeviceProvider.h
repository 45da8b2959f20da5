#pragma once

#include "media/devices/DeviceProvider.h"
#include "media/sound/TestMicrophone.h"

#include <QPointer>

#include <functional>

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
    QList<SoundDevice> audioInputs() const override;
    QList<SoundDevice> audioOutputs() const override;
    QByteArray defaultAudioInput() const override;
    QByteArray defaultAudioOutput() const override;
    std::unique_ptr<AudioInputDevice> openAudioInput(const QByteArray &id, int rate) override;
    std::unique_ptr<AudioOutputDevice> openAudioOutput(const QByteArray &id, int rate) override;
    void watchAudioDevices(std::function<void()> changed) override;

    // Sound devices that come and go: by default one microphone and one speaker, "test"
    // (id "test"), both the defaults. Changes are announced as the sound server's are.
    void addAudioDevice(bool input, const SoundDevice &device);
    void removeAudioDevice(bool input, const QByteArray &id);
    void setDefaultAudioDevice(bool input, const QByteArray &id);
    // The device the test microphone or speaker opened last stands for.
    QByteArray openedAudioInput() const { return m_openedInput; }
    QByteArray openedAudioOutput() const { return m_openedOutput; }
    TestSpeaker *speaker() const;

    void setMicrophoneSignal(TestMicrophone::Signal signal, double toneHz = 440.0);
    // The microphones opened from now on play this recording in a loop (none: the signal).
    void setMicrophoneRecording(std::shared_ptr<const std::vector<qint16>> recording);
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
    std::shared_ptr<const std::vector<qint16>> m_recording;
    QPointer<TestSpeaker> m_speaker;
    QList<SoundDevice> m_inputs{{"test", QStringLiteral("Test Microphone")}};
    QList<SoundDevice> m_outputs{{"test", QStringLiteral("Test Speaker")}};
    QByteArray m_defaultInput = "test";
    QByteArray m_defaultOutput = "test";
    QByteArray m_openedInput;
    QByteArray m_openedOutput;
    std::function<void()> m_changed;
    QPointer<TestPatternCamera> m_camera;
};
