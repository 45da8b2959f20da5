#include "media/picture/CameraFormat.h"

#include <cmath>

QString CameraFormat::key() const
{
    return QStringLiteral("%1x%2;%3;%4")
        .arg(resolution.width())
        .arg(resolution.height())
        .arg(QVideoFrameFormat::pixelFormatToString(pixelFormat))
        .arg(qRound(maxFps));
}

QString CameraFormat::description() const
{
    return QStringLiteral("%1 x %2  %3  %4 fps")
        .arg(resolution.width())
        .arg(resolution.height())
        .arg(QVideoFrameFormat::pixelFormatToString(pixelFormat))
        .arg(qRound(maxFps));
}
