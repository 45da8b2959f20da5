#pragma once

#include "media/sound/Resampler.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QByteArray>
#include <QList>

// Converts between a sound device's own format (any rate, channel count and sample
// format) and the engine's mono 16-bit samples (8000 Hz, or the rate given), both ways.
class SampleConverter
{
public:
    static constexpr int SpeechRate = 8000;
    static QAudioFormat speechFormat(int rate = SpeechRate);
    // The format to open a device with: speech format when the device takes it, else the
    // device's own; invalid when the device has none.
    static QAudioFormat formatFor(const QAudioDevice &device, int rate = SpeechRate);

    explicit SampleConverter(const QAudioFormat &deviceFormat, int rate = SpeechRate);

    // Device bytes to mono samples at the engine's rate, appended to out. A partial frame
    // at the end is kept for the next call.
    void fromDevice(const char *data, qint64 size, QList<qint16> &out);
    // Mono samples at the engine's rate to device bytes, appended to out.
    void toDevice(const qint16 *samples, int count, QByteArray &out);
    void reset();

    const QAudioFormat &deviceFormat() const { return m_format; }
    // Bytes of device data per engine sample (fractional when the rates differ).
    double deviceBytesPerSpeechSample() const;
    // The engine's side: samples a second.
    int rate() const { return m_rate; }

private:
    QAudioFormat m_format;
    int m_rate;
    int m_channels;
    int m_bytesPerSample;
    QByteArray m_partial;
    Resampler m_down;
    Resampler m_up;
    std::vector<float> m_mono;
    std::vector<float> m_resampled;
};
