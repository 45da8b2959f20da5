#pragma once

#include <QtGlobal>

// Where the next sample of a continuous sound stream (the microphone's, the speaker's)
// falls on the sound timeline. Each chunk comes with the clock's estimate of its place,
// and that estimate jitters by tens of milliseconds: the process runs late under load, a
// device reports its buffer in steps. Following every estimate would move the stream back
// and forth, and each move makes the echo canceller learn the way again. So the position
// advances by the samples that went, and moves to the clock's word only once that has
// disagreed by more than `slack`, the same way, for `patience` samples in a row: a stall,
// a device that ran dry and started again, or clocks that drifted apart.
class StreamPosition
{
public:
    StreamPosition(qint64 slack, qint64 patience);

    // The place of a chunk of `count` samples the clock puts at `estimate`; the stream
    // then moves past it.
    qint64 take(qint64 estimate, qint64 count);
    // The next chunk starts the stream again where the clock puts it.
    void reset();

private:
    qint64 m_slack;
    qint64 m_patience;
    qint64 m_next = -1;
    // Samples taken since the clock began to disagree, and the smallest of its
    // disagreements meanwhile: the least move that follows it.
    qint64 m_offFor = 0;
    qint64 m_leastOff = 0;
};
