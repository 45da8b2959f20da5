#include "media/picture/QtCameraDevice.h"

#include <QCamera>
#include <QMediaCaptureSession>
#include <QVideoSink>

QtCameraDevice::QtCameraDevice(const QCameraDevice &device, QObject *parent)
    : CameraDevice(parent)
    , m_device(device)
{
}

QtCameraDevice::~QtCameraDevice()
{
    release();
}

QString QtCameraDevice::name() const
{
    return m_device.description();
}

QList<CameraFormat> QtCameraDevice::formats() const
{
    QList<CameraFormat> list;
    for (const QCameraFormat &f : m_device.videoFormats())
        list.append(CameraFormat{f.resolution(), f.pixelFormat(), f.maxFrameRate()});
    return list;
}

void QtCameraDevice::setFormat(int index)
{
    m_format = (index >= 0 && index < m_device.videoFormats().size()) ? index : -1;
}

bool QtCameraDevice::start()
{
    if (m_device.isNull())
        return false;
    if (!m_camera) {
        m_camera = new QCamera(m_device, this);
        m_session = new QMediaCaptureSession(this);
        m_session->setCamera(m_camera);
        connect(m_camera, &QCamera::errorOccurred, this, [this](QCamera::Error error, const QString &text) {
            if (error != QCamera::NoError)
                emit failed(text.isEmpty() ? tr("The camera stopped.") : text);
        });
    }
    if (!m_sink) {
        // The media framework's sink loads its whole back end: made only for a camera that starts.
        m_sink = new QVideoSink(this);
        connect(m_sink, &QVideoSink::videoFrameChanged, this, &CameraDevice::frameReady);
        m_session->setVideoSink(m_sink);
    }
    if (m_format >= 0)
        m_camera->setCameraFormat(m_device.videoFormats().value(m_format));
    m_camera->start();
    return m_camera->error() == QCamera::NoError;
}

void QtCameraDevice::stop()
{
    if (m_camera)
        m_camera->stop();
}

bool QtCameraDevice::isActive() const
{
    return m_camera && m_camera->isActive();
}

void QtCameraDevice::release()
{
    if (!m_camera)
        return;
    m_camera->disconnect(this);
    m_camera->stop();
    m_session->setVideoSink(nullptr);
    m_session->setCamera(nullptr);
    delete m_session;
    delete m_camera;
    m_session = nullptr;
    m_camera = nullptr;
}
