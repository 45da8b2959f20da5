#pragma once

#include "desktop/HotKey.h"

#include <QObject>
#include <QString>

// One way of hearing a key while another program has the focus: a key grab on an X11
// display, or the desktop portal's global shortcuts on a Wayland session. The talk key
// asks a backend to bind a key and hears its presses and releases.
class TalkKeyBackend : public QObject
{
    Q_OBJECT

public:
    enum class State {
        // This desktop offers nothing this backend can use.
        Unavailable,
        // Finding out whether it does.
        Checking,
        // Ready; no key bound.
        Idle,
        // A key was asked for; the desktop has not answered yet.
        Pending,
        // The key is bound: pressed() and released() follow it.
        Bound,
        // The key could not be had; detail() says why.
        Refused,
    };

    explicit TalkKeyBackend(State initial, QObject *parent = nullptr);

    State state() const { return m_state; }
    // Bound: how the desktop names the key; Refused: why it was refused.
    QString detail() const { return m_detail; }
    // Binds the key instead of the one bound before; nullptr unbinds. A key asked for
    // while the backend is still Checking is bound once it is ready.
    virtual void bind(const HotKey *key) = 0;
    bool isHeld() const { return m_held; }
    // The key counts as let go, whatever the desktop says next: a key given up while held
    // ends the talking it started.
    void release() { setHeld(false); }

signals:
    void stateChanged();
    void pressed();
    void released();

protected:
    // A press or release once per change, however often the desktop repeats it.
    void setHeld(bool held);
    // A key no longer bound is no longer held: the talking stops with it.
    void setState(State state, const QString &detail = QString());

private:
    State m_state;
    QString m_detail;
    bool m_held = false;
};
