#include "media/AudioControl.h"

#include "core/CallStates.h"
#include "media/AudioBlock.h"
#include "media/AudioSendQueue.h"
#include "media/sound/OpusVoiceEncoder.h"
#include "media/AudioEngine.h"
#include "media/sound/Resampler.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// Room for one 80 ms block at the wide rate.
constexpr int SampleBufferSamples = AudioEngine::MaxBlockSamples;

std::vector<qint16> rounded(const std::vector<float> &samples)
{
    std::vector<qint16> out(samples.size());
    for (size_t i = 0; i < samples.size(); ++i)
        out[i] = qint16(std::clamp(std::lround(samples[i]), -32768L, 32767L));
    return out;
}

} // namespace

AudioControl::AudioControl(const CallStatus &call, AudioEngine &engine, AudioSendQueue &queue, QObject *parent)
    : QObject(parent)
    , m_call(call)
    , m_engine(engine)
    , m_queue(queue)
{
}

AudioControl::~AudioControl() = default;

void AudioControl::setOpusCoding(bool on)
{
    m_opusOn = on;
    m_opus.reset();
    m_upsampler.reset();
    m_wide.clear();
    m_engine.setSampleRate(on ? AudioEngine::WideRate : AudioEngine::SampleRate);
    if (!on)
        return;
    m_opus = std::make_unique<OpusVoiceEncoder>();
    m_upsampler = std::make_unique<Resampler>(m_engine.sampleRate(), OpusVoiceEncoder::SampleRate);
}

void AudioControl::setExpectedLoss(int percent)
{
    if (m_opus)
        m_opus->setPacketLossPercent(percent);
}

QByteArray AudioControl::codeOpus(const qint16 *samples, int count)
{
    if (!m_opus || !m_opus->isValid() || !m_upsampler)
        return {};
    std::vector<float> recorded(samples, samples + count);
    m_raised.clear();
    m_upsampler->process(recorded.data(), count, m_raised);
    const std::vector<qint16> raised = rounded(m_raised);
    m_wide.insert(m_wide.end(), raised.begin(), raised.end());
    const int frames = std::min<int>(int(m_wide.size()) / OpusVoiceEncoder::FrameSamples, OpusVoiceEncoder::MaxFrames);
    if (frames <= 0)
        return {};
    const int n = frames * OpusVoiceEncoder::FrameSamples;
    const QByteArray packet = m_opus->encode(m_wide.data(), n);
    m_wide.erase(m_wide.begin(), m_wide.begin() + n);
    // What cannot be coded in time is let go rather than held ever longer.
    if (m_wide.size() > size_t(OpusVoiceEncoder::FrameSamples * OpusVoiceEncoder::MaxFrames))
        m_wide.clear();
    return packet;
}

int AudioControl::codeGsm(const qint16 *samples, int count, uchar *out, int capacity)
{
    if (m_engine.sampleRate() == AudioEngine::SampleRate)
        return m_engine.compressAudioGSM(samples, count, m_quality, out, capacity);
    // A whole wide block makes a whole 8000 Hz block: no state carries between blocks.
    Resampler lower(m_engine.sampleRate(), AudioEngine::SampleRate);
    const std::vector<float> wide(samples, samples + count);
    std::vector<float> narrow;
    lower.process(wide.data(), count, narrow);
    const std::vector<qint16> block = rounded(narrow);
    return m_engine.compressAudioGSM(block.data(), int(block.size()), m_quality, out, capacity);
}

QString AudioControl::inCallText()
{
    return tr("You cannot test the audio while being connected to another user.");
}

bool AudioControl::inCall() const
{
    return m_call.callState == CallState::InCall;
}

void AudioControl::start()
{
    m_engine.startGSM();
    m_hasAudio = m_engine.hasAudio();
}

void AudioControl::shutdown()
{
    if (m_micOpen) {
        m_engine.closeAudioIn();
        setMicOpen(false);
    }
    m_engine.stopGSM();
}

void AudioControl::setMicOpen(bool open)
{
    m_micOpen = open;
    emit micChanged(open);
}

void AudioControl::setSpeakerPlaying(bool playing)
{
    if (playing == m_speakerPlaying && m_speakerAnnounced)
        return;
    m_speakerPlaying = playing;
    m_speakerAnnounced = true;
    emit speakerChanged(playing);
}

bool AudioControl::openMicrophone()
{
    if (m_engine.initAudioIn() != 0) {
        // A card that cannot record while it plays: give up the speaker and try again.
        m_engine.closeAudioOut();
        setSpeakerPlaying(false);
        if (m_engine.initAudioIn() != 0)
            return false;
    }
    setMicOpen(true);
    return true;
}

void AudioControl::closeMicrophone()
{
    m_engine.closeAudioIn();
    m_testRecording = false;
    setMicOpen(false);
}

void AudioControl::talkPressed(Qt::MouseButton button)
{
    if (button == Qt::LeftButton) {
        openMicrophone();
        setHeld(true);
    } else if (button == Qt::RightButton) {
        if (m_latched) {
            closeMicrophone();
            m_latched = false;
            setHeld(false);
        } else {
            openMicrophone();
            m_latched = true;
            setHeld(true);
        }
    }
}

void AudioControl::talkReleased(Qt::MouseButton button)
{
    if (button != Qt::LeftButton)
        return;
    // Releasing the left button ends talking, latched or not, so the button, the lamp and
    // the microphone agree.
    closeMicrophone();
    m_latched = false;
    setHeld(false);
}

void AudioControl::setHeld(bool held)
{
    m_held = held;
    emit talkButtonHeld(held);
}

void AudioControl::testRecord()
{
    m_queue.reset();
    if (inCall()) {
        emit errorMessage(inCallText());
        return;
    }
    m_queue.setHold(true);
    if (openMicrophone())
        m_testRecording = true;
}

void AudioControl::testStop()
{
    if (inCall()) {
        emit errorMessage(inCallText());
        return;
    }
    closeMicrophone();
}

void AudioControl::testPlay()
{
    if (inCall()) {
        emit errorMessage(inCallText());
        return;
    }
    if (!m_queue.hasWaiting() || m_speakerPlaying)
        return;
    QList<QByteArray> clip;
    while (m_queue.hasWaiting()) {
        clip.append(m_queue.front().bytes());
        m_queue.pop();
    }
    playClip(clip, AudioBlock::DataBytes);
    m_queue.rewind();
}

void AudioControl::testClosed()
{
    m_queue.setHold(false);
    if (m_testRecording)
        closeMicrophone();
}

bool AudioControl::captureStep()
{
    if (m_engine.statusAudioIn() <= 0)
        return false;
    std::array<qint16, SampleBufferSamples> samples{};
    const int n = m_engine.getAudioIn(samples.data(), SampleBufferSamples);
    bool taken = false;
    if (n > 0 && m_opusOn && inCall() && !m_queue.hold() && !m_messageRecording) {
        const QByteArray packet = codeOpus(samples.data(), n);
        if (!packet.isEmpty()) {
            m_queue.record(packet);
            taken = true;
        }
    } else if (n > 0) {
        std::array<uchar, AudioBlock::DataBytes> gsm{};
        const int count = codeGsm(samples.data(), n, gsm.data(), AudioBlock::DataBytes);
        // A block that could not be coded would go out as an empty packet; it is left out.
        if (count > 0) {
            m_queue.record(QByteArrayView(gsm.data(), count));
            taken = true;
        }
    }
    if (!inCall() && !m_queue.hold())
        m_queue.reset();
    if (m_queue.hold() && !m_messageRecording)
        emit recordProgress(m_queue.audioRecordIndex());
    return taken;
}

bool AudioControl::startSpeaker()
{
    if (!m_speakerPlaying && m_engine.initAudioOut() == 0)
        setSpeakerPlaying(true);
    return m_speakerPlaying;
}

void AudioControl::play(const qint16 *samples, int count)
{
    if (m_engine.setAudioOut(samples, count) != 0)
        setSpeakerPlaying(false);
}

void AudioControl::followSpeaker()
{
    setSpeakerPlaying(m_engine.statusAudioOut() > 0);
}

int AudioControl::speakerBacklog() const
{
    return m_engine.statusAudioOut();
}

bool AudioControl::playClip(const QList<QByteArray> &blocks, int maxBlockBytes)
{
    if (blocks.isEmpty() || m_speakerPlaying)
        return false;
    startSpeaker();
    std::array<qint16, SampleBufferSamples> samples{};
    // A clip is GSM at 8000 Hz; the speaker may be at the wide rate of a call.
    Resampler raise(AudioEngine::SampleRate, m_engine.sampleRate());
    for (const QByteArray &block : blocks) {
        const int count = int(std::min<qsizetype>(block.size(), maxBlockBytes));
        const int decoded = m_engine.unCompressAudioGSM(reinterpret_cast<const uchar *>(block.constData()), count,
                                                        samples.data(), SampleBufferSamples);
        if (m_engine.sampleRate() == AudioEngine::SampleRate || decoded <= 0) {
            play(samples.data(), decoded);
            continue;
        }
        const std::vector<float> narrow(samples.begin(), samples.begin() + decoded);
        std::vector<float> wide;
        raise.process(narrow.data(), decoded, wide);
        const std::vector<qint16> out = rounded(wide);
        play(out.data(), int(out.size()));
    }
    return true;
}

void AudioControl::stopClip()
{
    if (inCall() || !m_engine.isAudioOutOpen())
        return;
    m_engine.closeAudioOut();
    setSpeakerPlaying(false);
}

void AudioControl::setVolumeFromSlider(int slider)
{
    m_engine.setVolumeOut(slider * 10);
}

int AudioControl::sliderFromVolume(int volume)
{
    return volume / 10;
}

int AudioControl::sliderValue() const
{
    return sliderFromVolume(m_engine.getVolumeOut());
}

void AudioControl::setQuality(int quality)
{
    m_quality = quality == 1 ? 1 : 0;
}
