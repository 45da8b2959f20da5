#pragma once

#include "media/engine/AudioInputDevice.h"

#include <QElapsedTimer>
#include <QTimer>

// A microphone without hardware: every 80 ms it delivers the samples that real time has
// made due, of either a steady tone or a speech-like signal (a voiced sound with a
// wandering pitch, shaped into syllables and pauses).
class TestMicrophone : public AudioInputDevice
{
    Q_OBJECT

public:
    enum Signal { Tone, Speech };

    explicit TestMicrophone(Signal signal = Speech, double toneHz = 440.0, QObject *parent = nullptr);

    bool start() override;
    void stop() override;
    bool isActive() const { return m_timer.isActive(); }
    qint64 samplesDelivered() const { return m_produced; }

    // Sample n of the signal, for comparison by tests.
    qint16 sampleAt(qint64 n) const;

private:
    void tick();

    Signal m_signal;
    double m_toneHz;
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_produced = 0;
};
