#include "ui/SecurityIndicators.h"

#include "secure/CallSecurity.h"
#include "ui/SecurityBadge.h"
#include "ui/SecurityNote.h"

SecurityIndicators::SecurityIndicators(CallSecurity &call, SecurityBadge &badge, QObject *parent)
    : QObject(parent)
    , m_call(call)
    , m_badge(badge)
{
    connect(&m_call, &CallSecurity::changed, this, &SecurityIndicators::refresh);
    connect(&m_badge, &SecurityBadge::verifyRequested, &m_call, &CallSecurity::markVerified);
}

void SecurityIndicators::setInCall(bool inCall)
{
    m_inCall = inCall;
    refresh();
}

void SecurityIndicators::follow(SecurityNote *note)
{
    m_note = note;
    refresh();
}

void SecurityIndicators::refresh()
{
    const CallSecurity::Status &s = m_call.status();
    const QString standing = CallSecurity::standingText(s.standing);
    if (m_note) {
        switch (s.kind) {
        case CallSecurity::Status::Kind::None:
            m_note->showNote(QString(), false);
            break;
        case CallSecurity::Status::Kind::Plain:
            m_note->showNote(CallSecurity::plainText(s), s.fellBack || s.encryptedBefore);
            break;
        case CallSecurity::Status::Kind::Encrypted:
            m_note->showNote(s.keyChanged() ? CallSecurity::keyChangedText(s.who)
                                            : tr("Encrypted call, %1").arg(standing),
                             s.keyChanged());
            break;
        }
    }
    if (!m_inCall || s.kind == CallSecurity::Status::Kind::None) {
        m_badge.clear();
        return;
    }
    if (s.encrypted())
        m_badge.showEncrypted(s.shortCode, standing, !s.verified(), s.keyChanged());
    else
        m_badge.showPlain(CallSecurity::plainText(s));
}
