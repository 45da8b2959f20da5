#include "voiceprocessing/WebRtcVoiceProcessing.h"

#include <webrtc/modules/audio_processing/include/audio_processing.h>
#include <webrtc/modules/interface/module_common_types.h>

#include <algorithm>

namespace {

void prepare(webrtc::AudioFrame &frame, int rate)
{
    frame.sample_rate_hz_ = rate;
    frame.num_channels_ = 1;
    frame.samples_per_channel_ = rate / 100;
}

} // namespace

WebRtcVoiceProcessing::WebRtcVoiceProcessing(int rate)
    : m_rate(rate)
    , m_near(std::make_unique<webrtc::AudioFrame>())
    , m_far(std::make_unique<webrtc::AudioFrame>())
{
    webrtc::Config config;
    // The speaker's sound reaches the microphone after delays no device reports exactly:
    // the canceller estimates them from the two signals, with its longer filter.
    config.Set<webrtc::ExtendedFilter>(new webrtc::ExtendedFilter(true));
    config.Set<webrtc::DelayAgnostic>(new webrtc::DelayAgnostic(true));
    // Without this the library puts its own level manager in front of the gain control:
    // it steers a microphone volume nobody applies, ignores the settings below, and on a
    // silent near side raises its gain by up to 12 dB, lifting what the canceller leaves
    // of the far end's voice (and the echo itself while the canceller learns).
    config.Set<webrtc::ExperimentalAgc>(new webrtc::ExperimentalAgc(false));
    m_apm.reset(webrtc::AudioProcessing::Create(config));
    m_apm->Initialize(m_rate, m_rate, m_rate, webrtc::AudioProcessing::kMono,
                      webrtc::AudioProcessing::kMono, webrtc::AudioProcessing::kMono);
    webrtc::EchoCancellation *aec = m_apm->echo_cancellation();
    aec->enable_drift_compensation(false);
    // Low keeps a voice talking over the far end's (push-to-talk latched on both sides).
    aec->set_suppression_level(webrtc::EchoCancellation::kLowSuppression);
    aec->enable_delay_logging(true);
    m_apm->noise_suppression()->set_level(webrtc::NoiseSuppression::kHigh);
    webrtc::GainControl *agc = m_apm->gain_control();
    agc->set_mode(webrtc::GainControl::kAdaptiveDigital);
    // A quiet voice is lifted by up to 6 dB: more lifts the noise and the echo the other two
    // leave just as much, and a voice held steady over noise comes out louder than it went in.
    agc->set_compression_gain_db(6);
    agc->enable_limiter(true);
    prepare(*m_near, m_rate);
    prepare(*m_far, m_rate);
}

WebRtcVoiceProcessing::~WebRtcVoiceProcessing() = default;

void WebRtcVoiceProcessing::setOptions(bool echoCancellation, bool noiseSuppression, bool automaticLevel)
{
    m_echoCancellation = echoCancellation;
    m_apm->echo_cancellation()->Enable(echoCancellation);
    m_apm->noise_suppression()->Enable(noiseSuppression);
    // Hum and rumble go with the noise.
    m_apm->high_pass_filter()->Enable(noiseSuppression);
    m_apm->gain_control()->Enable(automaticLevel);
}

void WebRtcVoiceProcessing::far(const qint16 *frame)
{
    prepare(*m_far, m_rate);
    std::copy_n(frame, m_rate / 100, m_far->data_);
    m_apm->ProcessReverseStream(m_far.get());
    // Where the far end's sound is heard is placed on the timeline already; the canceller
    // finds the rest of the delay itself.
    m_apm->set_stream_delay_ms(0);
}

void WebRtcVoiceProcessing::near(qint16 *frame)
{
    prepare(*m_near, m_rate);
    std::copy_n(frame, m_rate / 100, m_near->data_);
    if (m_apm->ProcessStream(m_near.get()) == webrtc::AudioProcessing::kNoError)
        std::copy_n(m_near->data_, m_rate / 100, frame);
}

int WebRtcVoiceProcessing::echoDelayMs() const
{
    int median = -1;
    int deviation = -1;
    float poor = 0;
    if (!m_echoCancellation
        || m_apm->echo_cancellation()->GetDelayMetrics(&median, &deviation, &poor) != webrtc::AudioProcessing::kNoError)
        return -1;
    return median;
}

extern "C" __attribute__((visibility("default"))) VoiceProcessing *zelmo_make_voice_processing(int version, int rate,
                                                                                                QString &why)
{
    if (version != VoiceProcessing::InterfaceVersion) {
        why = QStringLiteral("the voice processing module was built for interface version %1, the program asks for %2")
                  .arg(VoiceProcessing::InterfaceVersion)
                  .arg(version);
        return nullptr;
    }
    if (rate != 8000 && rate != 16000) {
        why = QStringLiteral("the voice processing works at 8000 or 16000 samples a second, not %1").arg(rate);
        return nullptr;
    }
    return new WebRtcVoiceProcessing(rate);
}
