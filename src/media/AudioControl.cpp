#include "media/AudioControl.h"

#include "core/ProgramState.h"
#include "media/AudioBlock.h"
#include "media/AudioSendQueue.h"
#include "media/engine/AudioEngine.h"

#include <algorithm>
#include <array>

namespace {

// 1600 bytes of samples: room for one 80 ms block and then some.
constexpr int SampleBufferSamples = 800;

} // namespace

AudioControl::AudioControl(ProgramState &state, AudioEngine &engine, AudioSendQueue &queue, QObject *parent)
    : QObject(parent)
    , m_state(state)
    , m_engine(engine)
    , m_queue(queue)
{
}

QString AudioControl::inCallText()
{
    return QStringLiteral("You cannot test the audio while being connected to another user.");
}

bool AudioControl::inCall() const
{
    return m_state.callState == CallState::InCall;
}

bool AudioControl::openMicrophone()
{
    if (m_engine.initAudioIn() != 0) {
        // A card that cannot record while it plays: give up the speaker and try again.
        m_engine.closeAudioOut();
        m_state.speakerState = 1;
        if (m_engine.initAudioIn() != 0)
            return false;
    }
    m_state.micState = 2;
    emit micLampChanged(true);
    return true;
}

void AudioControl::closeMicrophone()
{
    m_engine.closeAudioIn();
    m_state.micState = 1;
    m_testRecording = false;
    emit micLampChanged(false);
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
    if (!m_queue.hasWaiting() || m_state.speakerState == 3)
        return;
    if (m_engine.initAudioOut() == 0)
        m_state.speakerState = 3;
    std::array<qint16, SampleBufferSamples> samples{};
    while (m_queue.hasWaiting()) {
        const AudioBlock &block = m_queue.front();
        const int count = std::clamp<qint32>(block.count, 0, AudioBlock::DataBytes);
        const int decoded = m_engine.unCompressAudioGSM(block.data.data(), count, samples.data(), SampleBufferSamples);
        if (m_engine.setAudioOut(samples.data(), decoded) != 0)
            m_state.speakerState = 1;
        m_queue.pop();
    }
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
    if (n > 0) {
        std::array<uchar, AudioBlock::DataBytes> gsm{};
        const int count = m_engine.compressAudioGSM(samples.data(), n, m_state.audioQuality, gsm.data(),
                                                    AudioBlock::DataBytes);
        // A block that could not be coded would go out as an empty packet; it is left out.
        if (count > 0) {
            m_queue.record(QByteArrayView(gsm.data(), count));
            taken = true;
        }
    }
    if (!inCall() && !m_queue.hold())
        m_queue.reset();
    if (m_queue.hold() && !m_state.messageRecording)
        emit recordProgress(m_queue.audioRecordIndex());
    return taken;
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
    m_state.audioQuality = qint16(quality == 1 ? 1 : 0);
}
