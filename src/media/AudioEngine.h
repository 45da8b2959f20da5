#pragma once

#include "media/sound/EchoReference.h"
#include "media/sound/LevelMeter.h"
#include "media/sound/SoundTimeline.h"
#include "media/sound/StreamPosition.h"
#include "media/sound/VoiceModule.h"
#include "media/sound/VoiceProcessor.h"

#include <QByteArray>
#include <QList>
#include <QObject>

#include <array>
#include <deque>
#include <memory>

class AudioInputDevice;
class AudioOutputDevice;
class DeviceProvider;
class GsmCodec;

// Sound in and out and GSM coding. The microphone's samples are cut into 80 ms blocks
// (640 samples at 8000 Hz) and held until read; the speaker plays queued samples in order.
// Both holdings are bounded: the oldest recorded blocks are dropped beyond MaxInputBlocks,
// and output beyond 8 seconds of samples is refused.
// Sound is recorded, processed and played at 8000 Hz, as GSM needs, or at WideRate for a
// coder that carries more (setSampleRate); GSM coding is for 8000 Hz samples only.
// With voice processing on, a block read has been through the VoiceProcessor: what the
// speaker played is placed on the sound timeline as it is heard, and each recorded block
// carries the place it was recorded at, so the echo canceller compares the two.
// Each direction uses the device chosen for it (the system's default when none is, or
// when the chosen one cannot be opened); choosing another while it is open moves to it.
class AudioEngine : public QObject
{
    Q_OBJECT

public:
    static constexpr int SampleRate = 8000;
    static constexpr int WideRate = 16000;
    static constexpr int BlockMs = 80;
    // A block at 8000 Hz, and at the wide rate.
    static constexpr int BlockSamples = SampleRate * BlockMs / 1000;
    static constexpr int MaxBlockSamples = WideRate * BlockMs / 1000;
    static constexpr int MaxInputBlocks = 60;
    static constexpr int MaxPendingOutput = SampleRate * 8;

    explicit AudioEngine(std::shared_ptr<DeviceProvider> devices, QObject *parent = nullptr);
    ~AudioEngine() override;

    // SampleRate or WideRate from now on (anything else is taken as SampleRate). Devices
    // open now are opened again at it; recorded blocks not yet read and sound not yet
    // played are let go, and the echo canceller starts learning afresh.
    void setSampleRate(int rate);
    int sampleRate() const { return m_rate; }
    // Samples in a recorded block at the current rate.
    int blockSamples() const { return m_rate * BlockMs / 1000; }
    // Most samples the speaker holds at the current rate.
    int maxPendingOutput() const { return m_rate * 8; }

    void startGSM();
    void stopGSM();
    // True when both a microphone and a speaker exist.
    bool hasAudio() const;

    // The device each direction uses from now on; empty for the system's default. A
    // device that is open, or that failed while open, is opened again on it.
    void setAudioInDevice(const QByteArray &id);
    void setAudioOutDevice(const QByteArray &id);
    // The devices open now (empty when closed).
    QByteArray audioInDevice() const { return m_input ? m_inputOpened : QByteArray(); }
    QByteArray audioOutDevice() const { return m_output ? m_outputOpened : QByteArray(); }
    // The device each direction is on: the one open, or the one that failed while open
    // (empty when closed).
    QByteArray audioInDeviceInUse() const { return m_input || m_inputLost ? m_inputOpened : QByteArray(); }
    QByteArray audioOutDeviceInUse() const { return m_output || m_outputLost ? m_outputOpened : QByteArray(); }
    // A device failed while open and waits to be opened again.
    bool isAudioInLost() const { return m_inputLost; }
    bool isAudioOutLost() const { return m_outputLost; }

    // Echo cancellation, noise suppression and automatic level of the recorded blocks
    // (all off until set).
    void setVoiceProcessing(const VoiceProcessor::Options &options);
    VoiceProcessor::Options voiceProcessing() const { return m_processing; }

    // How loud the microphone is now, 0 to 100 (0 while it is closed).
    int inputLevel() const { return m_input ? m_meter.level() : 0; }

    // 0 on success (also when already open), non-zero when the device is missing or fails.
    int initAudioIn();
    int initAudioOut();
    void closeAudioIn();
    void closeAudioOut();
    bool isAudioInOpen() const { return m_input != nullptr; }
    bool isAudioOutOpen() const { return m_output != nullptr; }

    // Number of recorded blocks ready (0 when none or the microphone is closed).
    int statusAudioIn() const;
    // Takes the oldest recorded block. Returns its sample count (blockSamples()), or 0 when
    // there is none or it does not fit `capacity` samples (the block is then kept).
    int getAudioIn(qint16 *buffer, int capacity);

    // GSM coding of whole 80 ms blocks; quality 0 phone, 1 radio. Returns bytes written.
    int compressAudioGSM(const qint16 *samples, int count, int quality, uchar *out, int capacity);
    // Returns 8 kHz samples written (whole blocks that fit), 0 for a body of another length.
    int unCompressAudioGSM(const uchar *gsm, int count, qint16 *samples, int capacity);

    // Queues samples (at sampleRate()) for playing. 0 on success; non-zero when the speaker
    // is not open, the input is invalid, or it would queue more than maxPendingOutput().
    int setAudioOut(const qint16 *samples, int count);
    // Samples still to be heard; above 0 while playing.
    int statusAudioOut() const;
    // 0 to 100. Kept across closing and reopening the speaker.
    void setVolumeOut(int volume);
    int getVolumeOut() const { return m_volume; }

    // The open devices (nullptr when closed), for diagnostics and tests.
    AudioInputDevice *inputDevice() const { return m_input.get(); }
    AudioOutputDevice *outputDevice() const { return m_output.get(); }

signals:
    // A device stopped working while open; it has been closed. Choosing a device again
    // opens it again.
    void deviceFailed(const QString &reason);
    // The microphone's level changed (0 to 100).
    void inputLevelChanged(int level);
    // The sound processing asked for cannot be had; the microphone's sound goes unprocessed.
    // Said once, at the first sound that was to be processed.
    void voiceProcessingFailed(const QString &reason);

private:
    struct Block
    {
        std::array<qint16, MaxBlockSamples> samples;
        qint64 position; // where its first sample was recorded on the sound timeline
    };

    GsmCodec &codec();
    void takeSamples(const QList<qint16> &samples);
    std::unique_ptr<AudioInputDevice> openInput();
    std::unique_ptr<AudioOutputDevice> openOutput();
    void stopInput();
    void stopOutput();
    void inputFailed(const QString &reason);
    void outputFailed(const QString &reason);

    std::shared_ptr<DeviceProvider> m_devices;
    int m_rate = SampleRate;
    std::unique_ptr<GsmCodec> m_codec;
    std::unique_ptr<AudioInputDevice> m_input;
    std::unique_ptr<AudioOutputDevice> m_output;
    QByteArray m_inputChoice;
    QByteArray m_outputChoice;
    QByteArray m_inputOpened;
    QByteArray m_outputOpened;
    // A device failed while open: it is opened again when a device is chosen.
    bool m_inputLost = false;
    bool m_outputLost = false;
    std::deque<Block> m_blocks;
    Block m_partial{};
    int m_partialCount = 0;
    // Where the recorded and the played sound fall on the sound timeline (in samples at
    // the current rate): they move to the clock's word only after 0.4 s of steady
    // disagreement beyond 40 and 30 ms.
    static StreamPosition recordPosition(int rate) { return {rate * 40 / 1000, rate * 400 / 1000}; }
    static StreamPosition playPosition(int rate) { return {rate * 30 / 1000, rate * 400 / 1000}; }
    StreamPosition m_recordPosition = recordPosition(SampleRate);
    StreamPosition m_playPosition = playPosition(SampleRate);
    EchoReference m_reference;
    VoiceProcessor::Options m_processing;
    VoiceModule m_voiceModule;
    bool m_voiceProcessingFailureSaid = false;
    std::unique_ptr<VoiceProcessor> m_processor;
    LevelMeter m_meter;
    int m_volume = 100;
};
