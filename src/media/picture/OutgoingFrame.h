#pragma once

#include <QImage>
#include <QSize>

// A camera frame on its way to the coder: taken as the latest, scaled, coded, sent. While
// `inCamera` it is still the camera's own and is coded straight from its planes when it
// needs no change; otherwise `picture` is its 24-bit RGB form.
struct OutgoingFrame
{
    QSize size;
    bool inCamera = false;
    QImage picture;

    bool isEmpty() const { return size.isEmpty(); }
    // The camera's frame as it stands, not yet taken out of the camera.
    static OutgoingFrame fromCamera(QSize size) { return {size, true, {}}; }
    static OutgoingFrame fromPicture(const QImage &picture)
    {
        return {picture.isNull() ? QSize() : picture.size(), false, picture};
    }
};
