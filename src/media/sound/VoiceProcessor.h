#pragma once

#include <QString>
#include <QtGlobal>

#include <memory>

class EchoReference;
class VoiceModule;
class VoiceProcessing;

// The microphone's sound made fit to send: the far end's echo taken out, steady noise
// suppressed and the level evened out, each on its own switch. The work is the voice
// processing module's (webrtc-audio-processing), on 10 ms frames at 8000 or 16000 Hz; the
// echo canceller compares each frame with what the speaker played at the same place on the
// sound timeline, and finds the rest of the delay between playing and hearing itself.
// Without the module the sound goes through as it came, and problem() says why.
class VoiceProcessor
{
public:
    // Samples in a frame at 8000 Hz.
    static constexpr int FrameSamples = 80;

    struct Options
    {
        bool echoCancellation = false;
        bool noiseSuppression = false;
        bool automaticLevel = false;
        bool any() const { return echoCancellation || noiseSuppression || automaticLevel; }
        bool operator==(const Options &) const = default;
    };

    // The reference and the samples processed are at `rate` a second (8000 or 16000); the
    // processing is made by `module`.
    VoiceProcessor(const EchoReference &reference, VoiceModule &module, int rate = 8000);
    ~VoiceProcessor();
    VoiceProcessor(const VoiceProcessor &) = delete;
    VoiceProcessor &operator=(const VoiceProcessor &) = delete;

    void setOptions(const Options &options);
    const Options &options() const { return m_options; }
    int rate() const { return m_rate; }

    // Why the sound is not processed (the module could not be had); empty while it is.
    QString problem() const { return m_problem; }

    // Processes whole frames of `count` samples in place (a last partial frame is left as
    // it is); `position` is where the first sample was recorded on the sound timeline.
    void process(qint16 *samples, int count, qint64 position);

    // The delay between playing and hearing the echo canceller works with beyond the
    // speaker's own queue, in milliseconds (its median over the last second); -1 while it
    // has no estimate.
    int echoDelayMs() const;

private:
    const EchoReference &m_reference;
    int m_rate;
    int m_frame;
    Options m_options;
    QString m_problem; // before m_processing, which the module's reason is written in while it is made
    std::unique_ptr<VoiceProcessing> m_processing;
};
