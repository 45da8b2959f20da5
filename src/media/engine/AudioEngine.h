#pragma once

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
// and output beyond MaxPendingOutput samples is refused.
class AudioEngine : public QObject
{
    Q_OBJECT

public:
    static constexpr int SampleRate = 8000;
    static constexpr int BlockSamples = 640;
    static constexpr int MaxInputBlocks = 60;
    static constexpr int MaxPendingOutput = SampleRate * 8;

    explicit AudioEngine(std::shared_ptr<DeviceProvider> devices, QObject *parent = nullptr);
    ~AudioEngine() override;

    void startGSM();
    void stopGSM();
    // True when both a microphone and a speaker exist.
    bool hasAudio() const;

    // 0 on success (also when already open), non-zero when the device is missing or fails.
    int initAudioIn();
    int initAudioOut();
    void closeAudioIn();
    void closeAudioOut();
    bool isAudioInOpen() const { return m_input != nullptr; }
    bool isAudioOutOpen() const { return m_output != nullptr; }

    // Number of recorded blocks ready (0 when none or the microphone is closed).
    int statusAudioIn() const;
    // Takes the oldest recorded block. Returns its sample count (640), or 0 when there is
    // none or it does not fit `capacity` samples (the block is then kept).
    int getAudioIn(qint16 *buffer, int capacity);

    // GSM coding of whole 80 ms blocks; quality 0 phone, 1 radio. Returns bytes written.
    int compressAudioGSM(const qint16 *samples, int count, int quality, uchar *out, int capacity);
    // Returns 8 kHz samples written (whole blocks that fit), 0 for a body of another length.
    int unCompressAudioGSM(const uchar *gsm, int count, qint16 *samples, int capacity);

    // Queues samples for playing. 0 on success; non-zero when the speaker is not open, the
    // input is invalid, or it would queue more than MaxPendingOutput samples.
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
    // A device stopped working while open; it has been closed.
    void deviceFailed(const QString &reason);

private:
    GsmCodec &codec();
    void takeSamples(const QList<qint16> &samples);

    std::shared_ptr<DeviceProvider> m_devices;
    std::unique_ptr<GsmCodec> m_codec;
    std::unique_ptr<AudioInputDevice> m_input;
    std::unique_ptr<AudioOutputDevice> m_output;
    std::deque<std::array<qint16, BlockSamples>> m_blocks;
    std::array<qint16, BlockSamples> m_partial{};
    int m_partialCount = 0;
    int m_volume = 100;
};
