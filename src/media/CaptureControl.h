#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

#include <memory>

class CameraDevice;
class VideoEngine;
struct Settings;

// The local camera's life in the program: connecting the configured driver at start-up,
// pausing and resuming, switching drivers, following the capture size, and the messages
// for capture failures. It drives the video engine and knows whether capture is ready
// (a camera is connected and started) and running (not paused); windows follow its
// signals.
class CaptureControl : public QObject
{
    Q_OBJECT

public:
    // Values of cameraLampChanged, in the order of frmMain::CameraLamp.
    enum Lamp { LampOn = 0, LampOff = 1, LampNone = 2 };

    CaptureControl(Settings &settings, VideoEngine &engine, QObject *parent = nullptr);

    // The device-in-use message at start-up and after choosing another driver.
    static QString deviceInUseText();
    static QString deviceInUseAfterChoiceText();
    // The message shown when the capture delivers frames that cannot be used.
    static QString unsupportedFormatText();

    // Builds the driver list and connects driver DriverNum. Without it there is no capture
    // (lamp none); a driver that cannot be started leaves capture not ready, with a message.
    void startCapture();
    // A shared screen is ready and running whether or not there is a camera.
    bool isReady() const { return m_ready || m_sharing; }
    bool isRunning() const { return m_running; }
    void pauseCapture();
    // Restarts delivery and announces resumed() so a frame is fetched at once.
    void resumeCapture();
    // The unload of the self view: capture stopped, driver released.
    void closeCapture();
    // A call needs the camera for as long as it lasts, whether or not the self view is open.
    void setInCall(bool inCall);

    // The driver list as found by startCapture.
    QStringList driverNames() const { return m_drivers; }
    QString currentDriverName() const { return m_currentDriver; }
    // Switches to the named driver; does nothing with one driver only, for the driver in
    // use, or for a name that is not in the list.
    void chooseDriver(const QString &name);

    // The periodic size check: when the capture size changed, recomputes the scale and
    // announces the self view's picture size and caption.
    void checkCaptureSize();
    QSize lastCaptureSize() const { return m_lastSize; }
    double horizontalScale() const { return m_scaleX; }
    double verticalScale() const { return m_scaleY; }

    // The capture gave a frame that cannot be used: capture pauses and unusableFormat
    // announces the message.
    void reportUnsupportedFormat();

    // A shared screen or window in the camera's place (see VideoEngine::shareSource). The
    // user chose to share, so a paused capture runs again. False when it cannot start.
    bool startSharing(std::unique_ptr<CameraDevice> source);
    // Back to the camera as it was before; nothing when nothing is shared.
    void stopSharing();
    bool isSharing() const { return m_sharing; }

    // Least interval between self-view pictures, applied when capture starts (0: every frame).
    void setPreviewRate(int ms) { m_previewRate = ms; }
    int lamp() const { return m_lamp; }

signals:
    void cameraLampChanged(int lamp);
    void selfViewSizeChanged(QSize picture, const QString &caption);
    void errorMessage(const QString &text);
    // The message to show for a capture format that cannot be used, after which the user
    // should be offered the format dialog.
    void unusableFormat(const QString &text);
    // Capture runs again; the send loop should fetch a frame now.
    void resumed();
    // Sharing began (true) or ended (false), whatever ended it; reason says why a source
    // ended by itself (empty when the user or the program stopped it).
    void sharingChanged(bool sharing, const QString &reason);

private:
    void setLamp(Lamp lamp);
    void sharingStopped(const QString &reason);
    void applyScale();
    bool driverConnected() const;

    Settings &m_settings;
    VideoEngine &m_engine;
    bool m_ready = false;
    bool m_running = false;
    QStringList m_drivers;
    QString m_currentDriver;
    QSize m_lastSize;
    double m_scaleX = 1.0;
    double m_scaleY = 1.0;
    int m_previewRate = 0;
    bool m_sharing = false;
    // Capture ran before the sharing began (it runs while sharing).
    bool m_runningBeforeSharing = false;
    Lamp m_lamp = LampNone;
};
