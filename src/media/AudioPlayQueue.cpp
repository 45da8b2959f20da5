#include "media/AudioPlayQueue.h"

void AudioPlayQueue::push(QByteArrayView samples)
{
    m_count = std::min(m_count + 1, Entries);
    m_blocks[m_count - 1].store(samples);
}
