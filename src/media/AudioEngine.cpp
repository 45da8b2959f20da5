#include "media/AudioEngine.h"

#include "media/sound/AudioInputDevice.h"
#include "media/sound/AudioOutputDevice.h"
#include "media/devices/DeviceProvider.h"
#include "media/sound/GsmCodec.h"
#include "media/sound/SoundTimeline.h"

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
    blockSignals(true);
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

namespace {


bool listed(const QList<DeviceProvider::SoundDevice> &devices, const QByteArray &id)
{
    return std::any_of(devices.begin(), devices.end(), [&id](const auto &d) { return d.id == id; });
}

} // namespace

std::unique_ptr<AudioInputDevice> AudioEngine::openInput()
{
    const bool chosen = !m_inputChoice.isEmpty() && listed(m_devices->audioInputs(), m_inputChoice);
    m_inputOpened = chosen ? m_inputChoice : m_devices->defaultAudioInput();
    return m_devices->openAudioInput(chosen ? m_inputChoice : QByteArray(), m_rate);
}

std::unique_ptr<AudioOutputDevice> AudioEngine::openOutput()
{
    const bool chosen = !m_outputChoice.isEmpty() && listed(m_devices->audioOutputs(), m_outputChoice);
    m_outputOpened = chosen ? m_outputChoice : m_devices->defaultAudioOutput();
    return m_devices->openAudioOutput(chosen ? m_outputChoice : QByteArray(), m_rate);
}

int AudioEngine::initAudioIn()
{
    if (m_input)
        return 0;
    if (!m_devices)
        return 1;
    std::unique_ptr<AudioInputDevice> input = openInput();
    if (!input)
        return 1;
    AudioInputDevice *device = input.get();
    connect(device, &AudioInputDevice::samplesCaptured, this, &AudioEngine::takeSamples);
    connect(device, &AudioInputDevice::failed, this, [this, device](const QString &reason) {
        // Closing destroys the device whose signal this is; do it once the signal returns.
        QMetaObject::invokeMethod(
            this,
            [this, device, reason] {
                if (m_input.get() == device)
                    inputFailed(reason);
            },
            Qt::QueuedConnection);
    });
    m_partialCount = 0;
    m_recordPosition.reset();
    m_meter.reset();
    if (!input->start())
        return 2;
    m_input = std::move(input);
    m_inputLost = false;
    return 0;
}

int AudioEngine::initAudioOut()
{
    if (m_output)
        return 0;
    if (!m_devices)
        return 1;
    std::unique_ptr<AudioOutputDevice> output = openOutput();
    if (!output)
        return 1;
    output->setVolume(QAudio::convertVolume(m_volume / 100.0, QAudio::LogarithmicVolumeScale,
                                            QAudio::LinearVolumeScale));
    if (!output->start())
        return 2;
    AudioOutputDevice *device = output.get();
    connect(device, &AudioOutputDevice::failed, this, [this, device](const QString &reason) {
        QMetaObject::invokeMethod(
            this,
            [this, device, reason] {
                if (m_output.get() == device)
                    outputFailed(reason);
            },
            Qt::QueuedConnection);
    });
    m_output = std::move(output);
    m_outputLost = false;
    m_playPosition.reset();
    return 0;
}

// A device is taken out of the engine before it is stopped: stopping runs the event loop,
// and what runs there may close or reopen this direction meanwhile.
void AudioEngine::stopInput()
{
    if (std::unique_ptr<AudioInputDevice> input = std::move(m_input)) {
        input->disconnect(this);
        input->stop();
    }
}

void AudioEngine::stopOutput()
{
    if (std::unique_ptr<AudioOutputDevice> output = std::move(m_output)) {
        output->disconnect(this);
        output->stop();
    }
}

void AudioEngine::inputFailed(const QString &reason)
{
    stopInput();
    m_inputLost = true;
    emit deviceFailed(reason);
}

void AudioEngine::outputFailed(const QString &reason)
{
    stopOutput();
    m_outputLost = true;
    emit deviceFailed(reason);
}

void AudioEngine::setAudioInDevice(const QByteArray &id)
{
    m_inputChoice = id;
    if (!m_devices || (!m_input && !m_inputLost))
        return;
    const bool chosen = !id.isEmpty() && listed(m_devices->audioInputs(), id);
    if (m_input && m_inputOpened == (chosen ? id : m_devices->defaultAudioInput()))
        return;
    // Blocks already recorded stay to be read; the new device's sound follows them.
    stopInput();
    m_inputLost = initAudioIn() != 0;
}

void AudioEngine::setAudioOutDevice(const QByteArray &id)
{
    m_outputChoice = id;
    if (!m_devices || (!m_output && !m_outputLost))
        return;
    const bool chosen = !id.isEmpty() && listed(m_devices->audioOutputs(), id);
    if (m_output && m_outputOpened == (chosen ? id : m_devices->defaultAudioOutput()))
        return;
    closeAudioOut();
    m_outputLost = initAudioOut() != 0;
}

void AudioEngine::setVoiceProcessing(const VoiceProcessor::Options &options)
{
    m_processing = options;
    if (!options.echoCancellation)
        m_reference.clear();
    // The processing is built with the first sound it works on: a program that only waits
    // for calls never sets up the echo canceller, and its start does not wait for it.
    if (!options.any())
        m_processor.reset();
    else if (m_processor)
        m_processor->setOptions(options);
}

void AudioEngine::setSampleRate(int rate)
{
    rate = rate == WideRate ? WideRate : SampleRate;
    if (rate == m_rate)
        return;
    const bool input = m_input != nullptr;
    const bool output = m_output != nullptr;
    stopInput();
    stopOutput();
    m_rate = rate;
    // Positions and the speaker's sound counted at the old rate mean nothing at the new.
    m_blocks.clear();
    m_partialCount = 0;
    m_reference.clear();
    m_recordPosition = recordPosition(m_rate);
    m_playPosition = playPosition(m_rate);
    m_processor.reset();
    // A device that failed to open again waits, as one that failed while open does.
    if (input)
        m_inputLost = initAudioIn() != 0;
    if (output)
        m_outputLost = initAudioOut() != 0;
}

void AudioEngine::closeAudioIn()
{
    stopInput();
    m_inputLost = false;
    m_blocks.clear();
    m_partialCount = 0;
    if (m_meter.level() != 0) {
        m_meter.reset();
        emit inputLevelChanged(0);
    }
}

void AudioEngine::closeAudioOut()
{
    stopOutput();
    m_outputLost = false;
}

void AudioEngine::takeSamples(const QList<qint16> &samples)
{
    if (samples.isEmpty())
        return;
    // The chunk has just been recorded: its first sample is its length before now.
    const qint64 start = m_recordPosition.take(SoundTimeline::now(m_rate) - samples.size(), samples.size());
    const int before = m_meter.level();
    if (m_meter.take(samples.constData(), int(samples.size()), m_rate) != before)
        emit inputLevelChanged(m_meter.level());

    const int block = blockSamples();
    qsizetype i = 0;
    while (i < samples.size()) {
        if (m_partialCount == 0)
            m_partial.position = start + i;
        const int take = int(std::min<qsizetype>(block - m_partialCount, samples.size() - i));
        std::copy_n(samples.constData() + i, take, m_partial.samples.data() + m_partialCount);
        m_partialCount += take;
        i += take;
        if (m_partialCount == block) {
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
    const int samples = blockSamples();
    if (!m_input || m_blocks.empty() || !buffer || capacity < samples)
        return 0;
    const Block &block = m_blocks.front();
    std::copy_n(block.samples.begin(), samples, buffer);
    if (m_processing.any() && !m_processor) {
        m_processor = std::make_unique<VoiceProcessor>(m_reference, m_voiceModule, m_rate);
        m_processor->setOptions(m_processing);
        if (!m_processor->problem().isEmpty() && !m_voiceProcessingFailureSaid) {
            m_voiceProcessingFailureSaid = true;
            emit voiceProcessingFailed(m_processor->problem());
        }
    }
    if (m_processor)
        m_processor->process(buffer, samples, block.position);
    m_blocks.pop_front();
    return samples;
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
    const int pending = m_output->pendingSamples();
    if (qint64(pending) + count > maxPendingOutput())
        return 2;
    // Heard once what waits before it has played.
    const qint64 heardAt = m_playPosition.take(SoundTimeline::now(m_rate) + m_output->delaySamples(), count);
    if (m_processing.echoCancellation)
        m_reference.place(samples, count, heardAt);
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
