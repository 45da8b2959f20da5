#pragma once

#include <QString>

#include <functional>

class ActivityLog;
class AudioControl;
class AudioEngine;
class AudioSetup;
class CallControl;
class CaptureControl;
class ChatSession;
class DirectoryService;
class IPPort;
class MediaFormatChoice;
class MediaSession;
class MessageMedia;
class MessageService;
class OptionsLogic;
class PalService;
class ProgramEvents;
class ReachabilityService;
class ScreenShare;
class SecurityService;
class ServerKeyTrust;
struct Settings;
class VideoEngine;
struct ProgramOptions;

// What the windows of a running program may use of it, and nothing more: its start-up and
// close, what it tells, the user's settings and log, and the services the windows show. The
// root builds it; the window shell takes it instead of the root.
struct ProgramFace
{
    ProgramEvents &events;
    const ProgramOptions &options;
    Settings &settings;
    ActivityLog &activityLog;

    CallControl &calls;
    MediaSession &mediaSession;
    ChatSession &chat;
    DirectoryService &directory;
    PalService &pals;
    ServerKeyTrust &serverKeys;
    MessageService &messages;
    MessageMedia &messageMedia;
    OptionsLogic &optionsLogic;
    SecurityService &security;
    ReachabilityService &reachability;
    CaptureControl &capture;
    AudioControl &audioControl;
    AudioSetup &audioSetup;
    MediaFormatChoice &mediaFormats;
    VideoEngine &videoEngine;
    ScreenShare &screenShare;
    AudioEngine &audioEngine;

    std::function<void()> start;
    // A close asked for by the user; whether the shutdown ran.
    std::function<bool()> requestClose;
    std::function<void()> shutdown;
    // A quick message's client endpoint, before it connects.
    std::function<void(IPPort &)> prepareMessageClient;
    std::function<QString(const QString &fileName)> profilePath;
    // The first of the four listening ports, once the listeners found theirs.
    std::function<int()> listenPort;
};
