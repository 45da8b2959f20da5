#pragma once

#include <QMainWindow>
#include <array>

class IndicatorButton;
class QAction;
class QBoxLayout;
class QFrame;
class QLabel;
class QProgressBar;
class QMenu;
class SecurityBadge;
class ToolbarButton;
class VideoView;

// The main window: incoming video, toolbar, indicators, call clock and menus. It shows
// what the program tells it and reports what the user does; its controller decides.
class frmMain : public QMainWindow
{
    Q_OBJECT

public:
    static constexpr int ButtonCount = 5;
    enum CameraLamp { CamOn, CamOff, CamNone };
    enum class Zoom { Small, Portrait, Normal, VeryLarge };

    // The least window size, in twips. A picture 160 pixels wide (Small, or a caller who
    // sends small frames) lets the window narrow to the Small size.
    static constexpr int MinimumWidthTwips = 4935;
    static constexpr int MinimumHeightTwips = 3855;
    static constexpr int NarrowMinimumWidthTwips = 2865;
    // Around the picture: the window is this much wider and taller than the video.
    static constexpr int FrameWidthTwips = 160;
    static constexpr int FrameHeightTwips = 1905;

    explicit frmMain(QWidget *parent = nullptr);

    // Indicators.
    void setConnectLamp(bool on);
    void setMicLamp(bool on);
    // The microphone's level (0 to 100), shown beside its lamp while it is on.
    void setMicLevel(int level);
    void setCameraLamp(CameraLamp lamp);
    void setSpeakerLamp(bool on);
    void setDoNotDisturb(bool on);
    // The quick-message indicator: hidden while quick messages are disabled; lit while a
    // message waits. Activating it (double click, or Space/Enter) is messageIndicatorActivated.
    void setMessageIndicatorVisible(bool visible);
    void setMessageWaiting(bool waiting);
    // Says that a quick message came, without the focus moving.
    void announceMessage(const QString &sender);
    // Every picture painted again in the colours of the moment.
    void redrawArtwork();
    bool messageWaiting() const { return m_messageWaiting; }
    void setActivityFrame(int frame);
    // The call clock MM:SS; a digit image is replaced only when its value changed.
    void setCallClock(int minutes, int seconds);

    // Call start and end: button pictures, "Call"/"HangUp", menu items, logo.
    void setInCall(bool inCall);
    // How others reach this program, over the picture while no call is on.
    void setReachability(const QString &line);
    // Toolbar button held down while its window is open (or talk is latched).
    void setButtonPressed(int index, bool pressed);
    bool buttonPressed(int index) const;
    // 0 up, 1 held down, 2 raised under the mouse.
    int buttonState(int index) const { return m_buttonState[index]; }
    // Start-up step that makes every button show its normal look.
    void showNormalButtonLooks();

    // The incoming video.
    VideoView *videoView() const { return m_video; }
    // The call's lock and short code, along the foot of the picture.
    SecurityBadge *securityBadge() const { return m_security; }
    // Sizes the picture, its panel and the logo to the display size; in the normal
    // window state the window follows, 160 twips wider and 1905 twips taller.
    void applyDisplaySize(int width, int height);
    int displayWidth() const { return m_displayWidth; }
    int displayHeight() const { return m_displayHeight; }
    // Sets the window's inner size in twips (a zoom size).
    void resizeTwips(int width, int height);
    // Neither minimised nor maximised.
    bool isNormalState() const;
    // The toolbar shows pictures only and the indicators take two rows.
    bool isCompact() const { return m_compact; }

    QAction *action(const QString &objectName) const;
    QMenu *zoomMenu() const { return m_zoomMenu; }

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
    void zoomRequested(frmMain::Zoom zoom);
    void minimised();
    void restored();

protected:
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void buildMenus();
    void buildToolbar(QWidget *parent);
    void buildIndicators(QWidget *parent);
    void buildVideo(QWidget *parent);
    void hoverButton(int index);
    void unhoverAll();
    void refreshButton(int index);
    int buttonAt(QObject *watched) const;
    void layoutVideo();
    void setCompact(bool compact);
    void applyMinimumSize();

    QFrame *m_toolbar = nullptr;
    std::array<ToolbarButton *, ButtonCount> m_buttons{};
    std::array<int, ButtonCount> m_buttonState{};
    bool m_inCall = false;
    QLabel *m_reach = nullptr;

    QBoxLayout *m_indicatorRows = nullptr;
    IndicatorButton *m_conLed = nullptr;
    QLabel *m_micLed = nullptr;
    QProgressBar *m_micLevel = nullptr;
    QLabel *m_camLed = nullptr;
    QLabel *m_spkLed = nullptr;
    IndicatorButton *m_dnd = nullptr;
    IndicatorButton *m_msgIn = nullptr;
    bool m_messageWaiting = false;
    QLabel *m_activity = nullptr;
    QFrame *m_clock = nullptr;
    std::array<QLabel *, 4> m_digits{};
    std::array<int, 4> m_digitValues{{-2, -2, -2, -2}};

    QWidget *m_videoArea = nullptr;
    QFrame *m_videoPanel = nullptr;
    VideoView *m_video = nullptr;
    QLabel *m_logo = nullptr;
    SecurityBadge *m_security = nullptr;
    QSize m_logoSize;
    QMenu *m_zoomMenu = nullptr;
    int m_displayWidth = 320;
    int m_displayHeight = 240;
    bool m_compact = false;
    bool m_closing = false;
    bool m_wasMinimised = false;
};
