#include "media/sound/SoundTimeline.h"

#include <chrono>

qint64 SoundTimeline::now(int rate)
{
    const auto since = std::chrono::steady_clock::now().time_since_epoch();
    return qint64(std::chrono::duration_cast<std::chrono::microseconds>(since).count() * rate / 1000000);
}
