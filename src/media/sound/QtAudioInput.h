#pragma once

#include "media/sound/AudioInputDevice.h"
#include "media/sound/QtAudioStream.h"

#include <QAudioDevice>
#include <QAudioSource>

// The machine's microphone through QAudioSource, asked for mono 16-bit at the engine's
// rate and converted from whatever the device delivers instead.
class QtAudioInput : public AudioInputDevice
{
    Q_OBJECT

public:
    QtAudioInput(const QAudioDevice &device, int rate, QObject *parent = nullptr);
    ~QtAudioInput() override;

    bool start() override;
    void stop() override;

    QAudioFormat deviceFormat() const;

private:
    void readAvailable();

    QAudioDevice m_device;
    int m_rate;
    QtAudioStream<QAudioSource> m_source{this};
};
