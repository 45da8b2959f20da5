#include "media/sound/SampleConverter.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

float readSample(const char *p, QAudioFormat::SampleFormat format)
{
    switch (format) {
    case QAudioFormat::UInt8:
        return (float(quint8(*p)) - 128.0f) / 128.0f;
    case QAudioFormat::Int16: {
        qint16 v;
        std::memcpy(&v, p, sizeof v);
        return float(v) / 32768.0f;
    }
    case QAudioFormat::Int32: {
        qint32 v;
        std::memcpy(&v, p, sizeof v);
        return float(double(v) / 2147483648.0);
    }
    case QAudioFormat::Float: {
        float v;
        std::memcpy(&v, p, sizeof v);
        return std::isfinite(v) ? v : 0.0f;
    }
    default:
        return 0.0f;
    }
}

void writeSample(char *p, float v, QAudioFormat::SampleFormat format)
{
    v = std::clamp(v, -1.0f, 1.0f);
    switch (format) {
    case QAudioFormat::UInt8:
        *p = char(quint8(std::lround(v * 127.0f) + 128));
        break;
    case QAudioFormat::Int16: {
        const qint16 s = qint16(std::lround(std::clamp(v * 32768.0f, -32768.0f, 32767.0f)));
        std::memcpy(p, &s, sizeof s);
        break;
    }
    case QAudioFormat::Int32: {
        const qint32 s = qint32(std::clamp(std::llround(double(v) * 2147483648.0), -2147483648LL, 2147483647LL));
        std::memcpy(p, &s, sizeof s);
        break;
    }
    case QAudioFormat::Float:
        std::memcpy(p, &v, sizeof v);
        break;
    default:
        break;
    }
}

} // namespace

QAudioFormat SampleConverter::speechFormat(int rate)
{
    QAudioFormat format;
    format.setSampleRate(rate);
    format.setChannelCount(1);
    format.setSampleFormat(QAudioFormat::Int16);
    return format;
}

QAudioFormat SampleConverter::formatFor(const QAudioDevice &device, int rate)
{
    if (device.isNull())
        return {};
    const QAudioFormat speech = speechFormat(rate);
    return device.isFormatSupported(speech) ? speech : device.preferredFormat();
}

SampleConverter::SampleConverter(const QAudioFormat &deviceFormat, int rate)
    : m_format(deviceFormat)
    , m_rate(std::max(1, rate))
    , m_channels(std::max(1, deviceFormat.channelCount()))
    , m_bytesPerSample(std::max(1, deviceFormat.bytesPerSample()))
    , m_down(std::max(1, deviceFormat.sampleRate()), m_rate)
    , m_up(m_rate, std::max(1, deviceFormat.sampleRate()))
{
}

void SampleConverter::reset()
{
    m_partial.clear();
    m_down.reset();
    m_up.reset();
}

double SampleConverter::deviceBytesPerSpeechSample() const
{
    return double(m_channels * m_bytesPerSample) * double(m_up.outputRate()) / double(m_rate);
}

void SampleConverter::fromDevice(const char *data, qint64 size, QList<qint16> &out)
{
    if (!data || size <= 0)
        return;
    const int frameBytes = m_channels * m_bytesPerSample;
    QByteArray joined;
    const char *p = data;
    qint64 available = size;
    if (!m_partial.isEmpty()) {
        joined = m_partial + QByteArray(data, size);
        m_partial.clear();
        p = joined.constData();
        available = joined.size();
    }
    const qint64 frames = available / frameBytes;
    const qint64 rest = available - frames * frameBytes;
    if (rest > 0)
        m_partial = QByteArray(p + frames * frameBytes, rest);

    const auto sampleFormat = m_format.sampleFormat();
    m_mono.resize(size_t(frames));
    for (qint64 f = 0; f < frames; ++f) {
        const char *frame = p + f * frameBytes;
        float sum = 0.0f;
        for (int c = 0; c < m_channels; ++c)
            sum += readSample(frame + c * m_bytesPerSample, sampleFormat);
        m_mono[size_t(f)] = sum / float(m_channels);
    }
    m_resampled.clear();
    m_down.process(m_mono.data(), int(frames), m_resampled);
    out.reserve(out.size() + qsizetype(m_resampled.size()));
    for (float v : m_resampled)
        out.append(qint16(std::lround(std::clamp(v * 32768.0f, -32768.0f, 32767.0f))));
}

void SampleConverter::toDevice(const qint16 *samples, int count, QByteArray &out)
{
    if (!samples || count <= 0)
        return;
    m_mono.resize(size_t(count));
    for (int i = 0; i < count; ++i)
        m_mono[size_t(i)] = float(samples[i]) / 32768.0f;
    m_resampled.clear();
    m_up.process(m_mono.data(), count, m_resampled);

    const auto sampleFormat = m_format.sampleFormat();
    const int frameBytes = m_channels * m_bytesPerSample;
    const qsizetype start = out.size();
    out.resize(start + qsizetype(m_resampled.size()) * frameBytes);
    char *p = out.data() + start;
    for (float v : m_resampled) {
        for (int c = 0; c < m_channels; ++c)
            writeSample(p + c * m_bytesPerSample, v, sampleFormat);
        p += frameBytes;
    }
}
