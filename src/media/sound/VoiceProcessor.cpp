#include "media/sound/VoiceProcessor.h"

#include "media/sound/EchoReference.h"
#include "media/sound/SoundTimeline.h"
#include "media/sound/VoiceModule.h"

#include <array>

VoiceProcessor::VoiceProcessor(const EchoReference &reference, VoiceModule &module, int rate)
    : m_reference(reference)
    , m_rate(rate == 16000 ? 16000 : SoundTimeline::Rate)
    , m_frame(m_rate / 100)
    , m_processing(module.make(m_rate, m_problem))
{
    if (m_processing)
        m_problem.clear();
    else if (m_problem.isEmpty())
        m_problem = QStringLiteral("the voice processing module made no processor");
}

VoiceProcessor::~VoiceProcessor() = default;

void VoiceProcessor::setOptions(const Options &options)
{
    m_options = options;
    if (m_processing)
        m_processing->setOptions(options.echoCancellation, options.noiseSuppression, options.automaticLevel);
}

void VoiceProcessor::process(qint16 *samples, int count, qint64 position)
{
    if (!samples || !m_processing || !m_options.any())
        return;
    std::array<qint16, 160> far;
    for (int offset = 0; offset + m_frame <= count; offset += m_frame) {
        if (m_options.echoCancellation) {
            m_reference.read(position + offset, far.data(), m_frame);
            m_processing->far(far.data());
        }
        m_processing->near(samples + offset);
    }
}

int VoiceProcessor::echoDelayMs() const
{
    return m_processing && m_options.echoCancellation ? m_processing->echoDelayMs() : -1;
}
