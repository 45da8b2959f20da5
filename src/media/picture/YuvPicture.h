#pragma once

#include <QSize>

#include <cstdint>
#include <vector>

// A picture as the video coder takes it: 4:2:0 planes in video range (BT.601), luma at
// full size and each chroma plane at half the width and half the height, one buffer
// with the three planes one after the other and no padding. Width and height are even.
struct YuvPicture
{
    int width = 0;
    int height = 0;
    std::vector<uint8_t> data;

    // Makes room for a picture of `size` (false, and empty, for an odd or empty size).
    bool allocate(QSize size)
    {
        if (size.width() <= 0 || size.height() <= 0 || size.width() % 2 || size.height() % 2) {
            width = height = 0;
            data.clear();
            return false;
        }
        width = size.width();
        height = size.height();
        data.resize(size_t(width) * height * 3 / 2);
        return true;
    }
    bool isNull() const { return width <= 0 || height <= 0 || data.size() < size_t(width) * height * 3 / 2; }
    QSize size() const { return {width, height}; }
    int chromaWidth() const { return width / 2; }
    uint8_t *y() { return data.data(); }
    uint8_t *u() { return data.data() + size_t(width) * height; }
    uint8_t *v() { return u() + size_t(chromaWidth()) * (height / 2); }
    const uint8_t *y() const { return data.data(); }
    const uint8_t *u() const { return data.data() + size_t(width) * height; }
    const uint8_t *v() const { return u() + size_t(chromaWidth()) * (height / 2); }
};
