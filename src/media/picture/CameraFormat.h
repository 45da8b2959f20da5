#pragma once

#include <QSize>
#include <QString>
#include <QVideoFrameFormat>

// One format a camera offers: resolution, pixel format and frame rate.
struct CameraFormat
{
    QSize resolution;
    QVideoFrameFormat::PixelFormat pixelFormat = QVideoFrameFormat::Format_Invalid;
    float maxFps = 0.0f;

    // Stable text that identifies the format in the capture profile, e.g. "640x480;YUYV;30".
    QString key() const;
    // Text for the format dialog, e.g. "640 x 480  YUYV  30 fps".
    QString description() const;

    bool operator==(const CameraFormat &other) const = default;
};
