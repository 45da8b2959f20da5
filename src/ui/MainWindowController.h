#pragma once

#include "ui/frmMain.h"
#include "ui/frmOptions.h"

#include <QObject>
#include <QPointer>
#include <QSet>

#include <functional>

class AudioControl;
class AudioEngine;
class AudioSetup;
class CallControl;
class CaptureControl;
class DesktopIntegration;
class SecurityService;
class ReachabilityService;
class DirectoryService;
class MediaFormatChoice;
class MediaSession;
class OptionsLogic;
class VideoEngine;
class frmAbout;
class frmDirectory;
class frmHelp;
class frmLog;
class frmNewChat;
class frmRates;
class frmSelf;
struct Settings;

// The main window's side of the program: its menus and toolbar, the satellite windows it
// shows, hides and places, zoom, minimise and restore, the lamps and the call clock it
// takes from the services, and the options, help and about windows it opens.
class MainWindowController : public QObject
{
    Q_OBJECT

public:
    // A zoom item: the incoming picture's size in pixels and the window's inner size in twips.
    struct ZoomSize
    {
        int videoWidth;
        int videoHeight;
        int windowWidthTwips;
        int windowHeightTwips;
    };
    static ZoomSize zoomSize(frmMain::Zoom zoom);

    // The calling side keeps the length of the last video frame it received; while that
    // length is exactly 320, Small does nothing. Kept as it always behaved: what it guards
    // against is not known, and the answering side never sets the value.
    static bool lastFrameLengthForbidsSmallZoom(quint16 lastVideoPayload);

    struct Context
    {
        Settings &settings;
        CallControl &calls;
        MediaSession &media;
        VideoEngine &video;
        CaptureControl &capture;
        AudioControl &audio;
        // The microphone's level, for the meter beside its lamp.
        AudioEngine &audioEngine;
        DirectoryService &directory;
        OptionsLogic &options;
        // The windows it shows, hides and places beside the main window.
        frmSelf &selfView;
        frmNewChat &chatWindow;
        frmRates &ratesWindow;
        frmLog &logWindow;
        frmDirectory &directoryWindow;
        // The options dialog's desktop group; none without it.
        DesktopIntegration *desktop;
        // The options dialog's sound devices and processing; none without it.
        AudioSetup *audioSetup;
        // The options dialog's encryption group; none without it.
        SecurityService *security;
        // The options dialog's reachability group; none without it.
        ReachabilityService *reach;
        // The options dialog's choice of picture and sound formats; none without it.
        MediaFormatChoice *formats;
        // What it asks of the program and the shell: Quit, the capture format dialog, a
        // notice shown.
        std::function<void()> quit;
        std::function<void()> openVideoFormat;
        std::function<void(const QString &)> inform;
    };

    MainWindowController(Context context, frmMain &window, QObject *parent = nullptr);

    // Start-up: the default place (and size) of the main window, then, once the listeners
    // found their ports, the offset of a second program on this machine.
    void placeMainWindow();
    void offsetForBasePort(int listenPort, int firstPort);
    // The end of the start-up: the satellite windows of the last run come back.
    void restoreSatelliteWindows();

    // A satellite window with its menu item and toolbar button (self view 2, chat 3).
    void toggleSelfView();
    void toggleChat();
    void zoom(frmMain::Zoom zoom);
    void toggleDoNotDisturb();

    frmOptions *optionsWindow();
    frmAbout *aboutWindow();
    frmHelp *helpWindow();
    void showOptions(std::optional<frmOptions::Tab> tab = std::nullopt);
    // The shutdown: the windows this controller opened close for good.
    void closeWindows();

private:
    void connectServices();
    void connectMenus();
    void connectWindows();
    void onToolbarClicked(int index);
    void setSatelliteShown(QWidget *window, const QString &menuItem, int button, bool shown);
    void showDirectory(bool fromToolbar);
    // Shows a satellite window; the first time (and the data-rates window every time) it
    // is placed beside the main window.
    void present(QWidget *window);
    void place(QWidget *window);
    void onMinimised();
    void onRestored();

    Context m_;
    frmMain &m_main;
    QPointer<frmOptions> m_frmOptions;
    QPointer<frmAbout> m_frmAbout;
    QPointer<frmHelp> m_frmHelp;
    QSet<const QWidget *> m_placed;
};
