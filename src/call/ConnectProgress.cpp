#include "call/ConnectProgress.h"

#include <QCoreApplication>

ConnectProgress::Output ConnectProgress::tick(ConnectState state, bool mediaConnected)
{
    Output out;
    out.statusText = progressText(state);
    if (state == ConnectState::Canceled) {
        out.close = true;
        return out;
    }
    const bool over = endsAttempt(state);
    out.attemptOver = over;

    m_quarter = (m_quarter + 1) % TicksPerSecond;
    if (m_quarter == 0) {
        if (m_seconds < 0x7fffffff)
            ++m_seconds;
        out.secondsText = over ? idleText() : secondsText(m_seconds);
    }

    // Once the attempt is over the animation runs on to frame 0 and rests there.
    if (!(over && m_frame == 0)) {
        m_frame = (m_frame + 1) % FrameCount;
        out.frame = m_frame;
    }

    out.close = mediaConnected;
    return out;
}

QString ConnectProgress::cancelCaption()
{
    return QCoreApplication::translate("ConnectProgress", "Cancel");
}

QString ConnectProgress::okCaption()
{
    return QCoreApplication::translate("ConnectProgress", "OK");
}

QString ConnectProgress::idleText()
{
    return QCoreApplication::translate("ConnectProgress", "IDLE");
}

QString ConnectProgress::progressText(ConnectState state)
{
    switch (state) {
    case ConnectState::Establishing:
        return QCoreApplication::translate("ConnectProgress", "Establishing Connection...");
    case ConnectState::Requesting:
        return QCoreApplication::translate("ConnectProgress", "Connection Made...Requesting");
    case ConnectState::Refused:
        return QCoreApplication::translate("ConnectProgress", "Connection Response is NO");
    case ConnectState::Accepted:
        return QCoreApplication::translate("ConnectProgress", "Connection Response is YES");
    case ConnectState::Busy:
        return QCoreApplication::translate("ConnectProgress", "Busy");
    case ConnectState::Canceled:
        return QCoreApplication::translate("ConnectProgress", "Connection Canceled");
    case ConnectState::DidNotAnswer:
        return QCoreApplication::translate("ConnectProgress", "Did Not Answer");
    case ConnectState::CouldNotConnect:
        return QCoreApplication::translate("ConnectProgress", "could not connect");
    case ConnectState::LookingUpEmail:
        return QCoreApplication::translate("ConnectProgress", "Looking up Email Address");
    case ConnectState::EmailNotFound:
        return QCoreApplication::translate("ConnectProgress", "Email address not found");
    case ConnectState::NoAttempt:
        break;
    }
    return QString();
}

bool ConnectProgress::endsAttempt(ConnectState state)
{
    return state == ConnectState::Refused || state == ConnectState::Busy
           || state == ConnectState::DidNotAnswer || state == ConnectState::EmailNotFound
           || state == ConnectState::CouldNotConnect;
}

QString ConnectProgress::secondsText(int seconds)
{
    return QString::number(seconds) + QStringLiteral(" sec");
}
