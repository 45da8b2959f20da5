#pragma once

#include "media/engine/AudioInputDevice.h"
#include "media/engine/QtAudioStream.h"

#include <QAudioDevice>
#include <QAudioSource>

// The machine's microphone through QAudioSource, asked for 8 kHz mono 16-bit and
// converted from whatever the device delivers instead.
class QtAudioInput : public AudioInputDevice
{
    Q_OBJECT

public:
    explicit QtAudioInput(const QAudioDevice &device, QObject *parent = nullptr);
    ~QtAudioInput() override;

    bool start() override;
    void stop() override;

    QAudioFormat deviceFormat() const;

private:
    void readAvailable();

    QAudioDevice m_device;
    QtAudioStream<QAudioSource> m_source{this};
};
