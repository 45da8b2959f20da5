#pragma once

#include "media/sound/VoiceProcessing.h"

#include <memory>

namespace webrtc {
class AudioFrame;
class AudioProcessing;
} // namespace webrtc

// The voice processing module's processor: the webrtc-audio-processing library's echo
// canceller, noise suppression and level control on mono 10 ms frames at 8000 or 16000 Hz
// (at 16000 the canceller still works on the whole band; above that it would split it).
class WebRtcVoiceProcessing : public VoiceProcessing
{
public:
    explicit WebRtcVoiceProcessing(int rate);
    ~WebRtcVoiceProcessing() override;

    void setOptions(bool echoCancellation, bool noiseSuppression, bool automaticLevel) override;
    void far(const qint16 *frame) override;
    void near(qint16 *frame) override;
    int echoDelayMs() const override;

private:
    int m_rate;
    bool m_echoCancellation = false;
    std::unique_ptr<webrtc::AudioProcessing> m_apm;
    std::unique_ptr<webrtc::AudioFrame> m_near;
    std::unique_ptr<webrtc::AudioFrame> m_far;
};
