#pragma once

#include <QImage>
#include <QSize>

class QVideoFrame;

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
    // The frame at its own size, before cropping and scaling.
    static QImage toImage(const QVideoFrame &frame);
    // Crops to the aspect ratio of `target` around the centre and scales to it.
    static QImage fit(const QImage &image, QSize target);
};
