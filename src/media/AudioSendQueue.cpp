#include "media/AudioSendQueue.h"

void AudioSendQueue::record(QByteArrayView gsm)
{
    m_blocks[m_recordIndex - 1].store(gsm);
    ++m_recordIndex;
    if (m_recordIndex > Entries)
        m_recordIndex = m_hold ? Entries : 1;
}

void AudioSendQueue::pop()
{
    m_sendIndex = m_sendIndex >= Entries ? 1 : m_sendIndex + 1;
}

void AudioSendQueue::reset()
{
    m_recordIndex = 1;
    m_sendIndex = 1;
}
