#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

// Says whether a whole VP8 frame that came out of the depayloader can be decoded: whether
// every frame it refers to was decoded before it. The sender codes every other frame as one
// no later frame refers to and numbers the others (the payload descriptor's TL0PICIDX and
// TID), so a lost frame of that kind costs only itself; after the loss of any other frame,
// nothing is decodable until a key frame. A stream without those numbers falls back on its
// picture IDs: any frame missing from them breaks the chain.
class FrameReferenceCheck
{
public:
    // The VP8 payload descriptor's fields that matter here; -1 for one the packet leaves out.
    struct Descriptor
    {
        bool frameStart = false;
        int pictureId = -1;
        // Picture IDs are 7 or 15 bits wide, as the sender chose.
        int pictureIdBits = 0;
        int baseIndex = -1;
        int layer = -1;
    };
    // The descriptor at the start of a VP8 RTP payload; nothing when the payload is too
    // short for what its first bytes announce.
    static std::optional<Descriptor> parse(const uint8_t *payload, size_t size);

    // The frame whose first packet carried `first` is complete. True when it can be decoded;
    // false when a frame it refers to is missing, until the next key frame.
    bool take(const Descriptor &first, bool keyFrame);

private:
    bool m_intact = false;
    int m_lastBaseIndex = -1;
    int m_lastPictureId = -1;
};
