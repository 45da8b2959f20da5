#pragma once

#include <QObject>
#include <QPointer>

class CallSecurity;
class SecurityBadge;
class SecurityNote;

// Shows the call's encryption where the call is: the main window's badge during the call,
// the prompt of an offered call, the caller's progress window. The badge's button marks
// the peer as verified.
class SecurityIndicators : public QObject
{
    Q_OBJECT

public:
    SecurityIndicators(CallSecurity &call, SecurityBadge &badge, QObject *parent = nullptr);

    void setInCall(bool inCall);
    // The note of the window that shows the call at hand (a prompt or a progress window).
    void follow(SecurityNote *note);

private:
    void refresh();

    CallSecurity &m_call;
    SecurityBadge &m_badge;
    QPointer<SecurityNote> m_note;
    bool m_inCall = false;
};
