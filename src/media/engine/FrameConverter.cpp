#include "media/engine/FrameConverter.h"

#include <QVideoFrame>

#include <algorithm>

namespace {

constexpr int MaxDimension = 8192;

struct YuvToRgb
{
    bool fullRange;

    // BT.601 in fixed point (16 fractional bits).
    void operator()(int y, int u, int v, uchar *out) const
    {
        int c, r, g, b;
        const int d = u - 128;
        const int e = v - 128;
        if (fullRange) {
            c = y << 16;
            r = c + 91881 * e;
            g = c - 22554 * d - 46802 * e;
            b = c + 116130 * d;
        } else {
            c = (y - 16) * 76309;
            r = c + 104597 * e;
            g = c - 25675 * d - 53279 * e;
            b = c + 132201 * d;
        }
        out[0] = uchar(std::clamp((r + 32768) >> 16, 0, 255));
        out[1] = uchar(std::clamp((g + 32768) >> 16, 0, 255));
        out[2] = uchar(std::clamp((b + 32768) >> 16, 0, 255));
    }
};

// True when `rows` rows of `rowBytes` each, `stride` apart, lie inside the plane.
bool planeHolds(const QVideoFrame &frame, int plane, int rowBytes, int rows)
{
    const qint64 stride = frame.bytesPerLine(plane);
    const qint64 size = frame.mappedBytes(plane);
    if (!frame.bits(plane) || rows <= 0 || rowBytes <= 0 || stride < rowBytes)
        return false;
    return stride * (rows - 1) + rowBytes <= size;
}

// Byte offsets of R, G and B inside a 4-byte pixel, by format (memory order).
bool rgb32Offsets(QVideoFrameFormat::PixelFormat format, int *r, int *g, int *b)
{
    switch (format) {
    case QVideoFrameFormat::Format_ARGB8888:
    case QVideoFrameFormat::Format_ARGB8888_Premultiplied:
    case QVideoFrameFormat::Format_XRGB8888:
        *r = 1, *g = 2, *b = 3;
        return true;
    case QVideoFrameFormat::Format_BGRA8888:
    case QVideoFrameFormat::Format_BGRA8888_Premultiplied:
    case QVideoFrameFormat::Format_BGRX8888:
        *r = 2, *g = 1, *b = 0;
        return true;
    case QVideoFrameFormat::Format_ABGR8888:
    case QVideoFrameFormat::Format_XBGR8888:
        *r = 3, *g = 2, *b = 1;
        return true;
    case QVideoFrameFormat::Format_RGBA8888:
    case QVideoFrameFormat::Format_RGBX8888:
        *r = 0, *g = 1, *b = 2;
        return true;
    default:
        return false;
    }
}

// One row of 32-bit pixels to 24-bit RGB; the offsets known at compile time let the
// compiler keep the loop tight (the usual camera and test layouts).
template<int R, int G, int B>
void packRow(const uchar *src, uchar *dst, int w)
{
    for (int x = 0; x < w; ++x, src += 4, dst += 3) {
        dst[0] = src[R];
        dst[1] = src[G];
        dst[2] = src[B];
    }
}

QImage convertMapped(const QVideoFrame &frame, bool fullRange)
{
    const int w = frame.width();
    const int h = frame.height();
    const auto format = frame.pixelFormat();
    const YuvToRgb yuv{fullRange};
    int ro, go, bo;

    if (format == QVideoFrameFormat::Format_Jpeg) {
        const int size = frame.mappedBytes(0);
        if (!frame.bits(0) || size <= 0)
            return {};
        QImage decoded = QImage::fromData(frame.bits(0), size, "JPG");
        return decoded.isNull() ? QImage() : decoded.convertToFormat(QImage::Format_RGB888);
    }

    QImage out(w, h, QImage::Format_RGB888);
    if (out.isNull())
        return {};

    if (rgb32Offsets(format, &ro, &go, &bo)) {
        if (!planeHolds(frame, 0, w * 4, h))
            return {};
        // Qt's own converters hand large pictures to a thread pool: more wake-ups than work.
        for (int y = 0; y < h; ++y) {
            const uchar *src = frame.bits(0) + qsizetype(y) * frame.bytesPerLine(0);
            uchar *dst = out.scanLine(y);
            if (ro == 2 && go == 1 && bo == 0)
                packRow<2, 1, 0>(src, dst, w);
            else if (ro == 0 && go == 1 && bo == 2)
                packRow<0, 1, 2>(src, dst, w);
            else if (ro == 1)
                packRow<1, 2, 3>(src, dst, w);
            else
                packRow<3, 2, 1>(src, dst, w);
        }
        return out;
    }

    switch (format) {
    case QVideoFrameFormat::Format_YUYV:
    case QVideoFrameFormat::Format_UYVY: {
        const int rowBytes = ((w + 1) / 2) * 4;
        if (!planeHolds(frame, 0, rowBytes, h))
            return {};
        const bool yFirst = format == QVideoFrameFormat::Format_YUYV;
        for (int y = 0; y < h; ++y) {
            const uchar *src = frame.bits(0) + qsizetype(y) * frame.bytesPerLine(0);
            uchar *dst = out.scanLine(y);
            for (int x = 0; x < w; x += 2, src += 4) {
                const int y0 = yFirst ? src[0] : src[1];
                const int u = yFirst ? src[1] : src[0];
                const int y1 = yFirst ? src[2] : src[3];
                const int v = yFirst ? src[3] : src[2];
                yuv(y0, u, v, dst + x * 3);
                if (x + 1 < w)
                    yuv(y1, u, v, dst + (x + 1) * 3);
            }
        }
        return out;
    }
    case QVideoFrameFormat::Format_NV12:
    case QVideoFrameFormat::Format_NV21: {
        const int ch = (h + 1) / 2;
        const int cw = ((w + 1) / 2) * 2;
        if (!planeHolds(frame, 0, w, h) || !planeHolds(frame, 1, cw, ch))
            return {};
        const int uo = format == QVideoFrameFormat::Format_NV12 ? 0 : 1;
        for (int y = 0; y < h; ++y) {
            const uchar *ys = frame.bits(0) + qsizetype(y) * frame.bytesPerLine(0);
            const uchar *cs = frame.bits(1) + qsizetype(y / 2) * frame.bytesPerLine(1);
            uchar *dst = out.scanLine(y);
            for (int x = 0; x < w; ++x) {
                const uchar *c = cs + (x / 2) * 2;
                yuv(ys[x], c[uo], c[1 - uo], dst + x * 3);
            }
        }
        return out;
    }
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YV12:
    case QVideoFrameFormat::Format_YUV422P: {
        const int cw = (w + 1) / 2;
        const int ch = format == QVideoFrameFormat::Format_YUV422P ? h : (h + 1) / 2;
        const int vDiv = format == QVideoFrameFormat::Format_YUV422P ? 1 : 2;
        if (!planeHolds(frame, 0, w, h) || !planeHolds(frame, 1, cw, ch) || !planeHolds(frame, 2, cw, ch))
            return {};
        const int up = format == QVideoFrameFormat::Format_YV12 ? 2 : 1;
        const int vp = 3 - up;
        for (int y = 0; y < h; ++y) {
            const uchar *ys = frame.bits(0) + qsizetype(y) * frame.bytesPerLine(0);
            const uchar *us = frame.bits(up) + qsizetype(y / vDiv) * frame.bytesPerLine(up);
            const uchar *vs = frame.bits(vp) + qsizetype(y / vDiv) * frame.bytesPerLine(vp);
            uchar *dst = out.scanLine(y);
            for (int x = 0; x < w; ++x)
                yuv(ys[x], us[x / 2], vs[x / 2], dst + x * 3);
        }
        return out;
    }
    case QVideoFrameFormat::Format_Y8: {
        if (!planeHolds(frame, 0, w, h))
            return {};
        for (int y = 0; y < h; ++y) {
            const uchar *src = frame.bits(0) + qsizetype(y) * frame.bytesPerLine(0);
            uchar *dst = out.scanLine(y);
            for (int x = 0; x < w; ++x, dst += 3)
                dst[0] = dst[1] = dst[2] = src[x];
        }
        return out;
    }
    default:
        return {};
    }
}

bool handledHere(QVideoFrameFormat::PixelFormat format)
{
    int r, g, b;
    if (rgb32Offsets(format, &r, &g, &b))
        return true;
    switch (format) {
    case QVideoFrameFormat::Format_Jpeg:
    case QVideoFrameFormat::Format_YUYV:
    case QVideoFrameFormat::Format_UYVY:
    case QVideoFrameFormat::Format_NV12:
    case QVideoFrameFormat::Format_NV21:
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YV12:
    case QVideoFrameFormat::Format_YUV422P:
    case QVideoFrameFormat::Format_Y8:
        return true;
    default:
        return false;
    }
}

} // namespace

QImage FrameConverter::toImage(const QVideoFrame &input)
{
    if (!input.isValid())
        return {};
    const int w = input.width();
    const int h = input.height();
    if (w <= 0 || h <= 0 || w > MaxDimension || h > MaxDimension)
        return {};
    QImage image;
    if (handledHere(input.pixelFormat())) {
        QVideoFrame frame(input);
        if (!frame.map(QVideoFrame::ReadOnly))
            return {};
        const auto range = frame.surfaceFormat().colorRange();
        image = convertMapped(frame, range == QVideoFrameFormat::ColorRange_Full);
        frame.unmap();
        if (image.isNull())
            return {};
        if (frame.surfaceFormat().scanLineDirection() == QVideoFrameFormat::BottomToTop)
            image = image.mirrored(false, true);
        if (frame.mirrored() || frame.surfaceFormat().isMirrored())
            image = image.mirrored(true, false);
    } else {
        // Formats no camera of ours has shown yet: Qt's converter, which also handles
        // rotation and mirroring itself.
        image = input.toImage();
        if (image.isNull())
            return {};
        image = image.convertToFormat(QImage::Format_RGB888);
    }
    return image;
}

QImage FrameConverter::fit(const QImage &image, QSize target)
{
    if (image.isNull() || target.isEmpty())
        return {};
    QImage source = image;
    if (source.size() != target) {
        // Largest centred region with the target's aspect ratio.
        const qint64 sw = source.width();
        const qint64 sh = source.height();
        QRect crop(0, 0, int(sw), int(sh));
        if (sw * target.height() > sh * target.width()) {
            const int cw = int(sh * target.width() / target.height());
            crop = QRect(int((sw - cw) / 2), 0, cw, int(sh));
        } else if (sw * target.height() < sh * target.width()) {
            const int chh = int(sw * target.height() / target.width());
            crop = QRect(0, int((sh - chh) / 2), int(sw), chh);
        }
        if (crop.size() != source.size())
            source = source.copy(crop);
        if (source.size() != target)
            source = source.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    if (source.format() != QImage::Format_RGB888)
        source = source.convertToFormat(QImage::Format_RGB888);
    return source;
}

QImage FrameConverter::toRgb888(const QVideoFrame &frame, QSize target)
{
    return fit(toImage(frame), target);
}
