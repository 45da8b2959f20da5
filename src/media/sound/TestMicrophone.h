#pragma once

#include "media/sound/AudioInputDevice.h"

#include <QElapsedTimer>
#include <QTimer>

#include <memory>
#include <vector>

// A microphone without hardware: every 80 ms it delivers the samples that real time has
// made due, at the rate it was opened with, of either a steady tone, a speech-like signal
// (a voiced sound with a wandering pitch, shaped into syllables and pauses) or a
// recording played in a loop. A tone the rate cannot carry is silence, as a real device's
// filter before its converter makes it.
class TestMicrophone : public AudioInputDevice
{
    Q_OBJECT

public:
    enum Signal { Tone, Speech };

    explicit TestMicrophone(Signal signal = Speech, double toneHz = 440.0, int rate = 8000, QObject *parent = nullptr);
    // Plays these 8 kHz samples over and over instead of the signal (each held for as many
    // samples as the microphone's rate makes of it).
    void setRecording(std::shared_ptr<const std::vector<qint16>> recording);

    bool start() override;
    void stop() override;
    bool isActive() const { return m_timer.isActive(); }
    qint64 samplesDelivered() const { return m_produced; }

    // Sample n of the signal, for comparison by tests.
    qint16 sampleAt(qint64 n) const;

private:
    void tick();

    Signal m_signal;
    std::shared_ptr<const std::vector<qint16>> m_recording;
    double m_toneHz;
    int m_rate;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_produced = 0;
};
