#include "media/picture/VideoCodec.h"

#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <turbojpeg.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include <jpeglib.h>

// Text rendering needs a QGuiApplication (fonts); the engines live inside the program's
// QApplication, and textToImage refuses to work without one instead of crashing.

namespace {

// The media stream cuts at these three bytes, so no body may contain them.
bool containsTerminator(const uchar *data, qint64 length)
{
    for (qint64 i = 0; i + 2 < length; ++i) {
        if (data[i] == '<' && data[i + 1] == 'E' && data[i + 2] == '>')
            return true;
    }
    return false;
}

// JPEG cannot describe pictures above this size, and it keeps w * h * 3 well inside 64 bits.
constexpr int MaxDimension = 65535;

constexpr int TextPixelSize = 14;
constexpr int TextMargin = 2;

struct JpegErrors
{
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

void leaveOnError(j_common_ptr info)
{
    std::longjmp(reinterpret_cast<JpegErrors *>(info->err)->jump, 1);
}

// Codes a picture as a baseline JPEG with 4:2:0 chroma and Huffman tables made for this
// picture: any JPEG reader reads it, and it is a third to a half smaller than with the
// standard tables at the low qualities a slow link needs. `out` must hold the largest JPEG
// the picture can give (tjBufSize), so the library never has to grow it. `feed` hands the
// library the picture once compression has started. Returns the length, -1 when the
// library fails.
template<typename Feed>
long encodeWithOwnTables(int width, int height, bool yuvPlanes, int quality, uchar *out, unsigned long capacity,
                         Feed feed)
{
    jpeg_compress_struct info;
    JpegErrors errors;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = leaveOnError;
    unsigned char *buffer = out;
    unsigned long size = capacity;
    if (setjmp(errors.jump)) {
        jpeg_destroy_compress(&info);
        return -1;
    }
    jpeg_create_compress(&info);
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = yuvPlanes ? JCS_YCbCr : JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, quality, TRUE);
    info.optimize_coding = TRUE;
    if (yuvPlanes) {
        // The planes are already 4:2:0: the library takes them as they are.
        info.raw_data_in = TRUE;
    }
    jpeg_start_compress(&info, TRUE);
    feed(info);
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return buffer == out ? long(size) : -1;
}

void feedRgb(jpeg_compress_struct &info, const uchar *rgb)
{
    const size_t stride = size_t(info.image_width) * 3;
    while (info.next_scanline < info.image_height) {
        // The library reads the rows; it takes them through a non-const pointer.
        JSAMPROW row = const_cast<uchar *>(rgb + info.next_scanline * stride);
        jpeg_write_scanlines(&info, &row, 1);
    }
}

// Sixteen rows of luma and eight of each chroma plane at a time; rows past the picture's
// end repeat its last row, as the library wants whole blocks.
void feedPlanes(jpeg_compress_struct &info, const VideoCodec::Planes &p)
{
    const int chromaHeight = (p.height + 1) / 2;
    JSAMPROW yRows[16];
    JSAMPROW uRows[8];
    JSAMPROW vRows[8];
    JSAMPARRAY planes[3] = {yRows, uRows, vRows};
    while (info.next_scanline < info.image_height) {
        const int top = int(info.next_scanline);
        for (int i = 0; i < 16; ++i)
            yRows[i] = const_cast<uchar *>(p.y + qsizetype(std::min(top + i, p.height - 1)) * p.yStride);
        for (int i = 0; i < 8; ++i) {
            const qsizetype row = std::min(top / 2 + i, chromaHeight - 1);
            uRows[i] = const_cast<uchar *>(p.u + row * p.chromaStride);
            vRows[i] = const_cast<uchar *>(p.v + row * p.chromaStride);
        }
        jpeg_write_raw_data(&info, planes, 16);
    }
}

} // namespace

VideoCodec::VideoCodec()
    : m_compressor(tjInitCompress())
    , m_decompressor(tjInitDecompress())
{
}

VideoCodec::~VideoCodec()
{
    if (m_compressor)
        tjDestroy(static_cast<tjhandle>(m_compressor));
    if (m_decompressor)
        tjDestroy(static_cast<tjhandle>(m_decompressor));
}

int VideoCodec::compressStill(const uchar *rgb, int width, int height, int quality, uchar *out,
                              int maxLength)
{
    if (!rgb)
        return 0;
    return compressWith(width, height, quality, out, maxLength, [&](int q, uchar *scratch, unsigned long size) {
        return encodeWithOwnTables(width, height, false, q, scratch, size,
                                   [rgb](jpeg_compress_struct &info) { feedRgb(info, rgb); });
    });
}

int VideoCodec::compressPlanes(const Planes &planes, int quality, uchar *out, int maxLength)
{
    const int w = planes.width;
    const int h = planes.height;
    // The library reads whole blocks of every row: rows as wide as whole macroblocks.
    if (!planes.y || !planes.u || !planes.v || w <= 0 || h <= 0 || w % 16 != 0 || planes.yStride < w
        || planes.chromaStride < (w + 1) / 2)
        return 0;
    return compressWith(w, h, quality, out, maxLength, [&](int q, uchar *scratch, unsigned long size) {
        return encodeWithOwnTables(w, h, true, q, scratch, size,
                                   [&planes](jpeg_compress_struct &info) { feedPlanes(info, planes); });
    });
}

int VideoCodec::compressWith(int width, int height, int quality, uchar *out, int maxLength,
                             const std::function<long(int, uchar *, unsigned long)> &encodeAt)
{
    if (!m_compressor || !out || maxLength <= 0 || width <= 0 || height <= 0 || width > MaxDimension
        || height > MaxDimension)
        return 0;

    // One scratch buffer large enough for any quality; the result is copied out only when it
    // fits, so `out` is never touched by a failed attempt.
    const unsigned long scratchSize = tjBufSize(width, height, TJSAMP_420);
    if (scratchSize == static_cast<unsigned long>(-1) || scratchSize > 0x7fffffffUL)
        return 0;
    uchar *scratch = tjAlloc(static_cast<int>(scratchSize));
    if (!scratch)
        return 0;

    // Returns the encoded length, or -1 when the library fails.
    auto encode = [&](int q) -> long { return encodeAt(q, scratch, scratchSize); };
    auto accept = [&](long size) {
        std::memcpy(out, scratch, static_cast<size_t>(size));
        tjFree(scratch);
        return static_cast<int>(size);
    };

    const int start = std::clamp(quality, 1, 100);
    bool terminatorSeen = false;
    for (int q = start; q >= 1;) {
        const long size = encode(q);
        if (size < 0) {
            tjFree(scratch);
            return 0;
        }
        if (size > maxLength) {
            // Far too large: take bigger steps so a busy picture does not cost dozens of
            // encodings; close to the limit, step by one to keep the best quality that fits.
            q -= size > maxLength + maxLength / 2 ? std::max(1, q / 4) : 1;
            continue;
        }
        if (containsTerminator(scratch, size)) {
            terminatorSeen = true;
            --q;
            continue;
        }
        return accept(size);
    }
    // Every lower quality that fitted carried the terminator (only plausible for tiny
    // pictures): try the qualities above instead while they still fit.
    if (terminatorSeen) {
        for (int q = start + 1; q <= 100; ++q) {
            const long size = encode(q);
            if (size < 0 || size > maxLength)
                break;
            if (!containsTerminator(scratch, size))
                return accept(size);
        }
    }
    tjFree(scratch);
    return 0;
}

bool VideoCodec::pictureSize(const uchar *data, int length, int *width, int *height)
{
    if (!m_decompressor || !data || length <= 0 || !width || !height)
        return false;
    int w = 0;
    int h = 0;
    int subsampling = 0;
    int colorspace = 0;
    // The library takes a non-const pointer but does not write through it.
    if (tjDecompressHeader3(static_cast<tjhandle>(m_decompressor), const_cast<uchar *>(data),
                            static_cast<unsigned long>(length), &w, &h, &subsampling, &colorspace)
            != 0
        || w <= 0 || h <= 0 || w > MaxDimension || h > MaxDimension)
        return false;
    *width = w;
    *height = h;
    return true;
}

int VideoCodec::unCompressStill(const uchar *data, int length, int *width, int *height, uchar *image,
                                int imageCapacity, int expectWidth, int expectHeight)
{
    if (width)
        *width = 0;
    if (height)
        *height = 0;
    if (!m_decompressor || !data || length <= 0 || !image || imageCapacity <= 0)
        return 0;
    auto handle = static_cast<tjhandle>(m_decompressor);
    auto *jpeg = const_cast<uchar *>(data);
    int w = 0;
    int h = 0;
    if (!pictureSize(data, length, &w, &h))
        return 0;
    if ((expectWidth > 0 && w != expectWidth) || (expectHeight > 0 && h != expectHeight))
        return 0;
    const qint64 bytes = qint64(w) * h * 3;
    if (bytes > imageCapacity)
        return 0;

    // Any warning (truncated data, corrupt entropy code) counts as failure: a half-decoded
    // picture is not shown. The scan limit stops crafted progressive files from looping.
    if (tjDecompress2(handle, jpeg, static_cast<unsigned long>(length), image, w, 0, h, TJPF_RGB,
                      TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS) != 0)
        return 0;
    if (width)
        *width = w;
    if (height)
        *height = h;
    return static_cast<int>(bytes);
}

QImage VideoCodec::decodePicture(const uchar *data, int length, const QList<QSize> &sizes)
{
    // The size is read from the header first, so a size nobody sends costs no decode.
    int w = 0;
    int h = 0;
    if (!pictureSize(data, length, &w, &h) || !sizes.contains(QSize(w, h)))
        return {};
    QImage picture(w, h, QImage::Format_RGB32);
    if (picture.isNull())
        return {};
    // Decoded in the window's own pixel layout, the picture is painted without conversion.
    const int layout = Q_BYTE_ORDER == Q_LITTLE_ENDIAN ? TJPF_BGRX : TJPF_XRGB;
    if (tjDecompress2(static_cast<tjhandle>(m_decompressor), const_cast<uchar *>(data),
                      static_cast<unsigned long>(length), picture.bits(), w, int(picture.bytesPerLine()), h, layout,
                      TJFLAG_STOPONWARNING | TJFLAG_LIMITSCANS)
        != 0)
        return {};
    return picture;
}

int VideoCodec::downSampleImg(const uchar *src, int srcWidth, int srcHeight, uchar *dst, int dstWidth,
                              int dstHeight, int dstCapacity)
{
    if (!src || !dst || srcWidth <= 0 || srcHeight <= 0 || dstWidth <= 0 || dstHeight <= 0
        || srcWidth > MaxDimension || srcHeight > MaxDimension)
        return 0;
    const qint64 bytes = qint64(dstWidth) * dstHeight * 3;
    if (bytes > dstCapacity)
        return 0;

    // Shrinking in place is safe: every target pixel lies at or before the first source pixel
    // of its area, and later areas start later still. Enlarging is not, so it works on a copy.
    std::vector<uchar> copy;
    const qint64 srcBytes = qint64(srcWidth) * srcHeight * 3;
    const bool overlaps = src < dst + bytes && dst < src + srcBytes;
    if (overlaps && (dstWidth > srcWidth || dstHeight > srcHeight)) {
        copy.assign(src, src + srcBytes);
        src = copy.data();
    }

    const qint64 srcStride = qint64(srcWidth) * 3;
    if (srcWidth == 2 * dstWidth && srcHeight == 2 * dstHeight) {
        for (int y = 0; y < dstHeight; ++y) {
            const uchar *row0 = src + 2 * y * srcStride;
            const uchar *row1 = row0 + srcStride;
            uchar *target = dst + qint64(y) * dstWidth * 3;
            for (int x = 0; x < dstWidth; ++x) {
                for (int c = 0; c < 3; ++c) {
                    const int sum = row0[6 * x + c] + row0[6 * x + 3 + c] + row1[6 * x + c]
                                    + row1[6 * x + 3 + c];
                    target[3 * x + c] = static_cast<uchar>((sum + 2) / 4);
                }
            }
        }
        return static_cast<int>(bytes);
    }

    // General case: each target pixel is the mean of the source pixels whose area it covers
    // (at least one, so enlarging repeats pixels).
    for (int y = 0; y < dstHeight; ++y) {
        const int y0 = int(qint64(y) * srcHeight / dstHeight);
        const int y1 = std::max(y0 + 1, int(qint64(y + 1) * srcHeight / dstHeight));
        uchar *target = dst + qint64(y) * dstWidth * 3;
        for (int x = 0; x < dstWidth; ++x) {
            const int x0 = int(qint64(x) * srcWidth / dstWidth);
            const int x1 = std::max(x0 + 1, int(qint64(x + 1) * srcWidth / dstWidth));
            qint64 sum[3] = {0, 0, 0};
            for (int sy = y0; sy < y1; ++sy) {
                const uchar *p = src + sy * srcStride + qint64(x0) * 3;
                for (int sx = x0; sx < x1; ++sx, p += 3) {
                    sum[0] += p[0];
                    sum[1] += p[1];
                    sum[2] += p[2];
                }
            }
            const qint64 n = qint64(y1 - y0) * (x1 - x0);
            for (int c = 0; c < 3; ++c)
                target[3 * x + c] = static_cast<uchar>((sum[c] + n / 2) / n);
        }
    }
    return static_cast<int>(bytes);
}

int VideoCodec::textToImage(uchar *image, int capacity, int *width, int *height, const QString &text)
{
    if (width)
        *width = 0;
    if (height)
        *height = 0;
    if (!image || capacity <= 0 || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return 0;

    QString line = text;
    line.replace(QLatin1Char('\r'), QLatin1Char(' ')).replace(QLatin1Char('\n'), QLatin1Char(' '));
    QFont font = QGuiApplication::font();
    font.setPixelSize(TextPixelSize);
    const QFontMetrics metrics(font);
    // A margin on either side keeps the first and last letters off the picture's edge; an
    // empty text still gives a (blank) picture.
    const qint64 advance = metrics.horizontalAdvance(line);
    const qint64 w = advance + 2 * TextMargin;
    const qint64 h = std::max(1, metrics.height());
    if (w > MaxDimension || w * h * 3 > capacity)
        return 0;

    QImage picture(int(w), int(h), QImage::Format_RGB888);
    picture.fill(Qt::black);
    {
        QPainter painter(&picture);
        painter.setFont(font);
        painter.setPen(Qt::white);
        painter.drawText(TextMargin, metrics.ascent(), line);
    }
    const int rowBytes = int(w) * 3;
    for (int y = 0; y < h; ++y)
        std::memcpy(image + qint64(y) * rowBytes, picture.constScanLine(y), size_t(rowBytes));
    if (width)
        *width = int(w);
    if (height)
        *height = int(h);
    return int(w * h * 3);
}

bool VideoCodec::burnImage(uchar *frame, int frameWidth, int frameHeight, const uchar *image,
                           int imageWidth, int imageHeight, int x, int y)
{
    if (!frame || !image || frameWidth <= 0 || frameHeight <= 0 || imageWidth <= 0 || imageHeight <= 0)
        return false;
    if (x < 0 || y < 0 || qint64(x) + imageWidth > frameWidth || qint64(y) + imageHeight > frameHeight)
        return false;
    const qint64 frameStride = qint64(frameWidth) * 3;
    const size_t rowBytes = size_t(imageWidth) * 3;
    for (int row = 0; row < imageHeight; ++row)
        std::memcpy(frame + (y + row) * frameStride + qint64(x) * 3, image + row * rowBytes, rowBytes);
    return true;
}
