#pragma once

#include "media/engine/CameraDevice.h"

#include <QCameraDevice>
#include <QPointer>

class QCamera;
class QMediaCaptureSession;

// A camera of the machine through QCamera and a capture session that feeds the given sink.
class QtCameraDevice : public CameraDevice
{
    Q_OBJECT

public:
    explicit QtCameraDevice(const QCameraDevice &device, QObject *parent = nullptr);
    ~QtCameraDevice() override;

    QString name() const override;
    QList<CameraFormat> formats() const override;
    void setFormat(int index) override;
    bool start(QVideoSink *sink) override;
    void stop() override;
    bool isActive() const override;

private:
    void release();

    QCameraDevice m_device;
    QCamera *m_camera = nullptr;
    QMediaCaptureSession *m_session = nullptr;
    QPointer<QVideoSink> m_sink;
    int m_format = -1;
};
