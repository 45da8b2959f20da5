#pragma once

#include "media/sound/AudioOutputDevice.h"

#include <QElapsedTimer>
#include <QList>

// A speaker without hardware. It "plays" what it is given in real time (so it reports
// pending audio until that much time has passed) and counts what it received; the most
// recent samples are kept for inspection.
class TestSpeaker : public AudioOutputDevice
{
    Q_OBJECT

public:
    static constexpr int KeptSamples = 16000 * 10;

    explicit TestSpeaker(int rate = 8000, QObject *parent = nullptr);

    bool start() override;
    void stop() override;
    void write(const qint16 *samples, int count) override;
    int pendingSamples() const override;
    void setVolume(qreal volume) override;

    bool isStarted() const { return m_started; }
    // Samples a second it plays.
    int rate() const { return m_rate; }
    qint64 samplesWritten() const { return m_samplesWritten; }
    int blocksWritten() const { return m_blocksWritten; }
    qreal volume() const { return m_volume; }
    // The last samples written, oldest first, at most KeptSamples.
    QList<qint16> recentSamples() const { return m_recent; }
    // The longest time it ran dry between two writes since it started or since
    // forgetGaps, in milliseconds: what a listener hears as a gap in the sound.
    qint64 longestGapMs() const { return m_longestGapMs; }
    void forgetGaps() { m_longestGapMs = 0; }

private:
    int m_rate;
    bool m_started = false;
    QElapsedTimer m_clock;
    qint64 m_playEndMs = 0;
    qint64 m_longestGapMs = 0;
    qint64 m_samplesWritten = 0;
    int m_blocksWritten = 0;
    qreal m_volume = 1.0;
    QList<qint16> m_recent;
};
