#pragma once

#include <QtGlobal>

#include <vector>

// What the speaker plays, placed on the sound timeline at the positions it is heard: the
// far end's sound the echo canceller looks for in the microphone's. It keeps the last
// Capacity samples; a position nothing was played at, or one older than that, reads as
// silence.
class EchoReference
{
public:
    static constexpr int Capacity = 1 << 16; // about 4 seconds at 16000 Hz

    // `count` samples heard from `position` on. Playing over a stretch already placed
    // replaces it.
    void place(const qint16 *samples, int count, qint64 position);
    // The samples heard from `position` on, silence where none were placed.
    void read(qint64 position, qint16 *out, int count) const;
    void clear();

    // One past the last position placed (0 before anything was).
    qint64 end() const { return m_end; }

private:
    // Empty until the speaker first plays: most of a program's life has no far end.
    std::vector<qint16> m_ring;
    qint64 m_end = 0;
};
