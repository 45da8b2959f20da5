#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

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
    bool isReady() const { return m_ready; }
    bool isRunning() const { return m_running; }
    void pauseCapture();
    // Restarts delivery and announces resumed() so a frame is fetched at once.
    void resumeCapture();
    // The unload of the self view: capture stopped, driver released.
    void closeCapture();

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

private:
    void setLamp(Lamp lamp);
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
    Lamp m_lamp = LampNone;
};
