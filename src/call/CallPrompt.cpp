#include "call/CallPrompt.h"

#include <QCoreApplication>

#include <limits>

CallPrompt::CallPrompt(bool autoAccept, bool autoAnswerOnce, qint16 autoDecTime)
    : m_autoAccepted(autoAccept || autoAnswerOnce)
    , m_autoDecTime(autoDecTime)
{
}

CallPrompt::Tick CallPrompt::tick()
{
    if (m_ticks < std::numeric_limits<qint16>::max())
        ++m_ticks;
    if (m_finished)
        return {};

    if (m_autoAccepted) {
        // An accepted call is never declined afterwards, whatever AutoDecTime says.
        if (m_ticks >= AutoAcceptedShowTicks) {
            m_finished = true;
            return {Action::CloseAutoAccepted, QString()};
        }
        return {};
    }

    // ">=" rather than "=": a decline time of 0 or less declines at once instead of
    // leaving the caller waiting forever.
    if (m_ticks >= m_autoDecTime) {
        m_finished = true;
        return {Action::AutoDecline, QString()};
    }
    const int secondsLeft = int(m_autoDecTime) - int(m_ticks);
    if (secondsLeft < 10)
        return {Action::Countdown, countdownText(secondsLeft)};
    return {};
}

QString CallPrompt::askText()
{
    return QCoreApplication::translate("CallPrompt", "Would you like to accept this call?");
}

QString CallPrompt::autoAcceptingText()
{
    return QCoreApplication::translate("CallPrompt", "Auto Accepting this Call");
}

QString CallPrompt::countdownText(int secondsLeft)
{
    return QCoreApplication::translate("CallPrompt", "Auto-Declining Call in %1 Seconds.").arg(secondsLeft);
}

QString CallPrompt::autoDeclineLogLine(const QString &name, const QString &location)
{
    return QStringLiteral("Auto-Declined call from: ") + name + QStringLiteral(", ") + location;
}
