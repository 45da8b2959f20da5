#pragma once

#include <QMainWindow>
#include <array>

class QAction;
class QFrame;
class QLabel;
class QMenu;
class QTimer;
class VideoView;

// The main window: incoming video, toolbar, indicators, call clock and menus. It shows
// what the program tells it and reports what the user does; the program decides.
class frmMain : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int ButtonCount = 5;
    enum CameraLamp { CamOn, CamOff, CamNone };

    explicit frmMain(QWidget *parent = nullptr);

    QTimer *tmrMain() const { return m_tmrMain; }
    QTimer *tmrSecond() const { return m_tmrSecond; }

    // Indicators.
    void setConnectLamp(bool on);
    void setMicLamp(bool on);
    void setCameraLamp(CameraLamp lamp);
    void setSpeakerLamp(bool on);
    void setDoNotDisturb(bool on);
    void setMessageIndicatorVisible(bool visible);
    void setMessageWaiting(bool waiting);
    void setActivityFrame(int frame);
    // The call clock MM:SS; a digit image is replaced only when its value changed.
    void setCallClock(int minutes, int seconds);

    // Call start and end: button pictures, "Call"/"HangUp", menu items, logo.
    void setInCall(bool inCall);
    // Toolbar button held down while its window is open (or talk is latched).
    void setButtonPressed(int index, bool pressed);
    bool buttonPressed(int index) const;
    // Start-up step that makes every button show its normal look.
    void showNormalButtonLooks();

    // The incoming video.
    VideoView *videoView() const { return m_video; }
    // Sizes the picture, its panel and the logo to the display size; in the normal
    // window state the window follows.
    void applyDisplaySize(int width, int height);
    int displayWidth() const { return m_displayWidth; }
    int displayHeight() const { return m_displayHeight; }

    QAction *action(const QString &objectName) const;

    // Lets the program close the window for real once its shutdown ran.
    void allowClose() { m_closing = true; }

signals:
    void closeRequested();
    void toolbarClicked(int index);
    void talkPressed(Qt::MouseButton button);
    void talkReleased(Qt::MouseButton button);
    void hangupRequested();
    void doNotDisturbToggled();
    void messageIndicatorActivated();
    void zoomRequested(int width, int height);
    void minimisedChanged(bool minimised);

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;

private:
    void buildMenus();
    void buildToolbar(QWidget *parent);
    void buildIndicators(QWidget *parent);
    void buildVideo(QWidget *parent);
    void hoverButton(int index);
    void unhoverAll();
    void refreshButton(int index);
    int buttonAt(QObject *watched) const;

    QTimer *m_tmrMain;
    QTimer *m_tmrSecond;
    QFrame *m_toolbar = nullptr;
    std::array<QFrame *, ButtonCount> m_buttons{};
    std::array<QLabel *, ButtonCount> m_buttonPictures{};
    std::array<QLabel *, ButtonCount> m_captions{};
    // 0 up, 1 held down, 2 raised under the mouse.
    std::array<int, ButtonCount> m_buttonState{};
    bool m_inCall = false;

    QLabel *m_conLed = nullptr;
    QLabel *m_micLed = nullptr;
    QLabel *m_camLed = nullptr;
    QLabel *m_spkLed = nullptr;
    QLabel *m_dnd = nullptr;
    QLabel *m_msgIn = nullptr;
    QLabel *m_activity = nullptr;
    std::array<QLabel *, 4> m_digits{};
    std::array<int, 4> m_digitValues{{-2, -2, -2, -2}};

    QFrame *m_videoPanel = nullptr;
    VideoView *m_video = nullptr;
    QLabel *m_logo = nullptr;
    QMenu *m_zoomMenu = nullptr;
    int m_displayWidth = 320;
    int m_displayHeight = 240;
    bool m_closing = false;
};
