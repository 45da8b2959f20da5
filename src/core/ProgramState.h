#pragma once

#include "core/CallStates.h"
#include "core/PalList.h"
#include "core/RefuseList.h"
#include "core/Settings.h"

#include <QString>

// The program-wide values of one running program. Every window and channel of that
// program reads and writes them through its root object; nothing here is global, so two
// programs can run side by side in one process.
struct ProgramState
{
    Settings settings;
    RefuseList refuseList;
    PalList palList;

    // Listening ports: control on the base, media + 1, quick messages + 2, text chat + 3.
    int ListenPortBase = 2000;
    // The first port as others reach it, when a router forwards another block; 0: the same.
    int OutsidePortBase = 0;
    // The caller's attempt (0..10) and the media connection (Idle, Accepting, InCall).
    ::ConnectState ConnectState = ::ConnectState::NoAttempt;
    CallState callState = CallState::Idle;
    QString PeerName;
    // The callee's acceptance went out on control connection 1 and that connection is
    // still up: only then may the caller open the media and chat channels.
    bool callAcceptedOnControl = false;
    bool PeerIsV25 = false;
    bool RealTimeChat = false;
    // Start-up with an address: call it on the first main-timer tick, accept the next call.
    QString PendingCallAddress;
    bool AutoAnswerOnce = false;
    qint16 StartupTicks = 0;
    bool doNotDisturb = false;
    // Sound devices: micState 1 closed, 2 open; speakerState 1 idle, 3 playing.
    qint16 micState = 1;
    qint16 speakerState = 1;
    qint16 audioQuality = 0;
    // Holding recorded sound for local playback is the send queue's hold flag.
    bool messageRecording = false;
    bool hasAudio = false;
    bool captureReady = false;
    bool captureRunning = false;
    // This installation's identity at the servers; -1 until the pal server assigns one.
    qint32 userNumber = -1;
    bool OpenFormatDialogAfterMessage = false;
    // Low 16 bits of the last received frame's length, kept on the calling side only.
    quint16 lastVideoPayload = 0;

    // The first port the directory logins carry.
    int advertisedPortBase() const { return OutsidePortBase > 0 ? OutsidePortBase : ListenPortBase; }
    bool soundIdle() const { return micState == 1 && speakerState == 1; }
};
