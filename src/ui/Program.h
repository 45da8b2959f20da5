#pragma once

#include "core/ProgramState.h"
#include "media/AudioPlayQueue.h"
#include "media/AudioSendQueue.h"
#include "media/CallClock.h"
#include "media/MediaClock.h"
#include "media/MediaStats.h"
#include "media/OutgoingTextQueue.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <memory>

class ActivityLog;
class AudioControl;
class AudioSetup;
class AudioEngine;
class CaptureControl;
class DesktopIntegration;
class DeviceProvider;
class VideoEngine;
class CallControl;
class DirectoryService;
class ChatSession;
class IPDaemon;
class MediaConnection;
class MediaSession;
class MessageService;
class MessageWindows;
class SecurityIndicators;
class SecurityService;
class SoundPlayer;
class frmCallIn;
class frmConStatus;
class IPPort;
class QMessageBox;
class frmAbout;
class frmBusyNotify;
class frmDirectory;
class frmErrorMsg;
class frmHelp;
class MainWindowController;
class OptionsLogic;
class frmLog;
class frmMain;
class frmMessage;
class frmNewChat;
class frmOptions;
class frmRates;
class frmSelf;
class frmSplash;
class VideoFormatDialog;

// How a program is started: the binary passes 2000 and the user's profile folder; a test
// passes ports and a folder of its own, so two programs can run in one process.
struct ProgramOptions
{
    int firstPort = 2000;
    QString profileDir;
    // The address given on the command line, called at once.
    QString callAddress;
    bool testDevices = false;
};

// The root object of one running program. It owns every program-wide value, the settings,
// the endpoints and the windows, runs the start-up and the orderly shutdown.
class Program : public QObject
{
    Q_OBJECT

public:
    explicit Program(ProgramOptions options, QObject *parent = nullptr);
    ~Program() override;

    // The start-up sequence: places the main window, loads settings and data files,
    // starts the listeners and the timers.
    void start();
    // A close asked for by the user: refused (with a message) while an outgoing
    // connection is being established; otherwise the shutdown runs. Returns whether it ran.
    bool requestClose();
    // The orderly shutdown; runs once, whatever asked for it (Quit, a signal, the end).
    void shutdown();
    bool isShutDown() const { return m_shutDown; }

    const ProgramOptions &options() const { return m_options; }
    ProgramState &state() { return m_state; }
    Settings &settings() { return m_state.settings; }
    ActivityLog &activityLog() { return *m_log; }
    QString profilePath(const QString &fileName) const;

    IPDaemon &ipdControl() { return *m_ipdControl; }
    IPDaemon &ipdMedia() { return *m_ipdMedia; }
    IPPort &ippControl() { return *m_ippControl; }
    IPPort &ippClient() { return *m_ippClient; }

    SoundPlayer &sounds() { return *m_sounds; }
    DeviceProvider &devices() { return *m_devices; }
    VideoEngine &videoEngine() { return *m_video; }
    AudioEngine &audioEngine() { return *m_audio; }

    // The media path's shared queues, counters and clocks.
    MediaClock &mediaClock() { return m_mediaClock; }
    MediaStats &mediaStats() { return m_mediaStats; }
    CallClock &callClock() { return m_callClock; }
    OutgoingTextQueue &textQueue() { return m_textQueue; }
    AudioSendQueue &audioSendQueue() { return m_audioSendQueue; }
    AudioPlayQueue &audioPlayQueue() { return m_audioPlayQueue; }
    CallControl &calls() { return *m_calls; }
    DirectoryService &directory() { return *m_directory; }
    // Quick messages: the listener, the waiting messages, and their windows.
    MessageService &messages() { return *m_messages; }
    MessageWindows &messageWindows() { return *m_messageWindows; }
    MediaConnection &mediaConnection() { return *m_media; }
    // The local camera and the sound devices as the program uses them.
    CaptureControl &capture() { return *m_capture; }
    AudioControl &audioControl() { return *m_audioControl; }
    // Echo cancellation, noise suppression, level, and the sound devices in use.
    AudioSetup &audioSetup() { return *m_audioSetup; }

    // The media loop's five-second step: the capture size check and the self view
    // following the main window.
    void fiveSecondMark();
    // The capture format dialog, shown not modal; it deletes itself when closed.
    VideoFormatDialog *openVideoFormatDialog();
    MediaSession &mediaSession() { return *m_session; }
    ChatSession &chat() { return *m_chat; }
    // Encryption of the peer channels: the key, the known peers, the encrypted port.
    SecurityService &security() { return *m_security; }

    frmMain *mainWindow() const;
    frmConStatus *progressWindow() const;
    frmCallIn *callPrompt() const;
    frmSplash *splash() const;
    frmSelf *selfView() const;
    frmNewChat *chatWindow() const;
    frmDirectory *directoryWindow() const;
    frmRates *ratesWindow() const;
    frmLog *logWindow() const;
    frmBusyNotify *busyNotify() const;
    frmOptions *optionsWindow();
    frmAbout *aboutWindow();
    frmHelp *helpWindow();
    MainWindowController &mainController() { return *m_controller; }
    // Notifications, the tray icon and the talk key that works in every window.
    DesktopIntegration &desktop() { return *m_desktop; }
    // The options dialog's logic; its loginChanged() and directoryServerChanged() are
    // what the directory follows.
    OptionsLogic &optionsLogic();
    frmMessage *messageWindow() const;
    frmErrorMsg *errorWindow() const;

    // Appends a time-stamped line to the activity log.
    void logLine(const QString &text);
    // The information window and the error window.
    void showInformation(const QString &text);
    void showError(const QString &text);
    // A message box with an OK button that never blocks the caller.
    QMessageBox *showMessageBox(const QString &text);

    // Toggles a satellite window with its menu item and toolbar button (self view 2, chat 3).
    void toggleSelfView();
    void toggleChat();

signals:
    // The start-up tail has finished (or was skipped for a command-line start).
    void startupTailFinished();
    // The shutdown has run; the process may end.
    void finished();
    // Start-up found no camera or sound device; the text (also in the log) says which.
    void devicesMissing(const QString &text);

private:
    void networkStart();
    void loadSatelliteWindows();
    void loadDataFiles();
    void onMainTick();
    void onSecondTick();
    void reportSaveFailure(const QString &text, int code, const QString &description);
    void connectCallControl();
    void connectMediaSession();
    void initializeEngines();
    void connectCapture();
    void connectAudio();
    void connectMessages();
    void connectSecurity();

    ProgramOptions m_options;
    ProgramState m_state;
    std::unique_ptr<ActivityLog> m_log;

    IPDaemon *m_ipdControl;
    IPDaemon *m_ipdMedia;
    IPPort *m_ippControl;
    IPPort *m_ippClient;
    SoundPlayer *m_sounds;
    std::shared_ptr<DeviceProvider> m_devices;
    VideoEngine *m_video;
    AudioEngine *m_audio;
    MediaClock m_mediaClock;
    MediaStats m_mediaStats;
    CallClock m_callClock;
    OutgoingTextQueue m_textQueue;
    AudioSendQueue m_audioSendQueue;
    AudioPlayQueue m_audioPlayQueue;
    MediaConnection *m_media;
    CallControl *m_calls;
    DirectoryService *m_directory;
    CaptureControl *m_capture;
    AudioControl *m_audioControl;
    AudioSetup *m_audioSetup = nullptr;
    MediaSession *m_session;
    ChatSession *m_chat;
    MessageService *m_messages;
    SecurityService *m_security;
    SecurityIndicators *m_securityIndicators = nullptr;
    MessageWindows *m_messageWindows = nullptr;
    MainWindowController *m_controller = nullptr;
    DesktopIntegration *m_desktop = nullptr;

    QPointer<frmMain> m_frmMain;
    QPointer<frmSplash> m_frmSplash;
    QPointer<frmSelf> m_frmSelf;
    QPointer<frmNewChat> m_frmNewChat;
    QPointer<frmDirectory> m_frmDirectory;
    QPointer<frmRates> m_frmRates;
    QPointer<frmLog> m_frmLog;
    QPointer<frmBusyNotify> m_frmBusyNotify;
    QPointer<frmMessage> m_frmMessage;
    QPointer<frmConStatus> m_frmConStatus;
    QPointer<frmCallIn> m_frmCallIn;
    QPointer<frmErrorMsg> m_frmErrorMsg;

    bool m_started = false;
    bool m_shutDown = false;
    bool m_shuttingDown = false;
    bool m_userClosed = false;
};
