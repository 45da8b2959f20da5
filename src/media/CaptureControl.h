#pragma once

#include <QObject>
#include <QSize>
#include <QString>
#include <QStringList>

class VideoEngine;
struct ProgramState;

// The local camera's life in the program: connecting the configured driver when the self
// view loads, pausing and resuming, switching drivers, following the capture size, and the
// messages for capture failures. It drives the video engine and keeps captureReady and
// captureRunning in the program state; windows follow its signals.
class CaptureControl : public QObject
{
    Q_OBJECT

public:
    // Values of cameraLampChanged, in the order of frmMain::CameraLamp.
    enum Lamp { LampOn = 0, LampOff = 1, LampNone = 2 };

    CaptureControl(ProgramState &state, VideoEngine &engine, QObject *parent = nullptr);

    // The device-in-use message at start-up and after choosing another driver.
    static QString deviceInUseText();
    static QString deviceInUseAfterChoiceText();
    // The message shown when the capture delivers frames that cannot be used.
    static QString unsupportedFormatText();

    // Builds the driver list and connects driver DriverNum. Without it there is no capture
    // (lamp none); a driver that cannot be started leaves captureReady off with a message.
    void startCapture();
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

    // The capture gave a frame that cannot be used: capture pauses, the format dialog is
    // armed to open after the message, and the message is announced.
    void reportUnsupportedFormat();

    // Least interval between self-view pictures, applied when capture starts (0: every frame).
    void setPreviewRate(int ms) { m_previewRate = ms; }
    int lamp() const { return m_lamp; }

signals:
    void cameraLampChanged(int lamp);
    void selfViewSizeChanged(QSize picture, const QString &caption);
    void errorMessage(const QString &text);
    void informationMessage(const QString &text);
    // Capture runs again; the send loop should fetch a frame now.
    void resumed();

private:
    void setLamp(Lamp lamp);
    void applyScale();
    bool driverConnected() const;

    ProgramState &m_state;
    VideoEngine &m_engine;
    QStringList m_drivers;
    QString m_currentDriver;
    QSize m_lastSize;
    double m_scaleX = 1.0;
    double m_scaleY = 1.0;
    int m_previewRate = 0;
    Lamp m_lamp = LampNone;
};
