#pragma once

#include <QObject>
#include <QString>

class AudioEngine;
class AudioSendQueue;
struct ProgramState;

// The program's side of the sound devices: opening and closing the microphone (push to
// talk, latched talk, the sound test), the sound test's recording and playback, taking
// recorded blocks into the send queue, the output volume and the audio quality. It keeps
// micState and speakerState in the program state; windows follow its signals.
class AudioControl : public QObject
{
    Q_OBJECT

public:
    AudioControl(ProgramState &state, AudioEngine &engine, AudioSendQueue &queue, QObject *parent = nullptr);

    // The sound test's answer while a call is up.
    static QString inCallText();

    // Opens the microphone; a first failure closes the speaker and tries once more. A
    // microphone that still cannot be opened stays closed without a message.
    bool openMicrophone();
    void closeMicrophone();

    // The talk button: the left button talks while held, the right one latches.
    void talkPressed(Qt::MouseButton button);
    void talkReleased(Qt::MouseButton button);
    bool isLatched() const { return m_latched; }
    bool isTalkHeld() const { return m_held; }

    // The options dialog's sound test.
    void testRecord();
    void testStop();
    void testPlay();
    // The options dialog closed: recorded blocks are no longer held, and a test recording
    // still running is stopped.
    void testClosed();

    // The send loop's microphone step, once per tick: when a recorded block is ready it is
    // GSM-coded at the current quality into the send queue. Outside a call and without
    // hold the queue is emptied again (nothing is sent); while hold is on and no quick
    // message records, recordProgress reports the record index. Returns whether a block
    // was taken.
    bool captureStep();

    // The volume slider (0 to 10) and the engine's volume (0 to 100).
    void setVolumeFromSlider(int slider);
    static int sliderFromVolume(int volume);
    int sliderValue() const;

    // 0 phone quality, 1 radio quality.
    void setQuality(int quality);

signals:
    void micLampChanged(bool on);
    // The talk button's look: held down while talking or latched.
    void talkButtonHeld(bool held);
    void errorMessage(const QString &text);
    // The sound test's progress: the send queue's record index after a block was taken.
    void recordProgress(int index);

private:
    void setHeld(bool held);
    bool inCall() const;

    ProgramState &m_state;
    AudioEngine &m_engine;
    AudioSendQueue &m_queue;
    bool m_latched = false;
    bool m_held = false;
    bool m_testRecording = false;
};
