#pragma once

#include <QImage>
#include <QSize>

// A picture that is hard to code, as a real camera's is: a finely textured surface
// panning steadily, a ball crossing it, and sensor noise that differs in every frame.
// A frame depends only on its number and the size, so a receiver can paint the frame it
// was sent again and compare what it drew against it.
class TexturedScene
{
public:
    explicit TexturedScene(QSize size);

    QSize size() const { return m_tile.isNull() ? QSize() : m_size; }
    // Paints frame `frameNumber` over the whole of `image` (RGB32, of this scene's size).
    void paint(QImage &image, quint32 frameNumber) const;

private:
    QSize m_size;
    // The surface, repeating without a seam in both directions.
    QImage m_tile;
};
