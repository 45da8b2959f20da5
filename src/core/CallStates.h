#pragma once

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
    DidNotAnswer = 8, // connection failed or dropped
    LookingUpEmail = 9,
    EmailNotFound = 10,
};

// The media connection.
enum class CallState : qint16 {
    Idle = 0,
    Accepting = 1,
    InCall = 2,
};
