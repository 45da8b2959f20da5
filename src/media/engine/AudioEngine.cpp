#include "media/engine/AudioEngine.h"

#include "media/engine/AudioInputDevice.h"
#include "media/engine/AudioOutputDevice.h"
#include "media/engine/DeviceProvider.h"
#include "media/engine/GsmCodec.h"

#include <QAudio>

#include <algorithm>
#include <cstring>

AudioEngine::AudioEngine(std::shared_ptr<DeviceProvider> devices, QObject *parent)
    : QObject(parent)
    , m_devices(std::move(devices))
{
}

AudioEngine::~AudioEngine()
{
    closeAudioIn();
    closeAudioOut();
}

GsmCodec &AudioEngine::codec()
{
    if (!m_codec)
        m_codec = std::make_unique<GsmCodec>();
    return *m_codec;
}

void AudioEngine::startGSM()
{
    codec();
}

void AudioEngine::stopGSM()
{
    m_codec.reset();
}

bool AudioEngine::hasAudio() const
{
    return m_devices && m_devices->hasAudioInput() && m_devices->hasAudioOutput();
}

int AudioEngine::initAudioIn()
{
    if (m_input)
        return 0;
    if (!m_devices)
        return 1;
    std::unique_ptr<AudioInputDevice> input = m_devices->openAudioInput();
    if (!input)
        return 1;
    connect(input.get(), &AudioInputDevice::samplesCaptured, this, &AudioEngine::takeSamples);
    connect(input.get(), &AudioInputDevice::failed, this, [this](const QString &reason) {
        // Closing destroys the device whose signal this is; do it once the signal returns.
        QMetaObject::invokeMethod(this, &AudioEngine::closeAudioIn, Qt::QueuedConnection);
        emit deviceFailed(reason);
    });
    m_blocks.clear();
    m_partialCount = 0;
    if (!input->start())
        return 2;
    m_input = std::move(input);
    return 0;
}

int AudioEngine::initAudioOut()
{
    if (m_output)
        return 0;
    if (!m_devices)
        return 1;
    std::unique_ptr<AudioOutputDevice> output = m_devices->openAudioOutput();
    if (!output)
        return 1;
    output->setVolume(QAudio::convertVolume(m_volume / 100.0, QAudio::LogarithmicVolumeScale,
                                            QAudio::LinearVolumeScale));
    if (!output->start())
        return 2;
    connect(output.get(), &AudioOutputDevice::failed, this, [this](const QString &reason) {
        QMetaObject::invokeMethod(this, &AudioEngine::closeAudioOut, Qt::QueuedConnection);
        emit deviceFailed(reason);
    });
    m_output = std::move(output);
    return 0;
}

void AudioEngine::closeAudioIn()
{
    if (m_input) {
        m_input->disconnect(this);
        m_input->stop();
        m_input.reset();
    }
    m_blocks.clear();
    m_partialCount = 0;
}

void AudioEngine::closeAudioOut()
{
    if (m_output) {
        m_output->disconnect(this);
        m_output->stop();
        m_output.reset();
    }
}

void AudioEngine::takeSamples(const QList<qint16> &samples)
{
    qsizetype i = 0;
    while (i < samples.size()) {
        const int take = int(std::min<qsizetype>(BlockSamples - m_partialCount, samples.size() - i));
        std::copy_n(samples.constData() + i, take, m_partial.data() + m_partialCount);
        m_partialCount += take;
        i += take;
        if (m_partialCount == BlockSamples) {
            m_blocks.push_back(m_partial);
            m_partialCount = 0;
            // Nobody reads: keep the newest blocks only.
            while (m_blocks.size() > size_t(MaxInputBlocks))
                m_blocks.pop_front();
        }
    }
}

int AudioEngine::statusAudioIn() const
{
    return m_input ? int(m_blocks.size()) : 0;
}

int AudioEngine::getAudioIn(qint16 *buffer, int capacity)
{
    if (!m_input || m_blocks.empty() || !buffer || capacity < BlockSamples)
        return 0;
    std::copy(m_blocks.front().begin(), m_blocks.front().end(), buffer);
    m_blocks.pop_front();
    return BlockSamples;
}

int AudioEngine::compressAudioGSM(const qint16 *samples, int count, int quality, uchar *out, int capacity)
{
    if (!samples || count <= 0 || !out || capacity <= 0)
        return 0;
    return codec().compress(samples, count, quality, out, capacity);
}

int AudioEngine::unCompressAudioGSM(const uchar *gsm, int count, qint16 *samples, int capacity)
{
    if (!gsm || count <= 0 || !samples || capacity <= 0)
        return 0;
    return codec().uncompress(gsm, count, samples, capacity);
}

int AudioEngine::setAudioOut(const qint16 *samples, int count)
{
    if (!m_output || count < 0 || (count > 0 && !samples))
        return 1;
    if (count == 0)
        return 0;
    if (qint64(m_output->pendingSamples()) + count > MaxPendingOutput)
        return 2;
    m_output->write(samples, count);
    return 0;
}

int AudioEngine::statusAudioOut() const
{
    return m_output ? m_output->pendingSamples() : 0;
}

void AudioEngine::setVolumeOut(int volume)
{
    m_volume = std::clamp(volume, 0, 100);
    if (m_output) {
        m_output->setVolume(QAudio::convertVolume(m_volume / 100.0, QAudio::LogarithmicVolumeScale,
                                                  QAudio::LinearVolumeScale));
    }
}
