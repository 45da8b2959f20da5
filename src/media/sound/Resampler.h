#pragma once

#include <vector>

// Streaming sample-rate conversion of one mono channel. Lowering the rate averages the
// input over each output period (which also keeps frequencies above the new Nyquist
// limit from folding back); raising it interpolates linearly. State carries across
// calls, so a stream can be fed in chunks of any size.
class Resampler
{
public:
    Resampler(int inputRate, int outputRate);

    void process(const float *input, int count, std::vector<float> &output);
    void reset();

    int inputRate() const { return m_inputRate; }
    int outputRate() const { return m_outputRate; }

private:
    int m_inputRate;
    int m_outputRate;
    double m_step; // input samples per output sample
    // Lowering: the weighted sum and weight gathered for the output sample being built.
    double m_sum = 0.0;
    double m_weight = 0.0;
    // Raising: the previous input sample and the position between it and the next.
    float m_previous = 0.0f;
    double m_position = 0.0;
};
