#pragma once

#include "media/picture/CameraDevice.h"

#include <QCameraDevice>
#include <QPointer>

class QCamera;
class QMediaCaptureSession;
class QVideoSink;

// A camera of the machine through QCamera and a capture session that feeds a sink of its own.
class QtCameraDevice : public CameraDevice
{
    Q_OBJECT

public:
    explicit QtCameraDevice(const QCameraDevice &device, QObject *parent = nullptr);
    ~QtCameraDevice() override;

    QString name() const override;
    QList<CameraFormat> formats() const override;
    void setFormat(int index) override;
    bool start() override;
    void stop() override;
    bool isActive() const override;

private:
    void release();

    QCameraDevice m_device;
    QCamera *m_camera = nullptr;
    QMediaCaptureSession *m_session = nullptr;
    QVideoSink *m_sink = nullptr;
    int m_format = -1;
};
