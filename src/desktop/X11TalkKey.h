#pragma once

#include "desktop/TalkKeyBackend.h"

#include <QList>

#include <xcb/xcb.h>

class QSocketNotifier;

// The talk key on an X11 display: a passive grab of the key on every root window, over a
// display connection of its own (so it works whatever Qt draws on). While the key is held
// the X server sends its presses and releases here, whichever window has the focus.
// The keyboard's own repeat is turned off for this connection, so holding the key gives
// one press and one release.
class X11TalkKey : public TalkKeyBackend
{
    Q_OBJECT

public:
    // The display's name as in DISPLAY; an empty name or a display that cannot be opened
    // leaves the backend Unavailable.
    explicit X11TalkKey(const QString &display, QObject *parent = nullptr);
    ~X11TalkKey() override;

    void bind(const HotKey *key) override;

private:
    void grab();
    void ungrab();
    void readEvents();
    // A key release that is only the keyboard's repeat, when the server could not be
    // asked to leave those out: the repeat's press follows at once with the same time.
    bool isRepeat(quint8 keycode, quint32 time);
    QList<quint8> keycodesFor(quint32 keysym);
    quint16 numLockMask();

    xcb_connection_t *m_connection = nullptr;
    QList<quint32> m_roots;
    QSocketNotifier *m_notifier = nullptr;
    const HotKey *m_key = nullptr;
    QList<quint8> m_keycodes;
    // The modifier combinations grabbed: the lock keys must not stop the key from talking.
    QList<quint16> m_modifiers;
    bool m_detectableRepeat = false;
    // An event read ahead by isRepeat(), handled next.
    xcb_generic_event_t *m_pushedBack = nullptr;
};
