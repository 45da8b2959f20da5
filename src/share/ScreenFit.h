#pragma once

#include "media/picture/CameraFormat.h"

#include <QList>
#include <QRect>
#include <QSize>
#include <QVideoFrame>

// A shared screen or window placed whole in a call's frame: scaled to fit, centred, with
// black bars, never cropped (a camera's picture may lose its edges, a document may not).
// A large source is read in tiles, each no larger than asked, so the memory a capture
// needs stays bounded whatever the size of the screen.
class ScreenFit
{
public:
    ScreenFit() = default;
    ScreenFit(const ScreenFit &) = delete;
    ScreenFit &operator=(const ScreenFit &) = delete;
    ~ScreenFit();

    struct Tile
    {
        QRect source; // in the source's pixels
        QRect target; // in the frame's pixels
    };

    // The formats a shared source offers: each of the call's sizes (the source fitted in,
    // with bars), and last the source at its own size within VideoEngine::MaxSharedSize,
    // for a peer whose coding keeps 10-pixel text readable at that size.
    static QList<CameraFormat> formats(float fps);
    // `index` when it names one of formats(), else -1.
    static int checkedFormat(int index);
    // The frame a source of `source` size gives in format `index` (-1: the smallest size
    // a call starts at).
    static QSize frameSize(int index, QSize source);

    // Starts a frame of `frame` size for a source of `source` size. False (and no frame)
    // for an empty size.
    bool begin(QSize frame, QSize source);
    // Where the source goes in the frame.
    QRect placement() const { return m_placement; }
    // The tiles that make up the whole source, each at most maxTile (in source pixels).
    // Where one row or column of the frame stands for more source pixels than a tile
    // holds, the middle of those pixels is read.
    QList<Tile> tiles(QSize maxTile) const;
    // Scales one tile's pixels (32-bit, `stride` bytes a row, the tile's top left first;
    // blue first in memory, or red first when redFirst) into the frame.
    void put(const uchar *pixels, int stride, const Tile &tile, bool redFirst = false);
    // The frame made so far (32-bit BGRX); invalid before begin.
    QVideoFrame frame();

private:
    QSize m_frameSize;
    QSize m_source;
    QRect m_placement;
    QVideoFrame m_frame;
    bool m_mapped = false;
};
