#pragma once

#include <QObject>

// A speaker. Takes mono 16-bit samples at the rate it was opened with (8000 or 16000 Hz)
// and plays them in order, in real time.
class AudioOutputDevice : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool start() = 0;
    virtual void stop() = 0;
    // Queues samples behind those already waiting. The caller bounds how much it queues
    // by looking at pendingSamples().
    virtual void write(const qint16 *samples, int count) = 0;
    // Samples queued but not yet heard (0 when silent).
    virtual int pendingSamples() const = 0;
    // How many samples' time a sample written now waits before it is heard, as the
    // device reports it where it can.
    virtual int delaySamples() const { return pendingSamples(); }
    // 0.0 (silent) to 1.0 (full), on a linear scale.
    virtual void setVolume(qreal volume) = 0;

signals:
    void failed(const QString &reason);
};
