#pragma once

#include "core/CallStates.h"

#include <QString>

// The progress window's timing, without the window: one tick() every 250 ms while it is
// open. Each tick says what the window changes.
class ConnectProgress
{
public:
    struct Output
    {
        QString statusText; // null: leave the progress text as it is
        bool attemptOver = false; // the cancel button reads okCaption()
        QString secondsText; // null: unchanged (only every fourth tick sets it)
        int frame = -1; // animation frame to show, -1: unchanged
        bool close = false; // close the window; nothing else of this tick applies
    };

    static constexpr int TickMs = 250;
    static constexpr int TicksPerSecond = 4;
    static constexpr int FrameCount = 8;

    // The button's captions and the seconds panel's text once the attempt is over, in the
    // user's language.
    static QString cancelCaption();
    static QString okCaption();
    static QString idleText();

    // The window's state when it opens.
    static QString initialSecondsText() { return secondsText(0); }

    // mediaConnected: the media connection is up, so the attempt has become a call.
    Output tick(ConnectState state, bool mediaConnected);

    int elapsedSeconds() const { return m_seconds; }
    int frame() const { return m_frame; }

    // Empty for states without a text (0 and unknown values).
    static QString progressText(ConnectState state);
    // Refused, busy, no answer, e-mail not found: the window waits for the user's OK.
    static bool endsAttempt(ConnectState state);
    static QString secondsText(int seconds);

private:
    int m_quarter = 0; // 0 to 3
    int m_seconds = 0;
    int m_frame = 0; // 0 to 7
};
