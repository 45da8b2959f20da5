#include "share/ScreenFit.h"

#include "media/VideoEngine.h"

#include <QVideoFrameFormat>

#include <libyuv.h>

#include <algorithm>
#include <cstring>

namespace {

// Splits `count` frame pixels standing for `source` source pixels into bands of at most
// `most` source pixels each: [frame start, frame end) with their [source start, source end).
struct Band
{
    int frameStart;
    int frameEnd;
    int sourceStart;
    int sourceEnd;
};

QList<Band> bands(int count, int source, int most)
{
    most = std::max(1, most);
    // Each band's source part is its share plus up to one frame pixel's worth of rounding.
    const int perPixel = (source + count - 1) / count;
    const int room = std::max(1, most - perPixel);
    const int wanted = source <= most ? 1 : (source + room - 1) / room;
    const int n = std::clamp(wanted, 1, count);
    QList<Band> list;
    for (int i = 0; i < n; ++i) {
        Band b;
        b.frameStart = int(qint64(i) * count / n);
        b.frameEnd = int(qint64(i + 1) * count / n);
        b.sourceStart = int(qint64(b.frameStart) * source / count);
        b.sourceEnd = std::max(b.sourceStart + 1, int(qint64(b.frameEnd) * source / count));
        if (b.sourceEnd - b.sourceStart > most) {
            // More source than a tile holds for this part of the frame: its middle.
            const int middle = (b.sourceStart + b.sourceEnd) / 2;
            b.sourceStart = std::max(0, middle - most / 2);
            b.sourceEnd = std::min(source, b.sourceStart + most);
        }
        list.append(b);
    }
    return list;
}

} // namespace

QList<CameraFormat> ScreenFit::formats(float fps)
{
    QList<CameraFormat> list;
    for (const QSize &size : VideoEngine::captureSizes())
        list.append(CameraFormat{size, QVideoFrameFormat::Format_BGRX8888, fps});
    list.append(CameraFormat{VideoEngine::MaxSharedSize, QVideoFrameFormat::Format_BGRX8888, fps});
    return list;
}

int ScreenFit::checkedFormat(int index)
{
    return index >= 0 && index <= VideoEngine::captureSizes().size() ? index : -1;
}

QSize ScreenFit::frameSize(int index, QSize source)
{
    const QList<QSize> sizes = VideoEngine::captureSizes();
    if (index != sizes.size() || source.isEmpty())
        return sizes.value(index, QSize(320, 240));
    // Never enlarged; even sides, as the coders take them.
    QSize own = source;
    const QSize bound = VideoEngine::MaxSharedSize;
    if (own.width() > bound.width() || own.height() > bound.height())
        own.scale(bound, Qt::KeepAspectRatio);
    return {std::max(2, own.width() & ~1), std::max(2, own.height() & ~1)};
}

ScreenFit::~ScreenFit()
{
    if (m_mapped)
        m_frame.unmap();
}

bool ScreenFit::begin(QSize frame, QSize source)
{
    if (m_mapped)
        m_frame.unmap();
    m_mapped = false;
    m_frame = QVideoFrame();
    m_placement = QRect();
    if (frame.isEmpty() || source.isEmpty())
        return false;
    m_frameSize = frame;
    m_source = source;
    // The largest size of the source's shape that fits, centred.
    const qint64 byWidth = qint64(frame.width()) * source.height();
    const qint64 byHeight = qint64(frame.height()) * source.width();
    QSize placed;
    if (byWidth <= byHeight)
        placed = QSize(frame.width(), int(std::max<qint64>(1, byWidth / source.width())));
    else
        placed = QSize(int(std::max<qint64>(1, byHeight / source.height())), frame.height());
    placed = placed.boundedTo(frame);
    m_placement = QRect(QPoint((frame.width() - placed.width()) / 2, (frame.height() - placed.height()) / 2), placed);

    m_frame = QVideoFrame(QVideoFrameFormat(frame, QVideoFrameFormat::Format_BGRX8888));
    if (!m_frame.map(QVideoFrame::WriteOnly)) {
        m_frame = QVideoFrame();
        return false;
    }
    m_mapped = true;
    for (int y = 0; y < frame.height(); ++y)
        std::memset(m_frame.bits(0) + qsizetype(y) * m_frame.bytesPerLine(0), 0, size_t(frame.width()) * 4);
    return true;
}

QList<ScreenFit::Tile> ScreenFit::tiles(QSize maxTile) const
{
    QList<Tile> list;
    if (m_placement.isEmpty())
        return list;
    const QList<Band> rows = bands(m_placement.height(), m_source.height(), maxTile.height());
    const QList<Band> columns = bands(m_placement.width(), m_source.width(), maxTile.width());
    for (const Band &r : rows) {
        for (const Band &c : columns) {
            Tile t;
            t.source = QRect(c.sourceStart, r.sourceStart, c.sourceEnd - c.sourceStart, r.sourceEnd - r.sourceStart);
            t.target = QRect(m_placement.x() + c.frameStart, m_placement.y() + r.frameStart, c.frameEnd - c.frameStart,
                             r.frameEnd - r.frameStart);
            if (!t.target.isEmpty())
                list.append(t);
        }
    }
    return list;
}

void ScreenFit::put(const uchar *pixels, int stride, const Tile &tile, bool redFirst)
{
    if (!m_mapped || !pixels || tile.source.isEmpty() || tile.target.isEmpty()
        || !QRect(QPoint(0, 0), m_frameSize).contains(tile.target) || stride < tile.source.width() * 4)
        return;
    const int dstStride = int(m_frame.bytesPerLine(0));
    uchar *dst = m_frame.bits(0) + qsizetype(tile.target.y()) * dstStride + qsizetype(tile.target.x()) * 4;
    // The box filter keeps small type legible when a screen is scaled down a lot.
    libyuv::ARGBScale(pixels, stride, tile.source.width(), tile.source.height(), dst, dstStride, tile.target.width(),
                      tile.target.height(), libyuv::kFilterBox);
    // Red and blue change places in the small frame, not in the large source.
    if (redFirst)
        libyuv::ABGRToARGB(dst, dstStride, dst, dstStride, tile.target.width(), tile.target.height());
}

QVideoFrame ScreenFit::frame()
{
    if (m_mapped) {
        m_frame.unmap();
        m_mapped = false;
    }
    return m_frame;
}
