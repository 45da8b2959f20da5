#pragma once

#include "core/CallStates.h"
#include "core/PalList.h"
#include "core/PeerChannel.h"
#include "core/RefuseList.h"
#include "core/Settings.h"
#include "media/AudioPlayQueue.h"
#include "media/AudioSendQueue.h"
#include "media/CallClock.h"
#include "media/MediaClock.h"
#include "media/MediaStats.h"
#include "media/OutgoingTextQueue.h"
#include "root/ProgramEvents.h"
#include "root/ProgramFace.h"
#include "root/ProgramOptions.h"
#include "root/ProgramParts.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>

class ActivityLog;
class AudioControl;
class AudioSetup;
class AudioEngine;
class CallControl;
class CaptureControl;
class ChatSession;
class DeviceProvider;
class DirectoryService;
class PalService;
class ServerKeyTrust;
class IPDaemon;
class IPPort;
class MediaConnection;
class MediaFormatChoice;
class MediaSession;
class MessageMedia;
class MessageService;
class OptionsLogic;
class PathDialer;
class PathFinder;
class SecurityService;
class ReachabilityService;
class ScreenShare;
class SoundPlayer;
class VideoEngine;

// The root object of one running program, without a window. It owns the user's settings
// and lists, the endpoints, the engines, the media queues and clocks, every service and
// the media loop's 75 ms tick; it wires the services to each other and runs the start-up
// and the orderly shutdown. The window shell builds the windows on what face() gives it and
// hands each window the services it shows; a test or a benchmark runs it alone.
class Program : public QObject
{
    Q_OBJECT

public:
    explicit Program(ProgramOptions options, QObject *parent = nullptr);
    ~Program() override;

    // The start-up: settings, devices and listeners (then loaded()), capture, the chat
    // listener and the data files, then the media tick and the start-up tail.
    void start();
    // A close asked for by the user: refused (with a message) while an outgoing
    // connection is being established; otherwise the shutdown runs. Returns whether it ran.
    bool requestClose();
    // The orderly shutdown; runs once, whatever asked for it (Quit, a signal, the end).
    void shutdown();
    // After the shutdown, when the loop has ended: runs it a little longer, ReleaseWaitMs at
    // most, until the relay has been told to let go of the calls' allocations, which it
    // would otherwise keep for minutes. Whether it was.
    bool finishReleasing();
    static constexpr int ReleaseWaitMs = 1000;

    const ProgramOptions &options() const { return m_options; }
    QString profilePath(const QString &fileName) const;
    // The first of the four listening ports, once the listeners found theirs.
    int listenPort() const { return m_listenPort; }

    // The user's settings and lists: read at start-up, written at the shutdown.
    Settings &settings() { return m_settings; }
    ActivityLog &activityLog() { return *m_log; }

    // ---- Wiring: the services -------------------------------------------------------
    CallControl &calls() { return *m_calls; }
    MediaSession &mediaSession() { return *m_session; }
    ChatSession &chat() { return *m_chat; }
    DirectoryService &directory() { return *m_directory; }
    PalService &pals() { return *m_pals; }
    ServerKeyTrust &serverKeys() { return *m_serverKeys; }
    MessageService &messages() { return *m_messages; }
    MessageMedia &messageMedia() { return *m_messageMedia; }
    OptionsLogic &optionsLogic() { return *m_optionsLogic; }
    // Encryption of the peer channels: the key, the known peers, the encrypted port.
    SecurityService &security() { return *m_security; }
    // How others reach this program: the router's forwarded ports and the check from outside.
    ReachabilityService &reachability() { return *m_reach; }
    // A quick message's client endpoint, before it connects: the encrypted way first.
    void prepareMessageClient(IPPort &client);
    // The local camera and the sound devices as the program uses them.
    CaptureControl &capture() { return *m_capture; }
    AudioControl &audioControl() { return *m_audioControl; }
    // Echo cancellation, noise suppression, level, and the sound devices in use.
    AudioSetup &audioSetup() { return *m_audioSetup; }
    // Whether calls between two programs of this version may use today's formats.
    MediaFormatChoice &mediaFormats() { return *m_formats; }
    VideoEngine &videoEngine() { return *m_video; }
    // Showing the screen or a window in the camera's place during a call.
    ScreenShare &screenShare() { return *m_share; }
    AudioEngine &audioEngine() { return *m_audio; }

    // What the windows use: the window shell takes this, never the root itself.
    ProgramFace face();
    // What the program tells: its start-up, its shutdown, the user's notices.
    ProgramEvents &events() { return m_events; }
    // What no window shows, for tests and the benchmark.
    ProgramParts parts();

private:
    // Appends a time-stamped line to the activity log.
    void logLine(const QString &text);
    // ---- Wiring: who hears whom ---------------------------------------------------
    void connectCalls();
    void connectMedia();
    void connectOptions();
    void connectSecurity();
    void connectPaths();
    // ---- Start-up and shutdown ----------------------------------------------------
    void initializeEngines();
    void networkStart();
    void loadDataFiles();
    void onMediaTick();
    // Out of a call, with the self view closed and the sound devices idle, the media loop
    // has nothing to do: it rests until one of them needs it again.
    bool mediaLoopNeeded() const;
    void wakeMediaLoop();
    void onStartupTick();
    void setMediaLoopByHand(bool on);
    void reportSaveFailure(const QString &text, int code, const QString &description);

    ProgramOptions m_options;
    ProgramEvents m_events;
    Settings m_settings;
    RefuseList m_refuseList;
    PalList m_palList;
    CallStatus m_call;
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
    AudioControl *m_audioControl;
    AudioSetup *m_audioSetup;
    MediaFormatChoice *m_formats;
    CaptureControl *m_capture;
    ScreenShare *m_share;
    CallControl *m_calls;
    MediaSession *m_session;
    ChatSession *m_chat;
    PalService *m_pals;
    DirectoryService *m_directory;
    ServerKeyTrust *m_serverKeys;
    MessageService *m_messages;
    MessageMedia *m_messageMedia;
    OptionsLogic *m_optionsLogic;
    SecurityService *m_security;
    ReachabilityService *m_reach;
    PathFinder *m_paths = nullptr;
    PathDialer *m_pathDialer = nullptr;
    // The control connection about to be offered came over a path.
    bool m_wayFromPath = false;
    QTimer m_mediaTimer;
    QTimer m_startupTimer;

    int m_listenPort = PortPlan::PublishedBase;
    // A command-line start calls its address on the first tick.
    QString m_pendingCallAddress;
    int m_startupTicks = 0;
    bool m_started = false;
    // The loop stopped itself for want of work (a loop stopped by a test stays stopped).
    bool m_mediaLoopResting = false;
    bool m_mediaLoopByHand = false;
    bool m_shutDown = false;
    bool m_shuttingDown = false;
    bool m_userClosed = false;
};
