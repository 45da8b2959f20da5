#include "media/picture/TexturedScene.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Sizes below are given for a 640-pixel-wide picture and scaled to the scene's width.
constexpr int ReferenceWidth = 640;
constexpr int TileAt640 = 256;
// The surface moves this far each frame, about what a hand-held camera drifts.
constexpr int PanXAt640 = 3;
constexpr int PanYAt640 = 1;

quint32 mix(quint32 x)
{
    x ^= x >> 16;
    x *= 0x7feb352dU;
    x ^= x >> 15;
    x *= 0x846ca68bU;
    x ^= x >> 16;
    return x;
}

// A lattice value in [0, 1) for one layer of the surface, repeating every `period` cells.
double lattice(quint32 seed, int i, int j, int period)
{
    i = ((i % period) + period) % period;
    j = ((j % period) + period) % period;
    return double(mix(seed ^ mix(quint32(i) * 73856093U ^ quint32(j) * 19349663U)) >> 8) / double(1 << 24);
}

// Smoothly interpolated lattice noise over several cell sizes, from large patches down
// to a grain a few pixels across: the detail a coder must spend its bits on.
double surface(quint32 seed, int x, int y, int tile)
{
    double sum = 0;
    double weight = 0;
    double amplitude = 1;
    for (int cells = 4; cells <= tile / 2; cells *= 2, amplitude *= 0.7) {
        const double cell = double(tile) / cells;
        const double fx = x / cell;
        const double fy = y / cell;
        const int ix = int(std::floor(fx));
        const int iy = int(std::floor(fy));
        auto smooth = [](double t) { return t * t * (3 - 2 * t); };
        const double tx = smooth(fx - ix);
        const double ty = smooth(fy - iy);
        const quint32 layer = seed + quint32(cells);
        const double top = lattice(layer, ix, iy, cells) * (1 - tx) + lattice(layer, ix + 1, iy, cells) * tx;
        const double bottom =
            lattice(layer, ix, iy + 1, cells) * (1 - tx) + lattice(layer, ix + 1, iy + 1, cells) * tx;
        sum += amplitude * (top * (1 - ty) + bottom * ty);
        weight += amplitude;
    }
    return sum / weight;
}

QImage makeTile(int tile)
{
    QImage image(tile, tile, QImage::Format_RGB32);
    for (int y = 0; y < tile; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < tile; ++x) {
            const double a = surface(1, x, y, tile);
            const double b = surface(2, x, y, tile);
            // A woven grain on top, repeating a whole number of times across the tile.
            const double weave = 0.07 * std::sin(2 * M_PI * 32 * (x + y) / tile);
            auto channel = [](double v) { return std::clamp(int(v * 255), 0, 255); };
            line[x] = qRgb(channel(0.15 + 0.85 * a + weave), channel(0.1 + 0.5 * a + 0.4 * b + weave),
                           channel(0.2 + 0.7 * b + weave));
        }
    }
    return image;
}

} // namespace

TexturedScene::TexturedScene(QSize size)
    : m_size(size)
{
    if (size.width() < 16 || size.height() < 16)
        return;
    m_tile = makeTile(std::max(8, TileAt640 * size.width() / ReferenceWidth));
}

void TexturedScene::paint(QImage &image, quint32 frameNumber) const
{
    if (m_tile.isNull() || image.size() != m_size || image.format() != QImage::Format_RGB32)
        return;
    const int w = m_size.width();
    const int h = m_size.height();
    const int tile = m_tile.width();
    const int offsetX = int((quint64(frameNumber) * PanXAt640 * w / ReferenceWidth) % quint64(tile));
    const int offsetY = int((quint64(frameNumber) * PanYAt640 * w / ReferenceWidth) % quint64(tile));
    for (int y = 0; y < h; ++y) {
        const auto *source = reinterpret_cast<const QRgb *>(m_tile.constScanLine((y + offsetY) % tile));
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        int x = 0;
        int from = offsetX;
        while (x < w) {
            const int run = std::min(w - x, tile - from);
            std::memcpy(line + x, source + from, size_t(run) * sizeof(QRgb));
            x += run;
            from = 0;
        }
    }

    // A ball crossing the surface: a sharp edge in motion.
    const int ball = std::max(4, h / 6);
    const int travelX = std::max(1, w - ball);
    const int travelY = std::max(1, h - ball);
    const int px = int((quint64(frameNumber) * 5 * w / ReferenceWidth) % quint64(2 * travelX));
    const int py = int((quint64(frameNumber) * 3 * w / ReferenceWidth) % quint64(2 * travelY));
    QPainter painter(&image);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(230, 120, 40));
    painter.drawEllipse(QRect(px < travelX ? px : 2 * travelX - px, py < travelY ? py : 2 * travelY - py, ball, ball));
    painter.end();

    // The sensor's noise: the same on the three colours, new in every frame.
    quint32 state = mix(frameNumber + 0x9e3779b9U) | 1U;
    for (int y = 0; y < h; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            const int noise = int(state & 7) + int((state >> 3) & 7) - 7;
            const QRgb p = line[x];
            line[x] = qRgb(std::clamp(qRed(p) + noise, 0, 255), std::clamp(qGreen(p) + noise, 0, 255),
                           std::clamp(qBlue(p) + noise, 0, 255));
        }
    }
}
