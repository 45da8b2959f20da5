#include "media/AudioControl.h"

#include "core/CallStates.h"
#include "media/AudioBlock.h"
#include "media/AudioSendQueue.h"
#include "media/codec/OpusVoiceEncoder.h"
#include "media/engine/AudioEngine.h"
#include "media/engine/Resampler.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace {

// 1600 bytes of samples: room for one 80 ms block and then some.
constexpr int SampleBufferSamples = 800;

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
    if (!on)
        return;
    m_opus = std::make_unique<OpusVoiceEncoder>();
    m_upsampler = std::make_unique<Resampler>(AudioEngine::SampleRate, OpusVoiceEncoder::SampleRate);
}

QByteArray AudioControl::codeOpus(const qint16 *samples, int count)
{
    if (!m_opus || !m_opus->isValid() || !m_upsampler)
        return {};
    std::vector<float> narrow(samples, samples + count);
    m_raised.clear();
    m_upsampler->process(narrow.data(), count, m_raised);
    for (const float s : m_raised)
        m_wide.push_back(qint16(std::clamp(std::lround(s), -32768L, 32767L)));
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
        const int count = m_engine.compressAudioGSM(samples.data(), n, m_quality, gsm.data(),
                                                    AudioBlock::DataBytes);
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
    for (const QByteArray &block : blocks) {
        const int count = int(std::min<qsizetype>(block.size(), maxBlockBytes));
        const int decoded = m_engine.unCompressAudioGSM(reinterpret_cast<const uchar *>(block.constData()), count,
                                                        samples.data(), SampleBufferSamples);
        play(samples.data(), decoded);
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
