#include "media/picture/FrameConverter.h"

#include "media/picture/YuvPicture.h"

#include <QRect>
#include <QVideoFrame>

#include <libyuv.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int MaxDimension = 8192;

// True when `rows` rows of `rowBytes` each, `stride` apart, lie inside the plane.
bool planeHolds(const QVideoFrame &frame, int plane, int rowBytes, int rows)
{
    const qint64 stride = frame.bytesPerLine(plane);
    const qint64 size = frame.mappedBytes(plane);
    if (!frame.bits(plane) || rows <= 0 || rowBytes <= 0 || stride < rowBytes)
        return false;
    return stride * (rows - 1) + rowBytes <= size;
}

// The YUV to RGB matrix for the frame's range (BT.601 either way).
const libyuv::YuvConstants *yuvMatrix(bool fullRange)
{
    return fullRange ? &libyuv::kYuvJPEGConstants : &libyuv::kYuvI601Constants;
}

// True when the frame's rows come top to bottom as seen, neither mirrored nor rotated: its
// planes can be used as they are.
bool upright(const QVideoFrame &frame)
{
    const QVideoFrameFormat surface = frame.surfaceFormat();
    return surface.scanLineDirection() != QVideoFrameFormat::BottomToTop && !frame.mirrored() && !surface.isMirrored()
           && frame.rotationAngle() == QVideoFrame::Rotation0;
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

QImage convertMapped(const QVideoFrame &frame, bool fullRange, bool rgb32)
{
    const int w = frame.width();
    const int h = frame.height();
    const auto format = frame.pixelFormat();
    int ro, go, bo;

    if (format == QVideoFrameFormat::Format_Jpeg) {
        const int size = frame.mappedBytes(0);
        if (!frame.bits(0) || size <= 0)
            return {};
        QImage decoded = QImage::fromData(frame.bits(0), size, "JPG");
        return decoded.isNull() ? QImage() : decoded.convertToFormat(rgb32 ? QImage::Format_RGB32 : QImage::Format_RGB888);
    }

    QImage out(w, h, rgb32 ? QImage::Format_RGB32 : QImage::Format_RGB888);
    if (out.isNull())
        return {};

    if (rgb32Offsets(format, &ro, &go, &bo)) {
        if (!planeHolds(frame, 0, w * 4, h))
            return {};
        if (rgb32) {
            for (int y = 0; y < h; ++y) {
                const uchar *src = frame.bits(0) + qsizetype(y) * frame.bytesPerLine(0);
                auto *dst = reinterpret_cast<QRgb *>(out.scanLine(y));
                if (ro == 2 && go == 1 && bo == 0 && Q_BYTE_ORDER == Q_LITTLE_ENDIAN) {
                    // Already the window system's layout: only the unused byte is set.
                    const auto *words = reinterpret_cast<const quint32 *>(src);
                    for (int x = 0; x < w; ++x)
                        dst[x] = words[x] | 0xff000000u;
                } else {
                    for (int x = 0; x < w; ++x, src += 4)
                        dst[x] = qRgb(src[ro], src[go], src[bo]);
                }
            }
            return out;
        }
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

    // YUV and grey through libyuv, which uses the processor's vector units, into 32-bit
    // pixels; 24-bit pictures are packed from those.
    QImage argb = rgb32 ? std::move(out) : QImage(w, h, QImage::Format_RGB32);
    if (argb.isNull())
        return {};
    uchar *dst = argb.bits();
    const int dstStride = int(argb.bytesPerLine());
    const libyuv::YuvConstants *matrix = yuvMatrix(fullRange);
    auto stride = [&](int plane) { return int(frame.bytesPerLine(plane)); };
    int result = -1;
    switch (format) {
    case QVideoFrameFormat::Format_YUYV:
    case QVideoFrameFormat::Format_UYVY: {
        const int rowBytes = ((w + 1) / 2) * 4;
        if (!planeHolds(frame, 0, rowBytes, h))
            return {};
        // Unpacked to 4:2:2 planes first: only the planar converter takes full-range pixels.
        const int cw = (w + 1) / 2;
        std::vector<uchar> planes(size_t(w) * h + 2 * size_t(cw) * h);
        uchar *py = planes.data();
        uchar *pu = py + size_t(w) * h;
        uchar *pv = pu + size_t(cw) * h;
        result = format == QVideoFrameFormat::Format_YUYV
                     ? libyuv::YUY2ToI422(frame.bits(0), stride(0), py, w, pu, cw, pv, cw, w, h)
                     : libyuv::UYVYToI422(frame.bits(0), stride(0), py, w, pu, cw, pv, cw, w, h);
        if (result == 0)
            result = libyuv::I422ToARGBMatrix(py, w, pu, cw, pv, cw, dst, dstStride, matrix, w, h);
        break;
    }
    case QVideoFrameFormat::Format_NV12:
    case QVideoFrameFormat::Format_NV21: {
        const int ch = (h + 1) / 2;
        const int cw = ((w + 1) / 2) * 2;
        if (!planeHolds(frame, 0, w, h) || !planeHolds(frame, 1, cw, ch))
            return {};
        result = format == QVideoFrameFormat::Format_NV12
                     ? libyuv::NV12ToARGBMatrix(frame.bits(0), stride(0), frame.bits(1), stride(1), dst, dstStride,
                                                matrix, w, h)
                     : libyuv::NV21ToARGBMatrix(frame.bits(0), stride(0), frame.bits(1), stride(1), dst, dstStride,
                                                matrix, w, h);
        break;
    }
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YV12:
    case QVideoFrameFormat::Format_YUV422P: {
        const bool is422 = format == QVideoFrameFormat::Format_YUV422P;
        const int cw = (w + 1) / 2;
        const int ch = is422 ? h : (h + 1) / 2;
        if (!planeHolds(frame, 0, w, h) || !planeHolds(frame, 1, cw, ch) || !planeHolds(frame, 2, cw, ch))
            return {};
        const int up = format == QVideoFrameFormat::Format_YV12 ? 2 : 1;
        const int vp = 3 - up;
        result = is422 ? libyuv::I422ToARGBMatrix(frame.bits(0), stride(0), frame.bits(up), stride(up), frame.bits(vp),
                                                  stride(vp), dst, dstStride, matrix, w, h)
                       : libyuv::I420ToARGBMatrix(frame.bits(0), stride(0), frame.bits(up), stride(up), frame.bits(vp),
                                                  stride(vp), dst, dstStride, matrix, w, h);
        break;
    }
    case QVideoFrameFormat::Format_Y8:
        if (!planeHolds(frame, 0, w, h))
            return {};
        result = libyuv::J400ToARGB(frame.bits(0), stride(0), dst, dstStride, w, h);
        break;
    default:
        return {};
    }
    if (result != 0)
        return {};
    if (rgb32)
        return argb;
    if (libyuv::ARGBToRAW(argb.constBits(), dstStride, out.bits(), int(out.bytesPerLine()), w, h) != 0)
        return {};
    return out;
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
    return convert(input, false);
}

QImage FrameConverter::convert(const QVideoFrame &input, bool rgb32)
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
        image = convertMapped(frame, range == QVideoFrameFormat::ColorRange_Full, rgb32);
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
        image = image.convertToFormat(rgb32 ? QImage::Format_RGB32 : QImage::Format_RGB888);
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

namespace {

// Video-range samples (luma 16-235, chroma 16-240) to JPEG's full range, rounded: luma
// (v - 16) * 255 / 219, chroma 128 + (v - 128) * 255 / 224, in fixed point.
constexpr uchar fullLuma(int v)
{
    return uchar(std::clamp(((v - 16) * 2385 + 986) >> 11, 0, 255));
}

constexpr uchar fullChroma(int v)
{
    return uchar(std::clamp((((v - 128) * 4663 + 2023) >> 12) + 128, 0, 255));
}

// The fixed point gives exactly the rounded quotients, for every sample.
constexpr bool fixedPointIsExact()
{
    for (int i = 0; i < 256; ++i) {
        const int luma = std::clamp(((i - 16) * 255 * 2 + 219) / (219 * 2), 0, 255);
        const int chroma = std::clamp(128 + ((i - 128) * 255 * 2 + (i >= 128 ? 224 : -224)) / (224 * 2), 0, 255);
        if (fullLuma(i) != luma || fullChroma(i) != chroma)
            return false;
    }
    return true;
}
static_assert(fixedPointIsExact());

// A row of samples through one of the above: a loop the compiler turns into vector
// instructions (the build allows it for this file). Kept out of line: inlined into its
// caller, GCC runs a scalar copy of the loop instead.
template<uchar (*Expand)(int)>
[[gnu::noinline]] void expandRow(const uchar *src, uchar *dst, int n)
{
    for (int i = 0; i < n; ++i)
        dst[i] = Expand(src[i]);
}

bool planesFromMapped(const QVideoFrame &frame, FrameConverter::Planes &p)
{
    const int w = frame.width();
    const int h = frame.height();
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    const auto format = frame.pixelFormat();
    const bool full = frame.surfaceFormat().colorRange() == QVideoFrameFormat::ColorRange_Full;
    auto luma = [&](int v) { return full ? uchar(v) : fullLuma(v); };
    auto chroma = [&](int v) { return full ? uchar(v) : fullChroma(v); };
    p.y.resize(size_t(w) * h);
    p.u.resize(size_t(cw) * ch);
    p.v.resize(size_t(cw) * ch);

    auto copyRow = [&](const uchar *src, uchar *dst, int n, bool isLuma) {
        if (full)
            std::memcpy(dst, src, size_t(n));
        else if (isLuma)
            expandRow<fullLuma>(src, dst, n);
        else
            expandRow<fullChroma>(src, dst, n);
    };
    auto copyLuma = [&](const uchar *plane, qsizetype stride) {
        for (int y = 0; y < h; ++y)
            copyRow(plane + y * stride, p.y.data() + qsizetype(y) * w, w, true);
    };
    switch (format) {
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YV12: {
        if (!planeHolds(frame, 0, w, h) || !planeHolds(frame, 1, cw, ch) || !planeHolds(frame, 2, cw, ch))
            return false;
        copyLuma(frame.bits(0), frame.bytesPerLine(0));
        const int up = format == QVideoFrameFormat::Format_YV12 ? 2 : 1;
        const int vp = 3 - up;
        for (int y = 0; y < ch; ++y) {
            copyRow(frame.bits(up) + qsizetype(y) * frame.bytesPerLine(up), p.u.data() + size_t(y) * cw, cw, false);
            copyRow(frame.bits(vp) + qsizetype(y) * frame.bytesPerLine(vp), p.v.data() + size_t(y) * cw, cw, false);
        }
        return true;
    }
    case QVideoFrameFormat::Format_NV12:
    case QVideoFrameFormat::Format_NV21: {
        if (!planeHolds(frame, 0, w, h) || !planeHolds(frame, 1, cw * 2, ch))
            return false;
        copyLuma(frame.bits(0), frame.bytesPerLine(0));
        const int uo = format == QVideoFrameFormat::Format_NV12 ? 0 : 1;
        for (int y = 0; y < ch; ++y) {
            const uchar *cs = frame.bits(1) + qsizetype(y) * frame.bytesPerLine(1);
            for (int x = 0; x < cw; ++x) {
                p.u[size_t(y) * cw + x] = chroma(cs[2 * x + uo]);
                p.v[size_t(y) * cw + x] = chroma(cs[2 * x + 1 - uo]);
            }
        }
        return true;
    }
    case QVideoFrameFormat::Format_YUYV:
    case QVideoFrameFormat::Format_UYVY: {
        // 4:2:2 packed: chroma of two rows averaged into one.
        if (!planeHolds(frame, 0, cw * 4, h))
            return false;
        const bool yFirst = format == QVideoFrameFormat::Format_YUYV;
        const int yo = yFirst ? 0 : 1;
        const int uo = yFirst ? 1 : 0;
        const int vo = yFirst ? 3 : 2;
        const qsizetype stride = frame.bytesPerLine(0);
        for (int y = 0; y < h; ++y) {
            const uchar *src = frame.bits(0) + y * stride;
            uchar *dst = p.y.data() + qsizetype(y) * w;
            for (int x = 0; x < w; ++x)
                dst[x] = luma(src[2 * x + yo]);
        }
        for (int y = 0; y < ch; ++y) {
            const uchar *r0 = frame.bits(0) + qsizetype(2 * y) * stride;
            const uchar *r1 = 2 * y + 1 < h ? r0 + stride : r0;
            for (int x = 0; x < cw; ++x) {
                p.u[size_t(y) * cw + x] = chroma((r0[4 * x + uo] + r1[4 * x + uo] + 1) / 2);
                p.v[size_t(y) * cw + x] = chroma((r0[4 * x + vo] + r1[4 * x + vo] + 1) / 2);
            }
        }
        return true;
    }
    default:
        return false;
    }
}

} // namespace

bool FrameConverter::givesPlanes(QVideoFrameFormat::PixelFormat format)
{
    switch (format) {
    case QVideoFrameFormat::Format_YUV420P:
    case QVideoFrameFormat::Format_YV12:
    case QVideoFrameFormat::Format_NV12:
    case QVideoFrameFormat::Format_NV21:
    case QVideoFrameFormat::Format_YUYV:
    case QVideoFrameFormat::Format_UYVY:
        return true;
    default:
        return false;
    }
}

bool FrameConverter::toPlanes(const QVideoFrame &input, QSize size, Planes &planes)
{
    if (!input.isValid() || input.size() != size || size.isEmpty() || size.width() > MaxDimension
        || size.height() > MaxDimension)
        return false;
    if (!upright(input) || !givesPlanes(input.pixelFormat()))
        return false;
    QVideoFrame frame(input);
    if (!frame.map(QVideoFrame::ReadOnly))
        return false;
    planes.width = size.width();
    planes.height = size.height();
    const bool ok = planesFromMapped(frame, planes);
    frame.unmap();
    return ok;
}

QImage FrameConverter::toRgb888(const QVideoFrame &frame, QSize target)
{
    return fit(toImage(frame), target);
}

QImage FrameConverter::toPicture(const QVideoFrame &frame, QSize target)
{
    QImage image = convert(frame, true);
    if (image.isNull() || image.size() == target)
        return image;
    return fit(image, target).convertToFormat(QImage::Format_RGB32);
}

QImage FrameConverter::toShownPicture(const QVideoFrame &input, QSize target, QSize shown, bool mirror)
{
    using F = QVideoFrameFormat;
    const F::PixelFormat format = input.pixelFormat();
    const bool semiPlanar = format == F::Format_NV12 || format == F::Format_NV21;
    const bool planar = format == F::Format_YUV420P || format == F::Format_YV12;
    if (!input.isValid() || input.size() != target || shown.isEmpty() || shown.width() >= target.width()
        || shown.height() >= target.height() || (!planar && !semiPlanar) || !upright(input))
        return resized(toPicture(input, target), shown, mirror);

    QVideoFrame frame(input);
    if (!frame.map(QVideoFrame::ReadOnly))
        return {};
    const int w = target.width();
    const int h = target.height();
    const int sw = shown.width();
    const int sh = shown.height();
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    const int scw = (sw + 1) / 2;
    const int sch = (sh + 1) / 2;
    const libyuv::YuvConstants *matrix = yuvMatrix(input.surfaceFormat().colorRange() == F::ColorRange_Full);
    auto stride = [&](int plane) { return int(frame.bytesPerLine(plane)); };
    // Scaled while still 4:2:0, so only the shown pixels are converted.
    std::vector<uchar> small(size_t(sw) * sh + 2 * size_t(scw) * sch);
    uchar *y = small.data();
    uchar *u = y + size_t(sw) * sh;
    uchar *v = u + size_t(scw) * sch;
    QImage picture(shown, QImage::Format_RGB32);
    int result = -1;
    if (planar && planeHolds(frame, 0, w, h) && planeHolds(frame, 1, cw, ch) && planeHolds(frame, 2, cw, ch)) {
        const int up = format == F::Format_YV12 ? 2 : 1;
        const int vp = 3 - up;
        result = libyuv::I420Scale(frame.bits(0), stride(0), frame.bits(up), stride(up), frame.bits(vp), stride(vp), w,
                                   h, y, sw, u, scw, v, scw, sw, sh, libyuv::kFilterBox);
        if (result == 0)
            result = libyuv::I420ToARGBMatrix(y, sw, u, scw, v, scw, picture.bits(), int(picture.bytesPerLine()),
                                              matrix, sw, sh);
    } else if (semiPlanar && planeHolds(frame, 0, w, h) && planeHolds(frame, 1, cw * 2, ch)) {
        // The interleaved chroma pairs scale alike whichever comes first.
        uchar *uv = u;
        result = libyuv::NV12Scale(frame.bits(0), stride(0), frame.bits(1), stride(1), w, h, y, sw, uv, scw * 2, sw,
                                   sh, libyuv::kFilterBox);
        if (result == 0)
            result = format == F::Format_NV12
                         ? libyuv::NV12ToARGBMatrix(y, sw, uv, scw * 2, picture.bits(), int(picture.bytesPerLine()),
                                                    matrix, sw, sh)
                         : libyuv::NV21ToARGBMatrix(y, sw, uv, scw * 2, picture.bits(), int(picture.bytesPerLine()),
                                                    matrix, sw, sh);
    }
    frame.unmap();
    if (result != 0)
        return {};
    return mirror ? resized(picture, shown, true) : picture;
}

QImage FrameConverter::resized(const QImage &picture, QSize size, bool mirror)
{
    if (picture.isNull() || size.isEmpty() || size.width() > MaxDimension || size.height() > MaxDimension)
        return {};
    const QImage source = picture.format() == QImage::Format_RGB32 ? picture
                                                                    : picture.convertToFormat(QImage::Format_RGB32);
    QImage scaled = source;
    if (source.size() != size) {
        scaled = QImage(size, QImage::Format_RGB32);
        if (scaled.isNull()
            || libyuv::ARGBScale(source.constBits(), int(source.bytesPerLine()), source.width(), source.height(),
                                 scaled.bits(), int(scaled.bytesPerLine()), size.width(), size.height(),
                                 libyuv::kFilterBox)
                   != 0)
            return {};
    }
    if (!mirror)
        return scaled;
    QImage mirrored(size, QImage::Format_RGB32);
    if (mirrored.isNull()
        || libyuv::ARGBMirror(scaled.constBits(), int(scaled.bytesPerLine()), mirrored.bits(),
                              int(mirrored.bytesPerLine()), size.width(), size.height())
               != 0)
        return {};
    return mirrored;
}

namespace {

// The largest centred part of a w x h picture with the aspect ratio of `target`, its
// corner and size even so the chroma planes line up.
QRect centredCrop(int w, int h, QSize target)
{
    int cw = w;
    int ch = h;
    if (qint64(w) * target.height() > qint64(h) * target.width())
        cw = int(qint64(h) * target.width() / target.height());
    else
        ch = int(qint64(w) * target.height() / target.width());
    cw = std::max(2, cw & ~1);
    ch = std::max(2, ch & ~1);
    return {((w - cw) / 2) & ~1, ((h - ch) / 2) & ~1, cw, ch};
}

// Crops and scales planes into the picture.
bool scaleInto(const uchar *y, int ys, const uchar *u, int us, const uchar *v, int vs, int w, int h,
               YuvPicture &out)
{
    const QRect crop = centredCrop(w, h, out.size());
    const int cx = crop.x();
    const int cy = crop.y();
    const uchar *sy = y + qsizetype(cy) * ys + cx;
    const uchar *su = u + qsizetype(cy / 2) * us + cx / 2;
    const uchar *sv = v + qsizetype(cy / 2) * vs + cx / 2;
    const int cw = out.chromaWidth();
    if (crop.size() == out.size())
        return libyuv::I420Copy(sy, ys, su, us, sv, vs, out.y(), out.width, out.u(), cw, out.v(), cw, out.width,
                                out.height)
               == 0;
    return libyuv::I420Scale(sy, ys, su, us, sv, vs, crop.width(), crop.height(), out.y(), out.width, out.u(), cw,
                             out.v(), cw, out.width, out.height, libyuv::kFilterBox)
           == 0;
}

} // namespace

bool FrameConverter::rgbToYuvPicture(const QImage &picture, YuvPicture &out)
{
    const QImage rgb = picture.format() == QImage::Format_RGB888 ? picture
                                                                 : picture.convertToFormat(QImage::Format_RGB888);
    const int width = rgb.width();
    const int height = rgb.height();
    if (rgb.isNull() || width > MaxDimension || height > MaxDimension || !out.allocate(rgb.size()))
        return false;
    // 24-bit RGB in memory order R, G, B is the library's "RAW".
    return libyuv::RAWToI420(rgb.constBits(), int(rgb.bytesPerLine()), out.y(), out.width, out.u(),
                             out.chromaWidth(), out.v(), out.chromaWidth(), width, height)
           == 0;
}

bool FrameConverter::toYuvPicture(const QVideoFrame &input, QSize target, YuvPicture &out)
{
    using F = QVideoFrameFormat;
    if (!input.isValid() || target.width() > MaxDimension || target.height() > MaxDimension
        || !out.allocate(target))
        return false;
    const F::PixelFormat format = input.pixelFormat();
    const int w = input.width();
    const int h = input.height();
    if (w < 2 || h < 2 || w > MaxDimension || h > MaxDimension)
        return false;
    const bool planar = format == F::Format_YUV420P || format == F::Format_YV12;
    const bool semiPlanar = format == F::Format_NV12 || format == F::Format_NV21;
    const bool packed = format == F::Format_YUYV || format == F::Format_UYVY;
    if (!upright(input) || (!planar && !semiPlanar && !packed)) {
        // Pixels that are not YUV (or not upright) are turned into 4:2:0 from the 32-bit
        // picture the frame gives anyway.
        const QImage picture = toPicture(input, target);
        if (picture.isNull() || picture.size() != target)
            return false;
        return libyuv::ARGBToI420(picture.constBits(), int(picture.bytesPerLine()), out.y(), out.width, out.u(),
                                  out.chromaWidth(), out.v(), out.chromaWidth(), target.width(), target.height())
               == 0;
    }
    QVideoFrame frame(input);
    if (!frame.map(QVideoFrame::ReadOnly))
        return false;
    auto stride = [&](int plane) { return int(frame.bytesPerLine(plane)); };
    const int cw = (w + 1) / 2;
    const int ch = (h + 1) / 2;
    bool ok = false;
    if (planar) {
        const int up = format == F::Format_YV12 ? 2 : 1;
        const int vp = 3 - up;
        ok = planeHolds(frame, 0, w, h) && planeHolds(frame, 1, cw, ch) && planeHolds(frame, 2, cw, ch)
             && scaleInto(frame.bits(0), stride(0), frame.bits(up), stride(up), frame.bits(vp), stride(vp), w, h, out);
    } else {
        // Other YUV layouts become 4:2:0 planes at their own size first.
        YuvPicture whole;
        const int ew = w & ~1;
        const int eh = h & ~1;
        if (whole.allocate(QSize(ew, eh))) {
            const int wc = whole.chromaWidth();
            int result = -1;
            if (semiPlanar && planeHolds(frame, 0, w, h) && planeHolds(frame, 1, cw * 2, ch)) {
                result = format == F::Format_NV12
                             ? libyuv::NV12ToI420(frame.bits(0), stride(0), frame.bits(1), stride(1), whole.y(), ew,
                                                  whole.u(), wc, whole.v(), wc, ew, eh)
                             : libyuv::NV21ToI420(frame.bits(0), stride(0), frame.bits(1), stride(1), whole.y(), ew,
                                                  whole.u(), wc, whole.v(), wc, ew, eh);
            } else if (packed && planeHolds(frame, 0, cw * 4, h)) {
                result = format == F::Format_YUYV
                             ? libyuv::YUY2ToI420(frame.bits(0), stride(0), whole.y(), ew, whole.u(), wc, whole.v(),
                                                  wc, ew, eh)
                             : libyuv::UYVYToI420(frame.bits(0), stride(0), whole.y(), ew, whole.u(), wc, whole.v(),
                                                  wc, ew, eh);
            }
            ok = result == 0 && scaleInto(whole.y(), ew, whole.u(), wc, whole.v(), wc, ew, eh, out);
        }
    }
    frame.unmap();
    return ok;
}
