#include "media/CodedFrameParts.h"

#include "media/CodedMediaPacket.h"

void CodedFrameParts::addPart(const QByteArray &part)
{
    if (m_givenUp)
        return;
    if (m_frame.size() + part.size() >= CodedMediaPacket::MaxFrameBytes) {
        m_frame = QByteArray();
        m_givenUp = true;
        return;
    }
    m_frame += part;
}

QByteArray CodedFrameParts::finish(const QByteArray &last)
{
    QByteArray frame;
    if (!m_givenUp && m_frame.size() + last.size() <= CodedMediaPacket::MaxFrameBytes)
        frame = m_frame.isEmpty() ? last : m_frame + last;
    reset();
    return frame;
}

void CodedFrameParts::reset()
{
    m_frame = QByteArray();
    m_givenUp = false;
}
