#pragma once

#include <QtGlobal>

// Positions on one clock shared by the speaker and the microphone, counted in samples at
// the engine's rate (8000 Hz unless said otherwise) since an arbitrary start: what was
// played at position p is heard by the microphone at p plus the echo path's delay.
namespace SoundTimeline {

constexpr int Rate = 8000;

// The position now, from the monotonic clock, in samples at `rate`.
qint64 now(int rate = Rate);

} // namespace SoundTimeline
