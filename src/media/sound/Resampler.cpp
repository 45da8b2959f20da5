#include "media/sound/Resampler.h"

#include <algorithm>

Resampler::Resampler(int inputRate, int outputRate)
    : m_inputRate(std::max(1, inputRate))
    , m_outputRate(std::max(1, outputRate))
    , m_step(double(m_inputRate) / double(m_outputRate))
{
}

void Resampler::reset()
{
    m_sum = 0.0;
    m_weight = 0.0;
    m_previous = 0.0f;
    m_position = 0.0;
}

void Resampler::process(const float *input, int count, std::vector<float> &output)
{
    if (!input || count <= 0)
        return;
    if (m_inputRate == m_outputRate) {
        output.insert(output.end(), input, input + count);
        return;
    }
    if (m_step > 1.0) {
        // Each input sample carries weight 1; an output sample is complete when m_step of
        // weight has been gathered, the last input sample possibly split between two.
        output.reserve(output.size() + size_t(count / m_step) + 1);
        for (int i = 0; i < count; ++i) {
            const double x = input[i];
            const double room = m_step - m_weight;
            if (room > 1.0) {
                m_sum += x;
                m_weight += 1.0;
            } else {
                m_sum += x * room;
                output.push_back(float(m_sum / m_step));
                m_sum = x * (1.0 - room);
                m_weight = 1.0 - room;
            }
        }
        return;
    }
    output.reserve(output.size() + size_t(count / m_step) + 1);
    for (int i = 0; i < count; ++i) {
        const float x = input[i];
        while (m_position < 1.0) {
            output.push_back(float(m_previous + (x - m_previous) * m_position));
            m_position += m_step;
        }
        m_position -= 1.0;
        m_previous = x;
    }
}
