#pragma once

#include "media/sound/AudioOutputDevice.h"
#include "media/sound/QtAudioStream.h"

#include <QAudioDevice>
#include <QAudioSink>
#include <QByteArray>
#include <QElapsedTimer>
#include <QTimer>

// The machine's speaker through QAudioSink in push mode, fed from a queue by a short
// timer. Samples are converted to whatever format the device wants.
class QtAudioOutput : public AudioOutputDevice
{
    Q_OBJECT

public:
    QtAudioOutput(const QAudioDevice &device, int rate, QObject *parent = nullptr);
    ~QtAudioOutput() override;

    bool start() override;
    void stop() override;
    void write(const qint16 *samples, int count) override;
    int pendingSamples() const override;
    int delaySamples() const override;
    void setVolume(qreal volume) override;

    QAudioFormat deviceFormat() const;
    qreal volume() const { return m_volume; }

private:
    void feed();
    // Writes what the device takes of `bytes` and removes it from them; the bytes written.
    qint64 writeToDevice(QByteArray &bytes);

    QAudioDevice m_device;
    int m_rate;
    QtAudioStream<QAudioSink> m_sink{this};
    QByteArray m_queue;
    QTimer m_feedTimer;
    QElapsedTimer m_clock;
    // Clock time at which everything handed to the device so far will have been heard.
    qint64 m_playEndMs = 0;
    // The same for the sound written, without the silence that keeps the device playing.
    qint64 m_realEndMs = 0;
    // When sound was last written (-1: not since start).
    qint64 m_lastSoundMs = -1;
    qreal m_volume = 1.0;
};
