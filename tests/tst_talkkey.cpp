// The talk key that works while another window has the focus: on an X display of the
// test's own, typed through XTest, and through a desktop portal on a bus of the test's own.

#include "support/Windows.h"
#include "desktop/GlobalTalkKey.h"
#include "desktop/PortalTalkKey.h"
#include "desktop/X11TalkKey.h"
#include "support/DesktopKit.h"

#include <xcb/xcb.h>
#include <xcb/xtest.h>

#include <cstdlib>

namespace {

// The test's own hands on the display: another program's focused window and a keyboard.
struct Keyboard
{
    xcb_connection_t *connection = nullptr;
    xcb_window_t window = 0;

    explicit Keyboard(const QString &display)
    {
        connection = xcb_connect(display.toLocal8Bit().constData(), nullptr);
        if (xcb_connection_has_error(connection))
            qFatal("cannot reach the test display");
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        window = xcb_generate_id(connection);
        const uint32_t events = XCB_EVENT_MASK_KEY_PRESS | XCB_EVENT_MASK_KEY_RELEASE;
        xcb_create_window(connection, XCB_COPY_FROM_PARENT, window, screen->root, 0, 0, 300, 200, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, XCB_CW_EVENT_MASK, &events);
        xcb_map_window(connection, window);
        xcb_set_input_focus(connection, XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
        std::free(xcb_get_input_focus_reply(connection, xcb_get_input_focus(connection), nullptr));
    }
    ~Keyboard() { xcb_disconnect(connection); }

    xcb_keycode_t keycode(xcb_keysym_t keysym)
    {
        const xcb_setup_t *setup = xcb_get_setup(connection);
        const int count = setup->max_keycode - setup->min_keycode + 1;
        auto *map = xcb_get_keyboard_mapping_reply(
            connection, xcb_get_keyboard_mapping(connection, setup->min_keycode, uint8_t(count)), nullptr);
        xcb_keycode_t found = 0;
        const xcb_keysym_t *syms = xcb_get_keyboard_mapping_keysyms(map);
        for (int k = 0; k < count && !found; ++k) {
            if (syms[k * map->keysyms_per_keycode] == keysym)
                found = xcb_keycode_t(setup->min_keycode + k);
        }
        std::free(map);
        return found;
    }
    void key(xcb_keysym_t keysym, bool down)
    {
        xcb_test_fake_input(connection, down ? XCB_KEY_PRESS : XCB_KEY_RELEASE, keycode(keysym), XCB_CURRENT_TIME,
                            XCB_NONE, 0, 0, 0);
        xcb_flush(connection);
    }
    // Another program holding the key for itself.
    bool grab(xcb_keysym_t keysym)
    {
        xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(connection)).data;
        const xcb_void_cookie_t c = xcb_grab_key_checked(connection, 0, screen->root, 0, keycode(keysym),
                                                         XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
        xcb_generic_error_t *error = xcb_request_check(connection, c);
        std::free(error);
        return !error;
    }
};

constexpr xcb_keysym_t F11 = 0xffc8;
constexpr xcb_keysym_t F12 = 0xffc9;

} // namespace

class TestTalkKey : public QObject
{
    Q_OBJECT

    DesktopKit::VirtualDisplay m_display;

private slots:
    void initTestCase()
    {
        QVERIFY2(m_display.start(), "Xvfb did not start");
        // The program finds the display where an X11 session says it is; Qt itself draws
        // off screen.
        qputenv("DISPLAY", m_display.name.toLocal8Bit());
        qunsetenv("WAYLAND_DISPLAY");
        qunsetenv("XDG_SESSION_TYPE");
        qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    }

    void theKeyTalksWhileAnotherWindowHasTheFocus()
    {
        RunningProgram program(QStringLiteral("Ann"), {.windows = true});
        QVERIFY(program->audioControl().hasAudio());

        // Chosen in the options, the key is grabbed at once and the options say how to use it.
        program.main()->action(QStringLiteral("Menu_ViewOptions"))->trigger();
        auto *options = program.main()->findChild<frmOptions *>();
        QVERIFY(options);
        auto *choice = control<QComboBox>(options, "cboTalkKey");
        auto *status = control<QLabel>(options, "lblTalkKey");
        QVERIFY(choice->isEnabled());
        QCOMPARE(choice->currentText(), QStringLiteral("None"));
        QCOMPARE(status->text(), QStringLiteral("No talk key: hold the Talk button to talk."));
        const int f12 = choice->findText(QStringLiteral("F12"));
        QVERIFY(f12 > 0);
        choice->setCurrentIndex(f12);
        emit choice->activated(f12);
        QCOMPARE(status->text(), QStringLiteral("Hold F12 to talk, whichever window has the focus."));
        QCOMPARE(choice->currentText(), QStringLiteral("F12"));

        Keyboard keyboard(m_display.name);
        QVERIFY(!program->audioControl().isMicOpen());
        // Twice, to see the key was not let go after the first time.
        for (const char *round : {"first", "second"}) {
            keyboard.key(F12, true);
            QTRY_VERIFY2(program->audioControl().isMicOpen(), round);
            keyboard.key(F12, false);
            QTRY_VERIFY2(!program->audioControl().isMicOpen(), round);
        }

        // The key chosen is kept in the desktop choices' file.
        QVERIFY(QString::fromUtf8(TestSupport::readBytes(program.folder + QStringLiteral("/desktop.ini")))
                    .contains(QStringLiteral("TalkKey=F12")));

        // None lets the key go: the other program gets it again.
        choice->setCurrentIndex(0);
        emit choice->activated(0);
        QVERIFY(keyboard.grab(F12));
    }

    void aKeyHeldByAnotherProgramIsRefusedWithTheReason()
    {
        Keyboard other(m_display.name);
        QVERIFY(other.grab(F11));
        GlobalTalkKey key(std::make_unique<X11TalkKey>(m_display.name));
        QCOMPARE(key.status(), GlobalTalkKey::Status::Off);
        key.choose(QStringLiteral("F11"));
        QCOMPARE(key.status(), GlobalTalkKey::Status::Refused);
        QCOMPARE(key.statusText(), QStringLiteral("F11 is taken by another program."));
        // A free key works from the same backend afterwards.
        key.choose(QStringLiteral("F12"));
        QCOMPARE(key.status(), GlobalTalkKey::Status::Active);
        QSignalSpy pressed(&key, &GlobalTalkKey::pressed);
        QSignalSpy released(&key, &GlobalTalkKey::released);
        other.key(F12, true);
        QVERIFY(pressed.wait(5000));
        other.key(F12, false);
        QVERIFY(released.wait(5000));
        // A name this build does not offer counts as none.
        key.choose(QStringLiteral("F99"));
        QCOMPARE(key.status(), GlobalTalkKey::Status::Off);
        QVERIFY(key.chosen().isEmpty());
    }

    void noDisplayNoPortalMeansNoKey()
    {
        GlobalTalkKey key(std::make_unique<X11TalkKey>(QStringLiteral(":999")));
        QVERIFY(!key.isAvailable());
        QCOMPARE(key.statusText(),
                 QStringLiteral("This desktop offers no key that works while another window has the focus."));
        key.choose(QStringLiteral("F12"));
        QCOMPARE(key.status(), GlobalTalkKey::Status::Unavailable);
    }

    void thePortalBindsTheKeyAndItsSignalsTalk()
    {
        DesktopKit::PrivateBus bus;
        QVERIFY(bus.start());
        DesktopKit::FakePortal portal(bus.connect(QStringLiteral("portal")));
        QVERIFY(portal.registerOnBus());

        GlobalTalkKey key(std::make_unique<PortalTalkKey>(bus.connect(QStringLiteral("zelmo"))));
        // A key chosen before the portal has answered is asked for once it has.
        key.choose(QStringLiteral("F9"));
        QTRY_COMPARE(key.status(), GlobalTalkKey::Status::Active);
        QCOMPARE(portal.preferredTriggers, QStringList{QStringLiteral("F9")});
        QCOMPARE(key.statusText(), QStringLiteral("Hold Press F9 to talk, whichever window has the focus."));

        QSignalSpy pressed(&key, &GlobalTalkKey::pressed);
        QSignalSpy released(&key, &GlobalTalkKey::released);
        portal.press(true);
        QVERIFY(pressed.wait(5000));
        QVERIFY(key.isHeld());
        portal.press(false);
        QVERIFY(released.wait(5000));

        // Another key (the menu key, one of the few offered beside the function keys): a new
        // session; the old one is closed.
        const QString first = portal.sessions.value(0);
        key.choose(QStringLiteral("Menu"));
        QTRY_COMPARE(key.status(), GlobalTalkKey::Status::Active);
        QTRY_VERIFY(portal.closedSessions.contains(first));
        QCOMPARE(portal.sessions.size(), 2);
        // The old session's signals no longer talk; the bus keeps their order.
        portal.press(true, 0);
        portal.press(false, 0);
        portal.press(true, 1);
        QTRY_COMPARE(pressed.count(), 2);
        QCOMPARE(released.count(), 1);
    }

    void thePortalRefusingTheKeyIsSaidInTheOptions()
    {
        DesktopKit::PrivateBus bus;
        QVERIFY(bus.start());
        DesktopKit::FakePortal portal(bus.connect(QStringLiteral("portal")));
        QVERIFY(portal.registerOnBus());
        portal.bindAnswer = 1;
        GlobalTalkKey key(std::make_unique<PortalTalkKey>(bus.connect(QStringLiteral("zelmo"))));
        QTRY_COMPARE(key.status(), GlobalTalkKey::Status::Off);
        key.choose(QStringLiteral("Pause"));
        QCOMPARE(key.status(), GlobalTalkKey::Status::Pending);
        QTRY_COMPARE(key.status(), GlobalTalkKey::Status::Refused);
        QCOMPARE(key.statusText(), QStringLiteral("The talk key was turned down in the desktop's dialog."));
    }

    void aBusWithoutThePortalOffersNoKey()
    {
        DesktopKit::PrivateBus bus;
        QVERIFY(bus.start());
        GlobalTalkKey key(std::make_unique<PortalTalkKey>(bus.connect(QStringLiteral("zelmo"))));
        QCOMPARE(key.status(), GlobalTalkKey::Status::Checking);
        QTRY_COMPARE(key.status(), GlobalTalkKey::Status::Unavailable);
    }
};

QTEST_MAIN(TestTalkKey)
#include "tst_talkkey.moc"
