#pragma once

#include <QString>
#include <QtGlobal>

// The caller's attempt, from the first dial to its outcome. The value stays at its last
// state after the attempt; 7 is not used.
enum class ConnectState : qint16 {
    NoAttempt = 0,
    Establishing = 1, // control connection being opened
    Requesting = 2, // control connection up, request sent
    Refused = 3,
    Accepted = 4,
    Busy = 5,
    Canceled = 6, // cancelled by the user, or the address was invalid
    DidNotAnswer = 8, // connection dropped without an answer
    LookingUpEmail = 9,
    EmailNotFound = 10,
    CouldNotConnect = 11, // the connection could not be made (nobody there, turned away)
};

// The media connection.
enum class CallState : qint16 {
    Idle = 0,
    Accepting = 1,
    InCall = 2,
};

// The call of the moment, as the channels that carry it (control, media and chat) know it.
// CallControl alone writes it; the media channel reports its turns there (CallOwner).
struct CallStatus
{
    // The caller's attempt and the media connection.
    ::ConnectState ConnectState = ::ConnectState::NoAttempt;
    CallState callState = CallState::Idle;
    QString PeerName;
    // The callee's acceptance went out on control connection 1 and that connection is
    // still up: only then may the caller open the media and chat channels.
    bool callAcceptedOnControl = false;
    bool PeerIsV25 = false;
    bool RealTimeChat = false;
    // Low 16 bits of the last received frame's length, kept on the calling side only.
    quint16 lastVideoPayload = 0;
};
