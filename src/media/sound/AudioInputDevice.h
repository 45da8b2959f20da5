#pragma once

#include <QList>
#include <QObject>

// A microphone. While started it delivers mono 16-bit samples at the rate it was opened
// with (8000 or 16000 Hz), in chunks of any length, as they are recorded.
class AudioInputDevice : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual bool start() = 0;
    virtual void stop() = 0;

signals:
    void samplesCaptured(const QList<qint16> &samples);
    void failed(const QString &reason);
};
