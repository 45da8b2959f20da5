#pragma once

#include <QByteArrayView>
#include <QImage>
#include <QSize>

#include <memory>

// Decodes a peer's VP8 frames into pictures ready to paint, converted once from the
// decoder's planes. A frame is looked at before the library decodes it: one that claims a
// size beyond MaxSize is refused, so memory and work stay bounded whatever arrives. After
// a frame that does not decode (or decodes damaged), frames that build on it are refused
// until the next key frame; keyFrameNeeded() says so, and the receiver asks the sender.
class Vp8Decoder
{
public:
    // A camera's picture, or a shared screen at its own size.
    static constexpr QSize MaxSize{1920, 1080};

    enum class Result {
        Picture,  // decoded: picture() is the new one
        Nothing,  // decoded, but no picture came of it
        Refused,  // not decoded: bad, too large, or waiting for a key frame
    };

    Vp8Decoder();
    ~Vp8Decoder();
    Vp8Decoder(const Vp8Decoder &) = delete;
    Vp8Decoder &operator=(const Vp8Decoder &) = delete;

    Result decode(QByteArrayView frame);
    QImage picture() const { return m_picture; }
    bool keyFrameNeeded() const { return m_needKey; }
    // Frames refused or damaged so far.
    int failures() const { return m_failures; }
    // A new stream: the next frame must be a key frame.
    void reset();

private:
    struct Context;
    bool setUp();
    Result fail();

    std::unique_ptr<Context> m_ctx;
    QImage m_picture;
    bool m_needKey = true;
    int m_failures = 0;
};
