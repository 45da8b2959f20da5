#include "datagrams/FrameReferenceCheck.h"

std::optional<FrameReferenceCheck::Descriptor> FrameReferenceCheck::parse(const uint8_t *payload, size_t size)
{
    if (!payload || size < 1)
        return std::nullopt;
    Descriptor d;
    const uint8_t first = payload[0];
    d.frameStart = (first & 0x10) && (first & 0x07) == 0;
    if (!(first & 0x80))
        return d;
    if (size < 2)
        return std::nullopt;
    const uint8_t extensions = payload[1];
    size_t at = 2;
    if (extensions & 0x80) {
        if (size < at + 1)
            return std::nullopt;
        if (payload[at] & 0x80) {
            if (size < at + 2)
                return std::nullopt;
            d.pictureId = ((payload[at] & 0x7f) << 8) | payload[at + 1];
            d.pictureIdBits = 15;
            at += 2;
        } else {
            d.pictureId = payload[at];
            d.pictureIdBits = 7;
            at += 1;
        }
    }
    if (extensions & 0x40) {
        if (size < at + 1)
            return std::nullopt;
        d.baseIndex = payload[at];
        at += 1;
    }
    if (extensions & 0x30) {
        if (size < at + 1)
            return std::nullopt;
        // The layer's number is there only with the T bit; K alone carries a key index.
        if (extensions & 0x20)
            d.layer = payload[at] >> 6;
    }
    return d;
}

bool FrameReferenceCheck::take(const Descriptor &first, bool keyFrame)
{
    if (keyFrame) {
        m_intact = true;
        m_lastBaseIndex = first.baseIndex;
        m_lastPictureId = first.pictureId;
        return true;
    }
    if (!m_intact)
        return false;
    bool decodable = true;
    if (first.baseIndex >= 0 && first.layer >= 0 && m_lastBaseIndex >= 0) {
        // A base frame follows the last base frame; any other frame refers to it alone.
        const int expected = first.layer == 0 ? (m_lastBaseIndex + 1) & 0xff : m_lastBaseIndex;
        decodable = first.baseIndex == expected;
    } else if (first.pictureId >= 0 && m_lastPictureId >= 0) {
        const int mask = (1 << first.pictureIdBits) - 1;
        decodable = first.pictureId == ((m_lastPictureId + 1) & mask);
    }
    if (!decodable) {
        m_intact = false;
        return false;
    }
    // A frame without a layer counts as a base frame.
    if (first.layer <= 0)
        m_lastBaseIndex = first.baseIndex;
    m_lastPictureId = first.pictureId;
    return true;
}
