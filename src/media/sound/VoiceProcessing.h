#pragma once

#include <QString>
#include <QtGlobal>

// The sound processing itself, frame by frame: what the module zelmo-voice.so implements
// (src/voiceprocessing), with the webrtc-audio-processing library. It is a plain C++
// interface so that the module shares no code with the program; VoiceProcessor in the
// program frames the sound and reads the echo's reference.
class VoiceProcessing
{
public:
    static constexpr int InterfaceVersion = 1;

    virtual ~VoiceProcessing() = default;

    virtual void setOptions(bool echoCancellation, bool noiseSuppression, bool automaticLevel) = 0;
    // What the speaker played where `near`'s frame was recorded, before that frame, while
    // the echo is cancelled: a frame of the rate's samples (10 ms).
    virtual void far(const qint16 *frame) = 0;
    // Processes one 10 ms frame in place; a frame the processing fails on is left as it was.
    virtual void near(qint16 *frame) = 0;
    // The delay the canceller found beyond the one placed, in ms; -1 while it has none.
    virtual int echoDelayMs() const = 0;
};

// The module's one export: a processor for 10 ms frames at `rate` (8000 or 16000) a second,
// or null with `why` said.
using VoiceProcessingMaker = VoiceProcessing *(*)(int version, int rate, QString &why);
inline constexpr char VoiceProcessingMakerName[] = "zelmo_make_voice_processing";
