#pragma once

#include <QString>

// The incoming-call prompt's timing, without the window: one tick() per second while
// the prompt is open. The window applies the returned actions.
class CallPrompt
{
public:
    enum class Action {
        None,
        // Show text in the prompt's message.
        Countdown,
        // Send the refusal on connection 1 if it is still connected, log
        // autoDeclineLogLine(), close the prompt.
        AutoDecline,
        // The auto-accepted prompt has been shown long enough: clear AutoAnswerOnce and
        // close the prompt.
        CloseAutoAccepted,
    };

    struct Tick
    {
        Action action = Action::None;
        QString text; // Countdown only
    };

    static constexpr int AutoAcceptedShowTicks = 5;

    // The prompt's question, and its text when it has accepted by itself, in the user's language.
    static QString askText();
    static QString autoAcceptingText();

    // A prompt opened with AutoAccept or AutoAnswerOnce set accepts at once.
    CallPrompt(bool autoAccept, bool autoAnswerOnce, qint16 autoDecTime);

    // True: the window sends the acceptance before showing itself, shows
    // autoAcceptingText() and hides the yes and no buttons. Such a prompt only closes.
    bool autoAccepted() const { return m_autoAccepted; }

    Tick tick();

    // Seconds since the prompt opened; stops at the 16-bit maximum instead of wrapping.
    qint16 promptTicks() const { return m_ticks; }
    // Closing actions come once; later ticks give None.
    bool isFinished() const { return m_finished; }

    static QString countdownText(int secondsLeft);
    static QString autoDeclineLogLine(const QString &name, const QString &location);

private:
    bool m_autoAccepted;
    qint16 m_autoDecTime;
    qint16 m_ticks = 0;
    bool m_finished = false;
};
