#include "media/OutgoingTextQueue.h"

#include "core/Fields.h"

bool OutgoingTextQueue::push(const QByteArray &line)
{
    if (isFull())
        return false;
    m_lines[m_writeIndex - 1] = Fields::utf8Left(line, MaxLineBytes);
    m_writeIndex = next(m_writeIndex);
    return true;
}

QByteArray OutgoingTextQueue::front() const
{
    return isEmpty() ? QByteArray() : m_lines[m_readIndex - 1];
}

void OutgoingTextQueue::pop()
{
    if (isEmpty())
        return;
    m_lines[m_readIndex - 1].clear();
    m_readIndex = next(m_readIndex);
}

void OutgoingTextQueue::reset()
{
    for (QByteArray &line : m_lines)
        line.clear();
    m_writeIndex = 1;
    m_readIndex = 1;
}
