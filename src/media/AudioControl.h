#pragma once

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>

#include <memory>
#include <vector>

class AudioEngine;
class AudioSendQueue;
class OpusVoiceEncoder;
class Resampler;
struct CallStatus;

// The program's side of the sound devices: opening and closing the microphone (push to
// talk, latched talk, the sound test, a quick message's clip), the speaker (a call's
// sound, a clip, the sound test's playback), taking recorded blocks into the send queue,
// the output volume and the audio quality. It alone knows whether the microphone is open
// and the speaker playing, and says so with micChanged and speakerChanged.
class AudioControl : public QObject
{
    Q_OBJECT

public:
    AudioControl(const CallStatus &call, AudioEngine &engine, AudioSendQueue &queue, QObject *parent = nullptr);
    ~AudioControl() override;

    // The sound test's answer while a call is up.
    static QString inCallText();

    // Start-up: the codec, and whether there are devices to talk with.
    void start();
    // Program exit: an open microphone closes, the codec goes.
    void shutdown();
    bool hasAudio() const { return m_hasAudio; }
    bool isMicOpen() const { return m_micOpen; }
    bool isSpeakerPlaying() const { return m_speakerPlaying; }
    // Neither talking nor playing: the moment for the program's own sounds.
    bool soundIdle() const { return !m_micOpen && !m_speakerPlaying; }

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

    // A quick message's clip is being recorded: what the microphone gives is held for it,
    // never sent.
    void setMessageRecording(bool on) { m_messageRecording = on; }
    bool isMessageRecording() const { return m_messageRecording; }

    // The send loop's microphone step, once per tick: when a recorded block is ready it is
    // GSM-coded at the current quality into the send queue. Outside a call and without
    // hold the queue is emptied again (nothing is sent); while hold is on and no quick
    // message records, recordProgress reports the record index. Returns whether a block
    // was taken.
    bool captureStep();
    // On: a call's blocks go into the send queue as Opus packets (a call that agreed on
    // today's formats), and the devices record and play at the wide rate, so the voice
    // keeps what lies above 4 kHz; a quick message's clip and the sound test stay GSM. Off:
    // GSM, and the devices at 8000 Hz. Each switch starts the coder afresh.
    void setOpusCoding(bool on);
    bool isOpusCoding() const { return m_opusOn; }
    // The share of packets the line is expected to lose (per cent): Opus puts that much
    // repair data for the frame before into each frame. 0 on a line that loses nothing.
    void setExpectedLoss(int percent);

    // The speaker: opened unless it plays already (false when it cannot be); samples handed
    // to it (a refusal counts it as idle); once per tick it counts as playing while samples
    // wait in it.
    bool startSpeaker();
    void play(const qint16 *samples, int count);
    void followSpeaker();
    // Samples handed to the speaker and not yet heard.
    int speakerBacklog() const;
    // Plays GSM blocks (each from at most maxBlockBytes) unless nothing is given or the
    // speaker is already playing. Returns whether the clip was queued.
    bool playClip(const QList<QByteArray> &blocks, int maxBlockBytes);
    // Cuts a clip short; not during a call, whose sound shares the speaker.
    void stopClip();

    // The volume slider (0 to 10) and the engine's volume (0 to 100).
    void setVolumeFromSlider(int slider);
    static int sliderFromVolume(int volume);
    int sliderValue() const;

    // 0 phone quality, 1 radio quality.
    void setQuality(int quality);
    int quality() const { return m_quality; }

signals:
    void micChanged(bool open);
    void speakerChanged(bool playing);
    // The talk button's look: held down while talking or latched.
    void talkButtonHeld(bool held);
    void errorMessage(const QString &text);
    // The sound test's progress: the send queue's record index after a block was taken.
    void recordProgress(int index);

private:
    void setHeld(bool held);
    void setMicOpen(bool open);
    void setSpeakerPlaying(bool playing);
    bool inCall() const;
    QByteArray codeOpus(const qint16 *samples, int count);
    // GSM of one recorded block, lowered to 8000 Hz first when the devices are wide.
    int codeGsm(const qint16 *samples, int count, uchar *out, int capacity);

    const CallStatus &m_call;
    AudioEngine &m_engine;
    AudioSendQueue &m_queue;
    bool m_hasAudio = false;
    bool m_micOpen = false;
    bool m_speakerPlaying = false;
    // The speaker's state has been announced at least once.
    bool m_speakerAnnounced = false;
    bool m_messageRecording = false;
    int m_quality = 0;
    bool m_latched = false;
    bool m_held = false;
    bool m_testRecording = false;
    bool m_opusOn = false;
    std::unique_ptr<OpusVoiceEncoder> m_opus;
    // The microphone's samples raised to the coder's rate where they are fewer, and those
    // not yet coded (less than a 20 ms frame).
    std::unique_ptr<Resampler> m_upsampler;
    std::vector<float> m_raised;
    std::vector<qint16> m_wide;
};
