#pragma once

#include "media/AudioBlock.h"

#include <array>

// Received sound waiting for the speaker: entries 1 to audioPlayCount are filled. When all
// 60 are, a newer block overwrites entry 60 rather than growing the queue.
class AudioPlayQueue
{
public:
    static constexpr int Entries = 60;

    // Stores decoded samples (cut to AudioBlock::DataBytes) as the next entry.
    void push(QByteArrayView samples);
    int audioPlayCount() const { return m_count; }
    // Entry 1 to audioPlayCount().
    const AudioBlock &block(int index) const { return m_blocks[std::clamp(index, 1, Entries) - 1]; }
    void clear() { m_count = 0; }

private:
    std::array<AudioBlock, Entries> m_blocks;
    int m_count = 0;
};
