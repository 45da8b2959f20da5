#include "media/sound/VoiceProcessor.h"

#include "media/sound/EchoReference.h"
#include "media/sound/SoundTimeline.h"

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

VoiceProcessor::VoiceProcessor(const EchoReference &reference, int rate)
    : m_reference(reference)
    , m_rate(rate == 16000 ? 16000 : SoundTimeline::Rate)
    , m_frame(m_rate / 100)
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

VoiceProcessor::~VoiceProcessor() = default;

void VoiceProcessor::setOptions(const Options &options)
{
    m_options = options;
    m_apm->echo_cancellation()->Enable(options.echoCancellation);
    m_apm->noise_suppression()->Enable(options.noiseSuppression);
    // Hum and rumble go with the noise.
    m_apm->high_pass_filter()->Enable(options.noiseSuppression);
    m_apm->gain_control()->Enable(options.automaticLevel);
}

void VoiceProcessor::process(qint16 *samples, int count, qint64 position)
{
    if (!samples || !m_options.any())
        return;
    for (int offset = 0; offset + m_frame <= count; offset += m_frame) {
        if (m_options.echoCancellation) {
            prepare(*m_far, m_rate);
            m_reference.read(position + offset, m_far->data_, m_frame);
            m_apm->ProcessReverseStream(m_far.get());
            // Where the far end's sound is heard is placed on the timeline already; the
            // canceller finds the rest of the delay itself.
            m_apm->set_stream_delay_ms(0);
        }
        prepare(*m_near, m_rate);
        std::copy_n(samples + offset, m_frame, m_near->data_);
        if (m_apm->ProcessStream(m_near.get()) == webrtc::AudioProcessing::kNoError)
            std::copy_n(m_near->data_, m_frame, samples + offset);
    }
}

int VoiceProcessor::echoDelayMs() const
{
    int median = -1;
    int deviation = -1;
    float poor = 0;
    if (!m_options.echoCancellation
        || m_apm->echo_cancellation()->GetDelayMetrics(&median, &deviation, &poor) != webrtc::AudioProcessing::kNoError)
        return -1;
    return median;
}
