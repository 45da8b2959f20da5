#include "media/CaptureControl.h"

#include "core/Settings.h"
#include "media/picture/CameraDevice.h"
#include "media/VideoEngine.h"

#include <cmath>

namespace {

QString cutAtNul(const QString &name)
{
    const qsizetype nul = name.indexOf(QChar(0));
    return nul < 0 ? name : name.left(nul);
}

} // namespace

CaptureControl::CaptureControl(Settings &settings, VideoEngine &engine, QObject *parent)
    : QObject(parent)
    , m_settings(settings)
    , m_engine(engine)
{
    // A camera that fails once running (taken by another program, unplugged) is the same
    // trouble as one that cannot be started: no more frames are taken from it.
    connect(&m_engine, &VideoEngine::captureFailed, this, [this](const QString &) {
        if (!m_ready)
            return;
        m_ready = false;
        emit errorMessage(deviceInUseText());
    });
    connect(&m_engine, &VideoEngine::sharingEnded, this, &CaptureControl::sharingStopped);
}

QString CaptureControl::deviceInUseText()
{
    return tr("Another application is using the Video device or has failed to properly release the "
              "Video Capture device driver.  Close the application or Reboot your computer and run "
              "ZELMO again to fix this problem.");
}

QString CaptureControl::deviceInUseAfterChoiceText()
{
    return tr("Another application is using the Video device or has failed to properly release the "
              "Video Capture device driver.  Close the application or Reboot your computer and run "
              "again to fix this problem.");
}

QString CaptureControl::unsupportedFormatText()
{
    return tr("The video format is not correct.  Set your Video size to 160x120, 320x240, QCIF or "
              "CIF.  The following formats are supported: 12bit YUV, Indeo Raw, 4 bit (16 greys), 6 "
              "bit (64 greys), 8 bit (256 greys), 16 bit (Thousands of Colors, RGBH) and 24 bit "
              "(Millions of Colors, RGBT)");
}

void CaptureControl::startCapture()
{
    m_ready = true;
    m_engine.setCompOnFrame(false);

    m_drivers.clear();
    for (const QString &name : m_engine.driverNames())
        m_drivers.append(cutAtNul(name));

    if (!m_engine.driverConnect(m_settings.DriverNum)) {
        m_engine.setCapStatus(false);
        m_ready = false;
        m_running = false;
        m_currentDriver.clear();
        setLamp(LampNone);
        return;
    }

    applyScale();
    m_currentDriver = cutAtNul(m_engine.driverGetName());
    m_engine.previewRate(m_previewRate);

    if (m_engine.initCapture() != 0) {
        m_ready = false;
        emit errorMessage(deviceInUseText());
    }
    setLamp(LampOn);
    m_running = true;
    m_engine.setCapStatus(true);
    m_engine.setCompOnFrame(false);
}

void CaptureControl::pauseCapture()
{
    setLamp(LampOff);
    m_engine.previewRate(0);
    m_engine.setCapStatus(false);
    m_running = false;
}

void CaptureControl::resumeCapture()
{
    m_engine.grabFrameNoStop();
    setLamp(LampOn);
    m_engine.setCapStatus(true);
    m_running = true;
    emit resumed();
}

void CaptureControl::closeCapture()
{
    m_engine.closeCapture();
    m_engine.driverDisconnect();
}

void CaptureControl::setInCall(bool inCall)
{
    m_engine.useCamera(VideoEngine::CallUse, inCall);
}

bool CaptureControl::startSharing(std::unique_ptr<CameraDevice> source)
{
    const bool wasSharing = m_sharing;
    const bool runningBefore = wasSharing ? m_runningBeforeSharing : m_running;
    if (!m_engine.shareSource(std::move(source))) {
        if (wasSharing)
            sharingStopped(QString());
        return false;
    }
    m_sharing = true;
    m_runningBeforeSharing = runningBefore;
    m_engine.setCapStatus(true);
    m_running = true;
    applyScale();
    if (!wasSharing)
        emit sharingChanged(true, QString());
    return true;
}

void CaptureControl::stopSharing()
{
    if (!m_sharing)
        return;
    m_engine.endSharing();
    sharingStopped(QString());
}

void CaptureControl::sharingStopped(const QString &reason)
{
    if (!m_sharing)
        return;
    m_sharing = false;
    // A capture the user had paused stays paused; without a camera there is none.
    if (!m_runningBeforeSharing || !driverConnected()) {
        m_running = false;
        m_engine.setCapStatus(false);
    }
    emit sharingChanged(false, reason);
}

void CaptureControl::chooseDriver(const QString &name)
{
    const int index = int(m_drivers.indexOf(name));
    const int current = m_settings.DriverNum;
    if (m_drivers.size() < 2 || index < 0)
        return;
    if (current >= 0 && current < m_drivers.size() && m_drivers.at(current) == name)
        return;

    m_settings.DriverNum = qint16(index);
    pauseCapture();
    m_engine.closeCapture();
    m_engine.driverDisconnect();
    if (!m_engine.driverConnect(index)) {
        // Nothing is connected now, so nothing may be taken from it.
        m_ready = false;
        m_currentDriver.clear();
        setLamp(LampNone);
        return;
    }
    m_currentDriver = cutAtNul(m_engine.driverGetName());
    // Delivery is allowed before the start, so a camera that cannot start is found now.
    m_engine.setCapStatus(true);
    // A driver that starts makes capture usable again, even after an earlier failure.
    m_ready = m_engine.initCapture() == 0;
    if (!m_ready)
        emit errorMessage(deviceInUseAfterChoiceText());
    setLamp(LampOn);
    m_running = true;
    m_engine.setCapStatus(true);
    applyScale();
}

void CaptureControl::checkCaptureSize()
{
    if (!m_ready)
        return;
    int width = 0;
    int height = 0;
    if (!m_engine.getVideoSettings(&width, &height) || width <= 0 || height <= 0)
        return;
    if (QSize(width, height) == m_lastSize)
        return;
    applyScale();
    const QSize picture(int(std::lround(width / m_scaleX)), int(std::lround(height / m_scaleY)));
    emit selfViewSizeChanged(picture, QStringLiteral("%1x%2").arg(width).arg(height));
    m_lastSize = QSize(width, height);
}

void CaptureControl::applyScale()
{
    int width = 0;
    int height = 0;
    m_engine.getVideoSettings(&width, &height);
    const bool scaled = width > 320;
    m_engine.previewScale(scaled);
    m_scaleX = scaled ? width / 320.0 : 1.0;
    m_scaleY = scaled ? height / 240.0 : 1.0;
}

void CaptureControl::reportUnsupportedFormat()
{
    pauseCapture();
    emit unusableFormat(unsupportedFormatText());
}

bool CaptureControl::driverConnected() const
{
    return m_engine.connectedDriver() >= 0;
}

void CaptureControl::setLamp(Lamp lamp)
{
    // Without a connected camera pausing or resuming must not pretend there is one.
    if (lamp != LampNone && !driverConnected())
        lamp = LampNone;
    m_lamp = lamp;
    emit cameraLampChanged(int(lamp));
}
