#pragma once

#include <QImage>
#include <QSize>
#include <QVideoFrameFormat>

#include <vector>

class QVideoFrame;
struct YuvPicture;

// Turns a camera frame into a 24-bit RGB picture of a given size. The pixel formats
// cameras commonly deliver (packed and planar YUV, 32-bit RGB in every byte order, grey,
// JPEG) are converted here, checking every plane's size against the mapped data; other
// formats go through Qt's own conversion. The picture is cropped to the target's aspect
// ratio around its centre, then scaled.
class FrameConverter
{
public:
    // Null image when the frame cannot be read or converted.
    static QImage toRgb888(const QVideoFrame &frame, QSize target);
    // The same as a picture ready to paint (32-bit RGB), in one pass from the camera's pixels.
    static QImage toPicture(const QVideoFrame &frame, QSize target);
    // The frame at its own size, before cropping and scaling.
    static QImage toImage(const QVideoFrame &frame);
    // The frame as a picture ready to paint at `shown`, no larger than `target` and of its
    // aspect ratio, mirrored left to right when asked. A YUV 4:2:0 frame of exactly `target`
    // is scaled before it is converted: a quarter of the work for a half-size self view.
    static QImage toShownPicture(const QVideoFrame &frame, QSize target, QSize shown, bool mirror);
    // A picture as 32-bit RGB at `size` (each pixel the mean of those it covers, no cropping),
    // mirrored left to right when asked.
    static QImage resized(const QImage &picture, QSize size, bool mirror);
    // Crops to the aspect ratio of `target` around the centre and scales to it.
    static QImage fit(const QImage &image, QSize target);

    // A YUV frame as 4:2:0 planes in JPEG's full-range YCbCr, for compression without a
    // detour through RGB: luma width x height, chroma half of each, rounded up.
    struct Planes
    {
        int width = 0;
        int height = 0;
        std::vector<uchar> y;
        std::vector<uchar> u;
        std::vector<uchar> v;
    };
    // The planes' buffers are reused from call to call. False when the frame is not YUV, not exactly `size`, is flipped or
    // mirrored, or does not read.
    static bool toPlanes(const QVideoFrame &frame, QSize size, Planes &planes);
    // The YUV layouts toPlanes takes.
    static bool givesPlanes(QVideoFrameFormat::PixelFormat format);

    // The frame as the video coder takes it (4:2:0 in video range) at `target`, cropped
    // to its aspect ratio around the centre and scaled, without a detour through RGB for
    // a camera that gives YUV; `out`'s buffer is reused. False when the frame does not
    // read or `target` is odd.
    static bool toYuvPicture(const QVideoFrame &frame, QSize target, YuvPicture &out);
    // A picture in the same form, at its own size.
    static bool rgbToYuvPicture(const QImage &picture, YuvPicture &out);

private:
    static QImage convert(const QVideoFrame &frame, bool rgb32);
};
