#pragma once

#include <QByteArray>

// Joins a VP8 frame sent in parts (see CodedMediaPacket::buildVp8Frame). A frame that
// would grow past CodedMediaPacket::MaxFrameBytes is given up, its parts are dropped as
// they come, and its last part gives nothing: memory stays bounded whatever the peer sends.
class CodedFrameParts
{
public:
    // A leading part.
    void addPart(const QByteArray &part);
    // The last part: the whole frame, or empty when it was given up.
    QByteArray finish(const QByteArray &last);
    // Bytes held for the frame under way.
    qsizetype held() const { return m_frame.size(); }
    void reset();

private:
    QByteArray m_frame;
    bool m_givenUp = false;
};
