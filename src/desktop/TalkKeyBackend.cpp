#include "desktop/TalkKeyBackend.h"

TalkKeyBackend::TalkKeyBackend(State initial, QObject *parent)
    : QObject(parent)
    , m_state(initial)
{
}

void TalkKeyBackend::setHeld(bool held)
{
    if (held == m_held)
        return;
    m_held = held;
    if (held)
        emit pressed();
    else
        emit released();
}

void TalkKeyBackend::setState(State state, const QString &detail)
{
    m_state = state;
    m_detail = detail;
    if (state != State::Bound)
        setHeld(false);
    emit stateChanged();
}
