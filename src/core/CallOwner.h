#pragma once

#include "core/CallStates.h"

#include <QString>

// The call's one owner (CallControl) as the media channel sees it. The media channel reads
// how the call stands and reports its own turns of the call; only the owner writes the
// call's state.
class CallOwner
{
public:
    virtual const CallStatus &status() const = 0;
    // The callee's acceptance went out to this address on control connection 1, and that
    // connection is really up: only then may the caller open the media and chat channels.
    virtual bool isAcceptedCaller(const QString &remoteAddress) const = 0;

    // The media connection is being taken, is up, or has gone.
    virtual void mediaStateChanged(CallState state) = 0;
    // The calling side's media connection could not be made.
    virtual void mediaConnectFailed() = 0;
    // The call's media is over: what the peer said it can do ends with it.
    virtual void mediaEnded() = 0;
    // The length of a picture received on the calling side.
    virtual void videoReceived(int payloadBytes) = 0;

protected:
    ~CallOwner() = default;
};
