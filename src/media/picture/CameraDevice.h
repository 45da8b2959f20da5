#pragma once

#include "media/picture/CameraFormat.h"

#include <QList>
#include <QObject>
#include <QString>

#include <QVideoFrame>

// A source of video frames. A started device delivers its frames with frameReady, in
// whatever pixel format it produces; the video engine converts them.
class CameraDevice : public QObject
{
    Q_OBJECT

public:
    using QObject::QObject;

    virtual QString name() const = 0;
    virtual QList<CameraFormat> formats() const = 0;
    // Index into formats(); takes effect at the next start. -1 lets the device choose.
    virtual void setFormat(int index) = 0;
    // Returns false when the device cannot be started at all.
    virtual bool start() = 0;
    virtual void stop() = 0;
    virtual bool isActive() const = 0;

signals:
    // The device stopped delivering because of an error (busy, unplugged, ...).
    void failed(const QString &reason);
    // A frame, while started.
    void frameReady(const QVideoFrame &frame);
};
