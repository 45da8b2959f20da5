#include "desktop/X11TalkKey.h"

#include <QSocketNotifier>

#include <xcb/xcb.h>
// The XKB header names a field "explicit", a C++ keyword.
#define explicit explicit_
#include <xcb/xkb.h>
#undef explicit

#include <cstdlib>
#include <memory>

namespace {

constexpr quint32 NumLockKeysym = 0xff7f;
constexpr int BadAccess = 10;

struct FreeDeleter
{
    void operator()(void *p) const { std::free(p); }
};
template<typename T>
using Reply = std::unique_ptr<T, FreeDeleter>;

} // namespace

X11TalkKey::X11TalkKey(const QString &display, QObject *parent)
    : TalkKeyBackend(State::Unavailable, parent)
{
    if (display.isEmpty())
        return;
    const QByteArray name = display.toLocal8Bit();
    m_connection = xcb_connect(name.constData(), nullptr);
    if (xcb_connection_has_error(m_connection)) {
        xcb_disconnect(m_connection);
        m_connection = nullptr;
        return;
    }
    for (xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(m_connection)); it.rem;
         xcb_screen_next(&it))
        m_roots.append(it.data->root);

    // Ask the server to send no release for a key the keyboard repeats, only the repeated
    // presses; without XKB, isRepeat() recognises the repeat's release and press pairs.
    const xcb_query_extension_reply_t *xkb = xcb_get_extension_data(m_connection, &xcb_xkb_id);
    if (xkb && xkb->present) {
        Reply<xcb_xkb_use_extension_reply_t> use(xcb_xkb_use_extension_reply(
            m_connection, xcb_xkb_use_extension(m_connection, XCB_XKB_MAJOR_VERSION, XCB_XKB_MINOR_VERSION),
            nullptr));
        if (use && use->supported) {
            Reply<xcb_xkb_per_client_flags_reply_t> flags(xcb_xkb_per_client_flags_reply(
                m_connection,
                xcb_xkb_per_client_flags(m_connection, XCB_XKB_ID_USE_CORE_KBD,
                                         XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT,
                                         XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT, 0, 0, 0),
                nullptr));
            m_detectableRepeat = flags && (flags->value & XCB_XKB_PER_CLIENT_FLAG_DETECTABLE_AUTO_REPEAT);
        }
    }

    m_notifier = new QSocketNotifier(xcb_get_file_descriptor(m_connection), QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &X11TalkKey::readEvents);
    setState(State::Idle);
}

X11TalkKey::~X11TalkKey()
{
    if (!m_connection)
        return;
    std::free(m_pushedBack);
    ungrab();
    xcb_flush(m_connection);
    xcb_disconnect(m_connection);
}

void X11TalkKey::bind(const HotKey *key)
{
    if (!m_connection || state() == State::Unavailable)
        return;
    ungrab();
    setHeld(false);
    m_key = key;
    if (!key) {
        setState(State::Idle);
        return;
    }
    grab();
}

void X11TalkKey::grab()
{
    m_keycodes = keycodesFor(m_key->keysym);
    if (m_keycodes.isEmpty()) {
        setState(State::Refused, tr("No key of this keyboard gives %1.").arg(m_key->shownLabel()));
        return;
    }
    const quint16 numLock = numLockMask();
    m_modifiers = {0, XCB_MOD_MASK_LOCK};
    if (numLock) {
        m_modifiers.append(numLock);
        m_modifiers.append(numLock | XCB_MOD_MASK_LOCK);
    }
    QList<xcb_void_cookie_t> cookies;
    for (quint32 root : std::as_const(m_roots)) {
        for (quint8 keycode : std::as_const(m_keycodes)) {
            for (quint16 modifiers : std::as_const(m_modifiers)) {
                cookies.append(xcb_grab_key_checked(m_connection, 0, root, modifiers, keycode, XCB_GRAB_MODE_ASYNC,
                                                    XCB_GRAB_MODE_ASYNC));
            }
        }
    }
    bool taken = false;
    bool failed = false;
    for (xcb_void_cookie_t cookie : std::as_const(cookies)) {
        if (Reply<xcb_generic_error_t> error{xcb_request_check(m_connection, cookie)}) {
            taken = taken || error->error_code == BadAccess;
            failed = true;
        }
    }
    if (failed) {
        ungrab();
        setState(State::Refused, taken ? tr("%1 is taken by another program.").arg(m_key->shownLabel())
                                       : tr("The display did not give %1.").arg(m_key->shownLabel()));
        return;
    }
    setState(State::Bound, m_key->shownLabel());
    // Events may already wait in the connection's queue, where the socket says nothing.
    readEvents();
}

void X11TalkKey::ungrab()
{
    if (!m_connection)
        return;
    for (quint32 root : std::as_const(m_roots)) {
        for (quint8 keycode : std::as_const(m_keycodes)) {
            for (quint16 modifiers : std::as_const(m_modifiers))
                xcb_ungrab_key(m_connection, keycode, root, modifiers);
        }
    }
    xcb_flush(m_connection);
    m_keycodes.clear();
    m_modifiers.clear();
}

QList<quint8> X11TalkKey::keycodesFor(quint32 keysym)
{
    const xcb_setup_t *setup = xcb_get_setup(m_connection);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    Reply<xcb_get_keyboard_mapping_reply_t> map(xcb_get_keyboard_mapping_reply(
        m_connection, xcb_get_keyboard_mapping(m_connection, setup->min_keycode, quint8(count)), nullptr));
    QList<quint8> plain;
    QList<quint8> shifted;
    if (!map || map->keysyms_per_keycode == 0)
        return plain;
    const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map.get());
    const int perKey = map->keysyms_per_keycode;
    const int length = xcb_get_keyboard_mapping_keysyms_length(map.get());
    for (int k = 0; k < count && (k + 1) * perKey <= length; ++k) {
        for (int level = 0; level < perKey; ++level) {
            if (syms[k * perKey + level] != keysym)
                continue;
            (level == 0 ? plain : shifted).append(quint8(first + k));
            break;
        }
    }
    // A key that gives the symbol without Shift is the one a user means.
    return plain.isEmpty() ? shifted : plain;
}

quint16 X11TalkKey::numLockMask()
{
    const QList<quint8> numLockKeys = keycodesFor(NumLockKeysym);
    Reply<xcb_get_modifier_mapping_reply_t> map(
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (!map || numLockKeys.isEmpty())
        return 0;
    const xcb_keycode_t *codes = xcb_get_modifier_mapping_keycodes(map.get());
    const int perModifier = map->keycodes_per_modifier;
    for (int modifier = 0; modifier < 8; ++modifier) {
        for (int i = 0; i < perModifier; ++i) {
            if (numLockKeys.contains(codes[modifier * perModifier + i]))
                return quint16(1u << modifier);
        }
    }
    return 0;
}

void X11TalkKey::readEvents()
{
    if (!m_connection)
        return;
    while (xcb_generic_event_t *raw = m_pushedBack ? m_pushedBack : xcb_poll_for_event(m_connection)) {
        m_pushedBack = nullptr;
        Reply<xcb_generic_event_t> event(raw);
        switch (event->response_type & 0x7f) {
        case XCB_KEY_PRESS: {
            const auto *press = reinterpret_cast<xcb_key_press_event_t *>(event.get());
            if (state() == State::Bound && m_keycodes.contains(press->detail))
                setHeld(true);
            break;
        }
        case XCB_KEY_RELEASE: {
            const auto *release = reinterpret_cast<xcb_key_release_event_t *>(event.get());
            if (state() == State::Bound && m_keycodes.contains(release->detail)
                && !isRepeat(release->detail, release->time))
                setHeld(false);
            break;
        }
        case XCB_MAPPING_NOTIFY:
            // Another keyboard layout: the key may sit on another keycode now.
            if (state() == State::Bound && m_key) {
                ungrab();
                setHeld(false);
                grab();
            }
            break;
        default:
            break;
        }
    }
    if (xcb_connection_has_error(m_connection)) {
        setHeld(false);
        m_notifier->setEnabled(false);
        setState(State::Unavailable, tr("The connection to the display was lost."));
    }
}

bool X11TalkKey::isRepeat(quint8 keycode, quint32 time)
{
    if (m_detectableRepeat)
        return false;
    xcb_generic_event_t *next = xcb_poll_for_queued_event(m_connection);
    if (!next)
        return false;
    if ((next->response_type & 0x7f) == XCB_KEY_PRESS) {
        const auto *press = reinterpret_cast<xcb_key_press_event_t *>(next);
        if (press->detail == keycode && press->time == time) {
            std::free(next);
            return true;
        }
    }
    // Anything else is handled next, as it came.
    m_pushedBack = next;
    return false;
}


