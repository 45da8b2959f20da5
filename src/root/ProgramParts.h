#pragma once

#include <functional>

class AudioPlayQueue;
class AudioSendQueue;
class CallClock;
class DeviceProvider;
class IPDaemon;
class IPPort;
class MediaClock;
class MediaConnection;
class MediaStats;
class OutgoingTextQueue;
class PalList;
class QTimer;
class RefuseList;
class SoundPlayer;
struct CallStatus;

// The parts of a running program that no window shows: the lists, the call's endpoints, the
// media path's clocks, counters and queues, and the timers. Tests and the benchmark reach
// them here to drive and watch what a window cannot; the window shell never does.
struct ProgramParts
{
    RefuseList &refuseList;
    PalList &palList;
    // The call of the moment, as the call's channels keep it.
    CallStatus &callStatus;
    // The cameras and sound devices the engines use.
    DeviceProvider &devices;
    SoundPlayer &sounds;
    // The control and media listeners and the calling side's control and media clients.
    IPDaemon &ipdControl;
    IPDaemon &ipdMedia;
    IPPort &ippControl;
    IPPort &ippClient;
    MediaConnection &mediaConnection;
    MediaClock &mediaClock;
    MediaStats &mediaStats;
    CallClock &callClock;
    AudioSendQueue &audioSendQueue;
    AudioPlayQueue &audioPlayQueue;
    OutgoingTextQueue &textQueue;
    // The media loop's tick, and the start-up tail's second, which a test may hurry.
    QTimer &mediaTimer;
    QTimer &startupTimer;
    // On: the media loop's tick stops and nothing starts it again, so a test drives the loop
    // by hand. Off: it ticks again.
    std::function<void(bool on)> setMediaLoopByHand;
};
