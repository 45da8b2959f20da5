#pragma once

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QSize>

#include <functional>

// Still-picture and frame coding for the video engine. A compressed frame is one baseline
// JPEG (JFIF) image. Pixel buffers are 24-bit RGB, rows top to bottom, no padding.
// Every function takes the capacity of its output and never writes past it.
class VideoCodec
{
public:
    VideoCodec();
    ~VideoCodec();
    VideoCodec(const VideoCodec &) = delete;
    VideoCodec &operator=(const VideoCodec &) = delete;

    // quality 1..100 is the JPEG quality. When the image would exceed maxLength, retries at
    // a lower quality until it fits. The result never contains the bytes "<E>" (re-encoded
    // at a slightly different quality until it does not). Returns the length, 0 on failure.
    int compressStill(const uchar *rgb, int width, int height, int quality, uchar *out, int maxLength);

    // A picture as 4:2:0 planes in JPEG's own full-range YCbCr: luma at full size, each
    // chroma plane at half the width and half the height (rounded up).
    struct Planes
    {
        int width = 0;
        int height = 0;
        const uchar *y = nullptr;
        const uchar *u = nullptr;
        const uchar *v = nullptr;
        int yStride = 0;
        int chromaStride = 0;
    };
    // As compressStill, straight from the planes: no colour conversion and no subsampling.
    // The width must be a multiple of 16 (every capture size is).
    int compressPlanes(const Planes &planes, int quality, uchar *out, int maxLength);

    // Decodes a JPEG into 24-bit RGB. Returns the bytes written, 0 when the data does not
    // decode or the picture does not fit imageCapacity. When expectWidth/expectHeight are
    // given (> 0), any other size is refused.
    int unCompressStill(const uchar *data, int length, int *width, int *height, uchar *image,
                        int imageCapacity, int expectWidth = 0, int expectHeight = 0);

    // Decodes a JPEG of one of `sizes` into a picture ready to paint (32-bit RGB). Null when
    // the data does not decode or has another size.
    QImage decodePicture(const uchar *data, int length, const QList<QSize> &sizes);

    // Reads only the picture size from a JPEG header: the one check of a header both
    // decoders make. False when the header does not read or gives a size no JPEG has.
    bool pictureSize(const uchar *data, int length, int *width, int *height);

    // Halves (or otherwise scales) a picture; returns the target's byte count, 0 when the
    // target does not fit.
    static int downSampleImg(const uchar *src, int srcWidth, int srcHeight, uchar *dst, int dstWidth,
                             int dstHeight, int dstCapacity);

    // Renders a line of text as a 24-bit picture (white on black) of its own size.
    // Returns the byte count, 0 when it does not fit the capacity.
    static int textToImage(uchar *image, int capacity, int *width, int *height, const QString &text);

    // Burns an image into a frame at (x, y). Fails (returns false) when the image does not
    // lie wholly inside the frame.
    static bool burnImage(uchar *frame, int frameWidth, int frameHeight, const uchar *image,
                          int imageWidth, int imageHeight, int x, int y);

private:
    // The quality steps and the terminator rule of compressStill around one encoder.
    int compressWith(int width, int height, int quality, uchar *out, int maxLength,
                     const std::function<long(int, uchar *, unsigned long)> &encodeAt);

    void *m_compressor = nullptr;
    void *m_decompressor = nullptr;
};
