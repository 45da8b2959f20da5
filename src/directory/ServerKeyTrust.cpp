#include "directory/ServerKeyTrust.h"

void ServerKeyTrust::connectionBlocked(const QString &text, bool canAccept)
{
    if (!canAccept || m_questionOpen)
        return;
    m_questionOpen = true;
    emit question(text);
}

void ServerKeyTrust::answer(bool accept)
{
    m_questionOpen = false;
    if (accept)
        emit accepted();
}
